// The content settings loader's matching: which stored item sets which setting. Platform-free; the main form's
// half (uContentLoader_win.cpp) supplies the target that writes the files, takes the mutex and fills the form.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/uExeAdder.h"
#include "uContentKeys.h"

// A flag item's value; none when the item has no data byte, which counts as the item being absent.
std::optional<bool> ItemFlag(const TItemType& item);
// An integer item's value; none when the item has fewer than four data bytes.
std::optional<int32_t> ItemInteger(const TItemType& item);
// All of the item's bytes as text.
std::string ItemText(const TItemType& item);

// The index an indexed item name carries: the name contains key and everything after its first occurrence is
// a decimal number (digits only) that fits 32 bits. None otherwise.
std::optional<int32_t> IndexAfterKey(std::string_view name, std::string_view key);

// The file name part of a stored additional-file name, any folders (and a drive) in front dropped; empty when
// that part is not a safe file name, so that nothing the content names can reach outside its folder.
std::string ExtraFileBareName(std::string_view storedName);

// True for an identifier in the shape the authoring tool gives: 32 hexadecimal digits in the 8-4-4-4-12
// grouping, with or without braces. Only such a name is trusted to mean a folder left by an earlier run.
bool LooksLikeGuid(std::string_view text);

// An item as the loader meets it, in store order: its name at once, its data only when a key asks for it. Values
// (flags, integers, texts, the dialog's picture) are read whole, up to MaxInflatedSize; the movie and the
// additional files go from the store to their files in pieces, so that memory does not grow with them.
class TContentItem {
public:
    TContentItem(TStoreReader& store, const TStoreRecord& record) : FStore(store), FRecord(record) {}
    ~TContentItem() { std::free(FWhole.Data); }
    TContentItem(const TContentItem&) = delete;
    TContentItem& operator=(const TContentItem&) = delete;

    const std::string& Name() const { return FRecord.Name; }
    const TStoreRecord& Record() const { return FRecord; }
    // The data, read on first use and kept with the item. Raises as TStoreReader::ReadData for damaged data.
    const TItemType& Whole();
    // Writes the data to out in pieces; returns the byte count. Raises as TStoreReader::CopyData.
    int64_t WriteTo(TStream& out) const { return FStore.CopyData(FRecord, out); }

private:
    TStoreReader& FStore;
    TStoreRecord FRecord;
    TItemType FWhole;
    bool FRead = false;
};

// Where the effects of the items go, each at once and in store order, so a later item sees what an earlier one
// did. The identifier reaches the target only when it is a safe file name (otherwise as empty).
class TContentTarget {
public:
    virtual ~TContentTarget() = default;
    virtual void SetContentGuid(const std::string& guid) = 0;
    virtual void SetLoopMovie(bool value) = 0;
    virtual void SetAllowRightClick(bool value) = 0;
    virtual void SetMovieMenu(bool value) = 0;
    virtual void SetMovieQuality(int32_t value) = 0;
    virtual void SetExtraFlashVars(const std::string& value) = 0;
    virtual void SetMovieBackgroundColor(int32_t value) = 0;
    virtual void SetMovieFileName(const std::string& value) = 0;
    virtual void WriteMovie(const TContentItem& item) = 0;
    virtual void SetThrottlePreview(bool value) = 0;
    virtual void SetRequiredFlashVersion(const std::string& value) = 0;
    virtual void SetTerminateOnMouseMove(bool value) = 0;
    virtual void SetTerminateOnKeyDown(bool value) = 0;
    virtual void SetShowMouseCursor(bool value) = 0;
    virtual void SetMonitorLayout(uint8_t value) = 0;
    // Shown where no usable Flash control is installed; the text is already cut to MaxNoPlayerTextSize.
    virtual void SetNoPlayerText(const std::string& value) = 0;
    virtual void SetNoPlayerLink(const std::string& value) = 0;
    // After the last item: one additional file, by its bare (safe) file name.
    virtual void WriteExtraFile(const std::string& bareName, const TContentItem& item) = 0;
    virtual void SetMovieScale(const std::string& value) = 0;
};

// One entry of the additional-file table.
struct TExtraFile {
    std::string Name;                 // as stored, folders and all
    std::optional<TStoreRecord> Data; // the data item, once one came (it may be empty); read when written
};

// One load: the table of keys applied to the items, the scale choice and the additional-file table. The store
// must outlive the reader's use of it: the additional files are read from it at the end.
class TContentReader {
public:
    explicit TContentReader(TContentTarget& target) : FTarget(target) {}

    // A further fixed key (exact, case-sensitive), tried after the built-in ones in the order added. The
    // settings dialog adds its entries here; apply gets the matching item.
    void AddKey(std::string_view enciphered, std::function<void(TContentItem&)> apply);

    // Tests the item's name against every key in order and applies each that matches.
    void ApplyItem(TContentItem& item);
    // Every item of the store, in store order. Raises what the store raises for a damaged record, and for the
    // data of an item a key takes; the effects of the items before it stay.
    void ApplyItems(TStoreReader& store);
    // Hands every additional file with a name and data to the target, in index order.
    void WriteExtraFiles();
    // The scale text and the required version's default; after the additional files (and the dialog).
    void Finish();

    bool ScaleChoice() const { return FScaleChoice; }
    int32_t ExtraFileCount() const { return FExtraFileCount; }
    // Only the entries that were given a name or data; the others are empty.
    const std::map<int32_t, TExtraFile>& ExtraFiles() const { return FExtraFiles; }

private:
    struct TExtraKey {
        std::string_view Enciphered;
        std::function<void(TContentItem&)> Apply;
    };
    void ApplyKey(const TContentKeyInfo& key, TContentItem& item);
    TExtraFile* ExtraFileAt(const TContentItem& item, std::string_view key);

    TContentTarget& FTarget;
    TStoreReader* FStore = nullptr;
    std::vector<TExtraKey> FExtraKeys;
    bool FScaleChoice = false;
    std::string FRequiredFlashVersion;
    // Kept sparse: a count is the content's word, and a huge one must not allocate.
    int32_t FExtraFileCount = 0;
    std::map<int32_t, TExtraFile> FExtraFiles;
};

#ifdef _WIN32
class TfrmMain;
// Where a file the content names goes: beside the movie in the run's own folder, under its bare file name. Empty
// when no movie was written or the name is not safe.
std::string ContentFilePath(const TfrmMain& form, std::string_view storedName);
#endif
