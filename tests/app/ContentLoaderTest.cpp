// The loader's matching of stored items against its keys, with hand-built item lists and a target that records
// every effect in order.
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/uContentLoader.h"
#include "support/uSysUtils.h"

namespace {

struct TStoreEntry {
    std::string Name;
    std::vector<uint8_t> Data;
};

std::vector<uint8_t> T(const std::string& text) {
    return {text.begin(), text.end()};
}

// The items as a store in memory, made by the store writer: every item compressed, an empty one too.
class TTestStore {
public:
    explicit TTestStore(const std::vector<TStoreEntry>& entries) {
        std::vector<TStoreItem> items;
        for (const TStoreEntry& entry : entries)
            items.push_back({entry.Name, entry.Data, true});
        const std::vector<uint8_t> bytes = BuildStore(items, 0x3C, 0);
        FBytes.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        FReader.emplace(FBytes);
    }
    TStoreReader& Reader() { return *FReader; }

private:
    TMemoryStream FBytes;
    std::optional<TStoreReader> FReader;
};

class TRecordingTarget : public TContentTarget {
public:
    std::vector<std::string> Log;

    void SetContentGuid(const std::string& v) override { Add("ContentGuid=" + v); }
    void SetLoopMovie(bool v) override { Add("LoopMovie=", v); }
    void SetAllowRightClick(bool v) override { Add("AllowRightClick=", v); }
    void SetMovieMenu(bool v) override { Add("MovieMenu=", v); }
    void SetMovieQuality(int32_t v) override { Add("MovieQuality=", v); }
    void SetExtraFlashVars(const std::string& v) override { Add("ExtraFlashVars=" + v); }
    void SetMovieBackgroundColor(int32_t v) override { Add("MovieBackgroundColor=", v); }
    void SetMovieFileName(const std::string& v) override { Add("MovieFileName=" + v); }
    void WriteMovie(const TContentItem& item) override { Add("Movie " + Bytes(item)); }
    void SetThrottlePreview(bool v) override { Add("ThrottlePreview=", v); }
    void SetRequiredFlashVersion(const std::string& v) override { Add("RequiredFlashVersion=" + v); }
    void SetTerminateOnMouseMove(bool v) override { Add("TerminateOnMouseMove=", v); }
    void SetTerminateOnKeyDown(bool v) override { Add("TerminateOnKeyDown=", v); }
    void SetShowMouseCursor(bool v) override { Add("ShowMouseCursor=", v); }
    void SetMonitorLayout(uint8_t v) override { Add("MonitorLayout=", v); }
    void SetNoPlayerText(const std::string& v) override { Add("NoPlayerText=" + v); }
    void SetNoPlayerLink(const std::string& v) override { Add("NoPlayerLink=" + v); }
    void WriteExtraFile(const std::string& name, const TContentItem& item) override {
        Add("Extra " + name + " " + Bytes(item));
    }
    void SetMovieScale(const std::string& v) override { Add("MovieScale=" + v); }

private:
    void Add(const std::string& text) { Log.push_back(text); }
    void Add(const std::string& text, int64_t value) { Log.push_back(text + std::to_string(value)); }
    // The files are streamed from the store.
    static std::string Bytes(const TContentItem& item) {
        TMemoryStream out;
        item.WriteTo(out);
        return out.Length() == 0
                   ? "(empty)"
                   : std::string(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Length()));
    }
};

// Applies the items and writes the additional files; the finishing step has a test of its own.
std::vector<std::string> Load(const std::vector<TStoreEntry>& entries) {
    TTestStore store(entries);
    TRecordingTarget target;
    TContentReader reader(target);
    reader.ApplyItems(store.Reader());
    reader.WriteExtraFiles();
    return target.Log;
}

using TLog = std::vector<std::string>;

TEST(ContentKeys, EveryKeyDecodesToItsName) {
    const std::vector<std::string> expected = {
        "Loop",          "StretchMovie",    "AllowRightClick",      "Menu",
        "Quality",       "FlashVars",       "BackgroundColor",      "MovieFileName",
        "Movie",         "ThrottlePreview", "RequiredFlashVersion", "ExtraFileCount",
        "ExtraFileName", "ExtraFileData",   "EndOnMouse",           "EndOnKey",
        "ShowCursor",    "MonitorLayout",   "NoPlayerText",         "NoPlayerLink"};
    ASSERT_EQ(ContentKeyTable().size(), expected.size());
    std::set<std::string> seen;
    for (size_t i = 0; i < expected.size(); ++i) {
        const TContentKeyInfo& key = ContentKeyTable()[i];
        EXPECT_EQ(static_cast<size_t>(key.Role), i);
        EXPECT_EQ(DecodeString(key.Enciphered), expected[i]);
        // The digits must not give the name away.
        EXPECT_EQ(std::string(key.Enciphered).find(expected[i]), std::string::npos);
        seen.insert(expected[i]);
    }
    EXPECT_EQ(seen.size(), expected.size());
    EXPECT_EQ(DecodeString(content_keys::ScaleStretched), "exactfit");
    EXPECT_EQ(DecodeString(content_keys::ScaleDefault), "showall");
}

// An exact key that contained an indexed one would also feed the additional-file table.
TEST(ContentKeys, NoKeyContainsAnIndexedKey) {
    for (const TContentKeyInfo& indexed : ContentKeyTable()) {
        if (!indexed.Indexed) continue;
        for (const TContentKeyInfo& other : ContentKeyTable()) {
            if (other.Role == indexed.Role) continue;
            EXPECT_EQ(DecodeString(other.Enciphered).find(DecodeString(indexed.Enciphered)), std::string::npos);
        }
    }
}

struct TLoadCase {
    const char* Name;
    std::vector<TStoreEntry> Items;
    TLog Expected;
};

TEST(ContentReader, MatchingTable) {
    const std::vector<TLoadCase> cases = {
        {"flags read the first byte",
         {{"Loop", {1}}, {"AllowRightClick", {0}}, {"Menu", {0x80, 0}}, {"ThrottlePreview", {2}}},
         {"LoopMovie=1", "AllowRightClick=0", "MovieMenu=1", "ThrottlePreview=1"}},
        {"screensaver flags",
         {{"EndOnMouse", {0}}, {"EndOnKey", {0}}, {"ShowCursor", {1}}},
         {"TerminateOnMouseMove=0", "TerminateOnKeyDown=0", "ShowMouseCursor=1"}},
        {"integers little-endian and signed, extra bytes ignored",
         {{"Quality", {3, 0, 0, 0}}, {"BackgroundColor", {0xFF, 0xFF, 0xFF, 0xFF, 9}}},
         {"MovieQuality=3", "MovieBackgroundColor=-1"}},
        {"the no-player text is cut to what is shown; its link is kept whole",
         {{"NoPlayerText", T("Needs a player & more")},
          {"NoPlayerText", T(std::string(MaxNoPlayerTextSize + 7, 'x'))},
          {"NoPlayerLink", T("https://example.com/" + std::string(600, 'p'))}},
         {"NoPlayerText=Needs a player & more", "NoPlayerText=" + std::string(MaxNoPlayerTextSize, 'x'),
          "NoPlayerLink=https://example.com/" + std::string(600, 'p')}},
        {"monitor layout takes the low byte", {{"MonitorLayout", {0x02, 0x01, 0, 0}}}, {"MonitorLayout=2"}},
        {"short flag and integer data count as absent",
         {{"Loop", {}}, {"Quality", {1, 2, 3}}, {"MonitorLayout", {1}}, {"ExtraFileCount", {1, 0}}},
         {}},
        {"texts take every byte, an empty one too",
         {{"FlashVars", T("a=1&b=2")}, {"RequiredFlashVersion", {}}, {"MovieFileName", T(std::string("m\0x.swf", 7))}},
         {"ExtraFlashVars=a=1&b=2", "RequiredFlashVersion=", std::string("MovieFileName=m\0x.swf", 21)}},
        {"names are compared exactly and case-sensitively",
         {{"loop", {1}}, {"LOOP", {1}}, {"Loop ", {1}}, {"xLoop", {1}}, {"Movies", T("x")}, {"guid", T("g")}},
         {}},
        {"the identifier, and the order of effects",
         {{"Movie", T("early")}, {"GUID", T("id-1")}, {"MovieFileName", T("a.swf")}, {"Movie", T("late")}},
         {"Movie early", "ContentGuid=id-1", "MovieFileName=a.swf", "Movie late"}},
        {"an identifier that could reach outside its folder counts as none",
         {{"GUID", T("..\\x")}, {"GUID", T("Global\\x")}, {"GUID", T("CON")}, {"GUID", T("a/b")}, {"GUID", {}}},
         {"ContentGuid=", "ContentGuid=", "ContentGuid=", "ContentGuid=", "ContentGuid="}},
        {"count, then names and data for 0 to 2; index 3 is past the count",
         {{"ExtraFileCount", {3, 0, 0, 0}},
          {"ExtraFileName0", T("a.txt")},
          {"ExtraFileData0", T("A")},
          {"ExtraFileName2", T("c.txt")},
          {"ExtraFileData2", T("C")},
          {"ExtraFileData1", T("B")},
          {"ExtraFileName1", T("b.txt")},
          {"ExtraFileName3", T("d.txt")},
          {"ExtraFileData3", T("D")}},
         {"Extra a.txt A", "Extra b.txt B", "Extra c.txt C"}},
        {"items before the count are ignored",
         {{"ExtraFileName0", T("a.txt")}, {"ExtraFileCount", {1, 0, 0, 0}}, {"ExtraFileData0", T("A")}},
         {}},
        {"indexes: digits only, after the first occurrence of the key",
         {{"ExtraFileCount", {9, 0, 0, 0}},
          {"ExtraFileName", T("none.txt")},
          {"ExtraFileName-1", T("neg.txt")},
          {"ExtraFileName+1", T("plus.txt")},
          {"ExtraFileName1a", T("alpha.txt")},
          {"ExtraFileName 1", T("blank.txt")},
          {"ExtraFileName99999999999", T("big.txt")},
          {"xExtraFileName4", T("inside.txt")},
          {"ExtraFileData004", T("4")},
          {"ExtraFileName5", T("dup.txt")},
          {"ExtraFileName5", T("last.txt")},
          {"ExtraFileData5", T("5")}},
         {"Extra inside.txt 4", "Extra last.txt 5"}},
        {"a lower count drops the entries beyond it; a negative one drops them all",
         {{"ExtraFileCount", {3, 0, 0, 0}},
          {"ExtraFileName0", T("a.txt")},
          {"ExtraFileData0", T("A")},
          {"ExtraFileName2", T("c.txt")},
          {"ExtraFileData2", T("C")},
          {"ExtraFileCount", {1, 0, 0, 0}},
          {"ExtraFileCount", {3, 0, 0, 0}},
          {"ExtraFileName1", T("b.txt")},
          {"ExtraFileData1", T("B")}},
         {"Extra a.txt A", "Extra b.txt B"}},
        {"negative count",
         {{"ExtraFileCount", {2, 0, 0, 0}},
          {"ExtraFileName0", T("a.txt")},
          {"ExtraFileData0", T("A")},
          {"ExtraFileCount", {0xFE, 0xFF, 0xFF, 0xFF}},
          {"ExtraFileName1", T("b.txt")},
          {"ExtraFileData1", T("B")}},
         {}},
        {"a huge count costs nothing and its last index is usable",
         {{"ExtraFileCount", {0xFF, 0xFF, 0xFF, 0x7F}},
          {"ExtraFileName2147483646", T("far.txt")},
          {"ExtraFileData2147483646", T("F")}},
         {"Extra far.txt F"}},
        {"folders are dropped; unsafe names, and entries without name or data, are not written",
         {{"ExtraFileCount", {7, 0, 0, 0}},
          {"ExtraFileName0", T("sub\\dir/deep.txt")},
          {"ExtraFileData0", T("D")},
          {"ExtraFileName1", T("..\\..\\evil.exe")},
          {"ExtraFileData1", T("E")},
          {"ExtraFileName2", T("CON.txt")},
          {"ExtraFileData2", T("C")},
          {"ExtraFileName3", T("sub\\")},
          {"ExtraFileData3", T("S")},
          {"ExtraFileName4", T("nodata.txt")},
          {"ExtraFileData5", T("noname")},
          {"ExtraFileName6", T("C:empty.txt")},
          {"ExtraFileData6", {}}},
         {"Extra deep.txt D", "Extra evil.exe E", "Extra empty.txt (empty)"}},
    };
    for (const TLoadCase& c : cases)
        EXPECT_EQ(Load(c.Items), c.Expected) << c.Name;
}

TEST(ContentReader, FinishChoosesScaleAndVersionDefault) {
    struct TCase {
        std::vector<TStoreEntry> Items;
        TLog Expected;
    };
    const std::vector<TCase> cases = {
        {{}, {"MovieScale=showall", "RequiredFlashVersion=0.0.0.0"}},
        {{{"StretchMovie", {1}}}, {"MovieScale=exactfit", "RequiredFlashVersion=0.0.0.0"}},
        {{{"StretchMovie", {1}}, {"StretchMovie", {0}}}, {"MovieScale=showall", "RequiredFlashVersion=0.0.0.0"}},
        {{{"StretchMovie", {1}}, {"StretchMovie", {}}}, {"MovieScale=exactfit", "RequiredFlashVersion=0.0.0.0"}},
        {{{"RequiredFlashVersion", T("9.0.115")}}, {"RequiredFlashVersion=9.0.115", "MovieScale=showall"}},
        {{{"RequiredFlashVersion", T("9")}, {"RequiredFlashVersion", {}}},
         {"RequiredFlashVersion=9", "RequiredFlashVersion=", "MovieScale=showall", "RequiredFlashVersion=0.0.0.0"}},
    };
    for (const TCase& c : cases) {
        TTestStore store(c.Items);
        TRecordingTarget target;
        TContentReader reader(target);
        reader.ApplyItems(store.Reader());
        reader.Finish();
        EXPECT_EQ(target.Log, c.Expected) << c.Items.size();
    }
}

TEST(ContentReader, AddedKeysAreExactAndComeAfterTheBuiltInOnes) {
    static constexpr auto kCaption = EncipherConstant<"DialogCaption">();
    TTestStore store({{"DialogCaption", T("Hello")}, {"DialogCaption2", T("no")}, {"dialogcaption", T("no")}});
    TRecordingTarget target;
    TContentReader reader(target);
    std::vector<std::string> seen;
    reader.AddKey(kCaption, [&](TContentItem& item) { seen.push_back(ItemText(item.Whole())); });
    reader.ApplyItems(store.Reader());
    EXPECT_EQ(seen, std::vector<std::string>{"Hello"});
    EXPECT_TRUE(target.Log.empty());
}

// Items are read as they are met and only when a key takes them: damage in an item no key takes goes unnoticed,
// and damage in one a key takes stops the load after the items before it have taken effect.
TEST(ContentReader, DataIsReadOnlyWhenAKeyTakesIt) {
    const auto damagedStore = [](const std::string& damagedName) {
        std::vector<uint8_t> bytes = BuildStore(
            {{"Loop", {1}, false}, {damagedName, std::vector<uint8_t>(100, 'x'), true}, {"Menu", {1}, false}}, 0, 0);
        // The second payload's deflate data: 13 bytes of header, 5 and 4 of the first name, then the size.
        const size_t payload = 13 + 4 + 4 + 1 + 4 + 1 + 4 + damagedName.size() + 1 + 4;
        bytes[payload + 2] ^= 0xFF;
        return bytes;
    };
    for (const auto& [name, expected] : {std::pair<std::string, TLog>{"Unknown", {"LoopMovie=1", "MovieMenu=1"}},
                                         {"FlashVars", {"LoopMovie=1"}},
                                         {"Movie", {"LoopMovie=1"}}}) {
        const std::vector<uint8_t> bytes = damagedStore(name);
        TMemoryStream stream;
        stream.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
        TStoreReader store(stream);
        TRecordingTarget target;
        TContentReader reader(target);
        if (expected.size() == 2)
            reader.ApplyItems(store);
        else
            EXPECT_THROW(reader.ApplyItems(store), EZDecompressionError) << name;
        EXPECT_EQ(target.Log, expected) << name;
    }
}

TEST(ContentLoaderHelpers, LooksLikeGuid) {
    EXPECT_TRUE(LooksLikeGuid("9EA00A9F-18F3-4842-82F5-6677E57A79FA"));
    EXPECT_TRUE(LooksLikeGuid("{9ea00a9f-18f3-4842-82f5-6677e57a79fa}"));
    for (const char* text : {"", "Low", "9EA00A9F-18F3-4842-82F5-6677E57A79F", "9EA00A9F-18F3-4842-82F5-6677E57A79FAB",
                             "9EA00A9F18F3-4842-82F5-6677E57A79FA0", "9EA00A9G-18F3-4842-82F5-6677E57A79FA",
                             "{9EA00A9F-18F3-4842-82F5-6677E57A79FA", "(9EA00A9F-18F3-4842-82F5-6677E57A79FA)"})
        EXPECT_FALSE(LooksLikeGuid(text)) << text;
}

} // namespace
