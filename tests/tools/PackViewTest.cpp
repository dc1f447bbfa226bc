#include <algorithm>
#include <filesystem>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <zlib.h>

#include "PEBuilder.h"
#include "PackTestSupport.h"
#include "store/uExeAdder.h"
#include "uPackCommands.h"
#include "uPackView.h"

namespace {

// Store bytes laid out field by field, without the store writer.
struct HandStore {
    std::vector<uint8_t> Body; // from NameKey to the end of the last record
    int32_t Count = 0;
    uint8_t Key;
    explicit HandStore(int32_t nameKey) : Key(static_cast<uint8_t>(nameKey)) { I32(Body, nameKey), I32(Body, 0); }
    static void I32(std::vector<uint8_t>& b, int64_t v, int bytes = 4) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
    }
    HandStore& Record(const std::string& name, uint8_t compressed, const std::vector<uint8_t>& payload) {
        I32(Body, static_cast<int32_t>(name.size()));
        for (char c : name)
            Body.push_back(static_cast<uint8_t>(c) ^ Key);
        Body.push_back(compressed);
        I32(Body, static_cast<int32_t>(payload.size()));
        Body.insert(Body.end(), payload.begin(), payload.end());
        Body[4] = static_cast<uint8_t>(++Count);
        return *this;
    }
    // The image, TotalSize, TrailerFlag, the body, BodyLength, "PLWS", then extra bytes nobody accounted for.
    std::vector<uint8_t> File(const std::vector<uint8_t>& image, size_t extra = 0) const {
        std::vector<uint8_t> file = image;
        I32(file, static_cast<int64_t>(image.size() + 5 + Body.size() + 12));
        file.push_back(1);
        file.insert(file.end(), Body.begin(), Body.end());
        I32(file, static_cast<int64_t>(Body.size()), 8);
        file.insert(file.end(), {'P', 'L', 'W', 'S'});
        file.insert(file.end(), extra, 0xEE);
        return file;
    }
};

std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> Zlib(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::vector<uint8_t> out(size);
    compress2(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 6);
    out.resize(size);
    return out;
}

const std::vector<uint8_t> Movie = Zlib("FWS and then the movie");
const std::string OddName = "a\"b\\c\x01\x7F\xFF~ ";
HandStore ThreeItems() {
    return std::move(HandStore(0x7744335A).Record("Movie", 1, Movie).Record("", 0, {}).Record(OddName, 0, {9, 8}));
}

nlohmann::json Json(const std::string& text) {
    return nlohmann::json::parse(text, nullptr, false);
}

class Pack : public ::testing::Test {
protected:
    std::string Write(const std::vector<uint8_t>& bytes) {
        std::string name = FDir.File("f" + std::to_string(FCount++) + ".scr");
        WriteFileBytes(name, bytes);
        return name;
    }
    static TRun Run(const std::vector<std::string>& args) { return RunTool(args); }
    TTempDir FDir;
    int FCount = 0;
};

} // namespace

TEST_F(Pack, InfoTellsWhereTheStoreIs) {
    const std::vector<uint8_t> image = BuildSimplePEImage(); // ends at 0x600 = 1536
    const std::vector<uint8_t> written =
        BuildStore({{"GUID", Bytes("{x}")}, {"flag", {1}, false}}, 0x33, static_cast<int64_t>(image.size()));
    std::vector<uint8_t> viaWriter = image;
    viaWriter.insert(viaWriter.end(), written.begin(), written.end());
    viaWriter.insert(viaWriter.end(), 3, 0);
    const HandStore hand = ThreeItems();
    const size_t storeSize = 5 + hand.Body.size() + 12;
    const std::string n = std::to_string(1536 + storeSize);
    const std::string m = std::to_string(1536 + storeSize + 40);
    const std::string bare = std::to_string(storeSize);
    const std::string w = std::to_string(viaWriter.size());
    struct {
        std::vector<uint8_t> Bytes;
        std::string Json;
    } rows[] = {
        {hand.File(image),
         "{\"file_size\": " + n +
             ", \"image_end\": 1536, \"store\": \"primary\", \"tail\": 0, \"items\": 3, \"arch\": \"x86\"}\n"},
        {hand.File(image, 40),
         "{\"file_size\": " + m +
             ", \"image_end\": 1536, \"store\": \"fallback\", \"tail\": 40, \"items\": 3, \"arch\": \"x86\"}\n"},
        {hand.File({}),
         "{\"file_size\": " + bare +
             ", \"image_end\": null, \"store\": \"primary\", \"tail\": 0, \"items\": 3, \"arch\": null}\n"},
        {viaWriter,
         "{\"file_size\": " + w +
             ", \"image_end\": 1536, \"store\": \"fallback\", \"tail\": 3, \"items\": 2, \"arch\": \"x86\"}\n"},
        {image, "{\"file_size\": 1536, \"image_end\": 1536, \"store\": \"none\", \"tail\": 0, \"items\": 0, \"arch\": "
                "\"x86\"}\n"},
    };
    for (const auto& row : rows) {
        const std::string file = Write(row.Bytes);
        TRun run = Run({"info", "--json", file});
        EXPECT_EQ(run.Code, 0) << run.Err;
        EXPECT_EQ(Json(run.Out), Json(row.Json)) << run.Out;
        EXPECT_EQ(std::count(run.Out.begin(), run.Out.end(), '\n'), 1) << "one line";
        EXPECT_EQ(run.Err, "");
    }
    TRun text = Run({"info", Write(hand.File({}))});
    EXPECT_EQ(text.Out.substr(0, text.Out.find("store:")),
              "file size: " + bare + "\nimage end: not an executable image\n");
    EXPECT_NE(Run({"info", Write(image)}).Out.find("\nstore: none\ntail: 0\nitems: 0\n"), std::string::npos);
}

TEST_F(Pack, JsonStringEscapesEveryByteOutsidePrintableAscii) {
    const std::pair<std::string, std::string> rows[] = {
        {"", "\"\""},
        {"Movie", "\"Movie\""},
        {"\"", "\"\\\"\""},
        {"\\", "\"\\\\\""},
        {" ~", "\" ~\""},
        {"\x1F", "\"\\u001f\""},
        {"\x7F", "\"\\u007f\""},
        {"\x80\xFF", "\"\\u0080\\u00ff\""},
        {std::string(1, '\0'), "\"\\u0000\""},
        {"a/b\n", "\"a/b\\u000a\""},
    };
    for (const auto& [name, json] : rows) {
        const std::string text = JsonString(name);
        EXPECT_EQ(Json(text), Json(json)) << text;
        EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; })) << text;
    }
}

TEST_F(Pack, ListGivesTheItemsInStoreOrder) {
    const std::string expected =
        "[\n"
        "  {\"index\": 0, \"name\": \"Movie\", \"compressed\": true, \"stored_size\": " +
        std::to_string(Movie.size()) +
        ", \"size\": 22},\n"
        "  {\"index\": 1, \"name\": \"\", \"compressed\": false, \"stored_size\": 0, \"size\": 0},\n"
        "  {\"index\": 2, \"name\": \"a\\\"b\\\\c\\u0001\\u007f\\u00ff~ \", \"compressed\": false, "
        "\"stored_size\": 2, \"size\": 2}\n"
        "]\n";
    for (size_t extra : {0u, 1u, 300u}) {
        TRun run = Run({"list", "--json", Write(ThreeItems().File(BuildSimplePEImage(), extra))});
        EXPECT_EQ(run.Code, 0) << run.Err;
        EXPECT_EQ(Json(run.Out), Json(expected)) << "extra " << extra;
    }
    EXPECT_EQ(Json(Run({"list", "--json", Write(BuildSimplePEImage())}).Out), Json("[]"));
    TRun text = Run({"list", Write(ThreeItems().File({}))});
    EXPECT_NE(text.Out.find("a\"b\\\\c\\x01\\x7f\\xff~ \n"), std::string::npos) << "names never reach a terminal raw";
    EXPECT_EQ(text.Out.find('\x01'), std::string::npos);
}

TEST_F(Pack, ExtractWritesEveryItemByteForByte) {
    const std::vector<uint8_t> big(70000, 0x5A);
    std::vector<uint8_t> file = HandStore(1)
                                    .Record("../../escape", 1, Zlib("inflated text"))
                                    .Record("empty", 1, {})
                                    .Record("big", 0, big)
                                    .File(BuildSimplePEImage(), 9);
    const std::string source = Write(file);
    const std::string dir = FDir.File("out/nested");
    TRun run = Run({"extract", source, dir});
    ASSERT_EQ(run.Code, 0) << run.Err;
    EXPECT_EQ(ReadFileBytes(dir + "/0000.bin"), Bytes("inflated text"));
    EXPECT_EQ(ReadFileBytes(dir + "/0001.bin"), std::vector<uint8_t>{});
    EXPECT_EQ(ReadFileBytes(dir + "/0002.bin"), big);
    std::vector<uint8_t> json = ReadFileBytes(dir + "/items.json");
    EXPECT_EQ(std::string(json.begin(), json.end()), Run({"list", "--json", source}).Out);
    size_t count = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FDir.Path()))
        count += entry.is_regular_file();
    EXPECT_EQ(count, 5u) << "the source, three items and items.json; no file named after an item";
}

TEST_F(Pack, FailuresNameTheFileAndSetTheExitCode) {
    std::vector<uint8_t> corrupt = Zlib(std::string(3000, 'q'));
    for (size_t i = 4; i + 4 < corrupt.size(); ++i)
        corrupt[i] ^= 0x5A;
    std::vector<uint8_t> truncated = Zlib("a text long enough to be cut short");
    truncated.resize(truncated.size() - 5);
    HandStore tooMany(0);
    tooMany.Record("x", 0, {1});
    tooMany.Body[4] = 0xFF; // 255 items claimed, one present
    const std::string missing = FDir.File("missing.scr");
    const std::string occupied = Write({1});
    struct {
        std::vector<std::string> Args;
        int Code;
        std::string Err; // after "mutone-pack: "
    } rows[] = {
        {{"info", missing}, 1, missing + ": no such file\n"},
        {{"list", "--json", missing}, 1, missing + ": no such file\n"},
        {{"info", FDir.Path()}, 1, FDir.Path() + ": is a directory\n"},
        {{"list", Write(Bytes("plain text, no image, no store"))}, 1, FDir.File("f1.scr") + ": Bad Signature\n"},
        {{"list", Write(HandStore(0).Record("m", 1, corrupt).File(BuildSimplePEImage()))},
         1,
         FDir.File("f2.scr") + ": data error\n"},
        {{"extract", Write(HandStore(0).Record("m", 1, truncated).File(BuildSimplePEImage(), 2)), FDir.File("never")},
         1,
         FDir.File("f3.scr") + ": buffer error\n"},
        {{"info", Write(tooMany.File({}))},
         1,
         FDir.File("f4.scr") + ": Damaged content store: 255 items cannot fit in the store\n"},
        {{"extract", Write(ThreeItems().File({})), occupied}, 1, occupied + ": cannot create directory\n"},
    };
    for (const auto& row : rows) {
        TRun run = Run(row.Args);
        EXPECT_EQ(run.Code, row.Code) << row.Args[0];
        EXPECT_EQ(run.Err, "mutone-pack: " + row.Err);
        EXPECT_EQ(run.Out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(FDir.File("never"))) << "a damaged store writes nothing";

    std::filesystem::create_directories(FDir.File("blocked/0001.bin"));
    TRun blocked = Run({"extract", Write(ThreeItems().File({})), FDir.File("blocked")});
    EXPECT_EQ(blocked.Code, 1);
    EXPECT_NE(blocked.Err.find("0001.bin: cannot create file\n"), std::string::npos) << blocked.Err;
}

TEST_F(Pack, UsageErrorsExitWithTwo) {
    const std::string file = Write(BuildSimplePEImage());
    const std::vector<std::string> rows[] = {
        {},
        {"pack"},
        {"info"},
        {"info", file, file},
        {"info", "--xml", file},
        {"extract", file},
        {"list", "--json=1", file},
    };
    for (const auto& args : rows) {
        TRun run = Run(args);
        EXPECT_EQ(run.Code, 2) << ::testing::PrintToString(args);
        EXPECT_EQ(run.Err.rfind("mutone-pack: ", 0), 0u);
        EXPECT_NE(run.Err.find("usage: mutone-pack"), std::string::npos);
    }
    for (const std::vector<std::string>& help : {std::vector<std::string>{"--help"}, {"list", "--help"}}) {
        TRun run = Run(help);
        EXPECT_EQ(run.Code, 0);
        EXPECT_NE(run.Out.find("extract FILE DIR"), std::string::npos);
    }
    EXPECT_EQ(Run({"info", "--", "--help"}).Err, "mutone-pack: --help: no such file\n");
}
