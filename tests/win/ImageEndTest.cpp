// Every shipped executable must end exactly at its image end: the content store is appended there, and the
// reader's fallback path finds it through that offset. The build writes the list of shipped executables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "PEBuilder.h"
#include "TestSupport.h"
#include "store/uPEUtils.h"

namespace {

struct TShippedExe {
    std::string Target;
    std::string Path;
};

std::vector<TShippedExe> ShippedExecutables() {
    std::vector<TShippedExe> list;
    std::ifstream in(ExeDirectory() + "shipped-executables.txt");
    std::string line;
    while (std::getline(in, line)) {
        const size_t bar = line.find('|');
        if (bar != std::string::npos) list.push_back({line.substr(0, bar), line.substr(bar + 1)});
    }
    return list;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
    uint32_t value;
    std::memcpy(&value, bytes.data() + offset, 4);
    return value;
}

uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
    uint16_t value;
    std::memcpy(&value, bytes.data() + offset, 2);
    return value;
}

struct TSectionTableEnd {
    uint16_t SectionCount = 0;
    uint64_t LastInTable = 0; // raw end of the last section in table order, what the store reader uses
    uint64_t Furthest = 0;    // the furthest raw end of any section
};

// A reading of the section table of its own, going by SizeOfOptionalHeader rather than a fixed header size.
TSectionTableEnd ReadSectionTable(const std::vector<uint8_t>& bytes) {
    TSectionTableEnd result;
    const uint32_t lfanew = Le32(bytes, 0x3C);
    if (Le16(bytes, 0) != 0x5A4D || Le32(bytes, lfanew) != 0x00004550) return result;
    result.SectionCount = Le16(bytes, lfanew + 6);
    const size_t table = lfanew + 24 + Le16(bytes, lfanew + 20);
    for (size_t i = 0; i < result.SectionCount; ++i) {
        const size_t header = table + 40 * i;
        const uint64_t end = uint64_t{Le32(bytes, header + 20)} + Le32(bytes, header + 16);
        result.LastInTable = end;
        result.Furthest = std::max(result.Furthest, end);
    }
    return result;
}

TEST(ShippedImages, ListNamesEveryShippedTarget) {
    const std::vector<TShippedExe> list = ShippedExecutables();
    ASSERT_FALSE(list.empty()) << "shipped-executables.txt missing beside the test";
    // The dumper is linked as a shipped executable, so the list can never be empty while the build works.
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [](const TShippedExe& e) { return e.Target == "storedump"; }));
}

void PrintTo(const TShippedExe& exe, std::ostream* out) {
    *out << exe.Path;
}

class ShippedImage : public testing::TestWithParam<TShippedExe> {};

TEST_P(ShippedImage, EndsAtItsImageEnd) {
    const std::vector<uint8_t> bytes = ReadFileBytes(GetParam().Path);
    ASSERT_FALSE(bytes.empty()) << GetParam().Path;

    TPEImage image(GetParam().Path);
    EXPECT_EQ(image.FileSize(), static_cast<int64_t>(bytes.size()));
    EXPECT_EQ(image.GetImageEnd(), bytes.size()) << "bytes behind the last section (symbol or string table?)";

    const TSectionTableEnd table = ReadSectionTable(bytes);
    ASSERT_GT(table.SectionCount, 0) << "not a PE image";
    EXPECT_EQ(table.SectionCount, image.Sections().size());
    EXPECT_EQ(table.LastInTable, image.GetImageEnd());
    EXPECT_EQ(table.Furthest, bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Build, ShippedImage, testing::ValuesIn(ShippedExecutables()),
                         [](const testing::TestParamInfo<TShippedExe>& param) {
                             std::string name;
                             for (char c : param.param.Target)
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

} // namespace
