// Appends stores to copies of a real Windows executable and has that executable read them back from itself.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include <zlib.h>

#include "PEBuilder.h"
#include "TestSupport.h"
#include "store/uExeAdder.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Half noise, half repeated text: several hundred KB that inflate through many output steps.
std::vector<uint8_t> MovieLikeData(size_t size) {
    std::vector<uint8_t> data(size);
    uint32_t state = 12345;
    const std::string phrase = "FWS frame label ";
    for (size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        data[i] = (i / 4096) % 2 ? static_cast<uint8_t>(phrase[i % phrase.size()]) : static_cast<uint8_t>(state >> 24);
    }
    return data;
}

const std::vector<TStoreItem>& SampleItems() {
    static const std::vector<TStoreItem> items = {
        {"movie.swf", MovieLikeData(300 * 1024), true},
        {"", Bytes("raw bytes under an empty name"), false},
        {"LoopMovie", {1}, false},
        {"empty raw", {}, false},
        {"empty deflated", {}, true}, // a real zlib stream that inflates to nothing
        {"caf\xE9 \x80\xFF", Bytes("name bytes above 0x7F"), true},
        {"tab\tand \"quote\"\\", {0x2A, 0, 0, 0}, false},
    };
    return items;
}

// Written out here rather than shared with the dumper, so that an escaping fault there shows up as a mismatch.
std::string ExpectedName(const std::string& name) {
    std::string out;
    for (const char byte : name) {
        const auto c = static_cast<unsigned char>(byte);
        char hex[5];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') ? std::string(1, static_cast<char>(c)) : hex;
    }
    return out;
}

std::string ExpectedListing(const std::vector<TStoreItem>& items) {
    std::string out = "items " + std::to_string(items.size()) + "\n";
    for (size_t i = 0; i < items.size(); ++i) {
        const TStoreItem& item = items[i];
        const uLong crc = crc32(0, item.Data.data(), static_cast<uInt>(item.Data.size()));
        char line[64];
        std::snprintf(line, sizeof line, "\" compressed=%d size=%u crc32=%08lx\n", item.Compress ? 1 : 0,
                      static_cast<unsigned>(item.Data.size()), static_cast<unsigned long>(crc));
        out += "item " + std::to_string(i) + " name=\"" + ExpectedName(item.Name) + line;
    }
    return out;
}

std::vector<uint8_t> TailBytes() {
    std::vector<uint8_t> tail(777);
    for (size_t i = 0; i < tail.size(); ++i)
        tail[i] = static_cast<uint8_t>(i * 7 + 3);
    return tail;
}

struct TRoundTripCase {
    const char* Name;
    bool AppendStore;
    bool ClearTrailerFlag;
    bool AppendTail;
    bool ExpectItems; // otherwise an empty list
};

// Names the row in test names, which otherwise carry its bytes (and a pointer that changes from run to run).
void PrintTo(const TRoundTripCase& row, std::ostream* out) {
    *out << row.Name;
}

class StoreRoundTrip : public testing::TestWithParam<TRoundTripCase> {};

TEST_P(StoreRoundTrip, DumperReportsWhatWasWritten) {
    const TRoundTripCase& row = GetParam();
    const std::vector<uint8_t> image = ReadFileBytes(ExeDirectory() + "storedump.exe");
    ASSERT_GT(image.size(), 1024u);

    std::vector<uint8_t> file = image;
    if (row.AppendStore) {
        std::vector<uint8_t> store = BuildStore(SampleItems(), 0x5A17C3A5, static_cast<int64_t>(image.size()));
        if (row.ClearTrailerFlag) store[4] = 0;
        file.insert(file.end(), store.begin(), store.end());
    }
    if (row.AppendTail) {
        const std::vector<uint8_t> tail = TailBytes();
        file.insert(file.end(), tail.begin(), tail.end());
    }
    TTempDir dir;
    const std::string exe = dir.File("dump copy.exe");
    WriteFileBytes(exe, file);

    const TProcessResult result = RunAndCapture(Quoted(exe));
    EXPECT_EQ(result.ExitCode, 0u) << result.Output;
    EXPECT_EQ(result.Output, row.ExpectItems ? ExpectedListing(SampleItems()) : "items 0\n");
}

INSTANTIATE_TEST_SUITE_P(Paths, StoreRoundTrip,
                         testing::Values(TRoundTripCase{"StoreAtTheEnd", true, false, false, true},
                                         TRoundTripCase{"TailBehindTheStore", true, false, true, true},
                                         TRoundTripCase{"TailWithTrailerFlagZero", true, true, true, false},
                                         TRoundTripCase{"TrailerFlagIgnoredWithoutTail", true, true, false, true},
                                         TRoundTripCase{"BareExecutable", false, false, false, false},
                                         TRoundTripCase{"BareExecutableWithTail", false, false, true, false}),
                         [](const testing::TestParamInfo<TRoundTripCase>& param) { return param.param.Name; });

TEST(StoreDump, DamagedPayloadIsReportedAsAnError) {
    const std::vector<uint8_t> image = ReadFileBytes(ExeDirectory() + "storedump.exe");
    const std::vector<TStoreItem> items = {{"ok", Bytes("first item"), false}, {"bad", Bytes("deflated"), true}};
    std::vector<uint8_t> store = BuildStore(items, 0, static_cast<int64_t>(image.size()));
    // Header (13 bytes), the first record (4 + 2 + 1 + 4 + 10), the second one's name and flag and size (4 + 3 +
    // 1 + 4); then the zlib header, whose check bits this breaks.
    const size_t payload = 13 + 21 + 12;
    ASSERT_EQ(store[payload], 0x78);
    store[payload + 1] ^= 0x01;
    std::vector<uint8_t> file = image;
    file.insert(file.end(), store.begin(), store.end());
    TTempDir dir;
    const std::string exe = dir.File("damaged.exe");
    WriteFileBytes(exe, file);

    const TProcessResult result = RunAndCapture(Quoted(exe));
    EXPECT_EQ(result.ExitCode, 1u);
    EXPECT_EQ(result.Output.rfind("error ", 0), 0u) << result.Output;
}

} // namespace
