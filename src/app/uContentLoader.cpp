#include "uContentLoader.h"

#include <algorithm>

#include "support/uPathSafety.h"
#include "support/uSysUtils.h"

std::optional<bool> ItemFlag(const TItemType& item) {
    if (item.Size < 1 || !item.Data) return std::nullopt;
    return item.Data[0] != 0;
}

std::optional<int32_t> ItemInteger(const TItemType& item) {
    if (item.Size < 4 || !item.Data) return std::nullopt;
    const uint32_t value = uint32_t{item.Data[0]} | uint32_t{item.Data[1]} << 8 | uint32_t{item.Data[2]} << 16 |
                           uint32_t{item.Data[3]} << 24;
    return static_cast<int32_t>(value);
}

std::string ItemText(const TItemType& item) {
    if (item.Size <= 0 || !item.Data) return {};
    return std::string(reinterpret_cast<const char*>(item.Data), static_cast<size_t>(item.Size));
}

std::optional<int32_t> IndexAfterKey(std::string_view name, std::string_view key) {
    const size_t at = name.find(key);
    if (key.empty() || at == std::string_view::npos) return std::nullopt;
    const std::string_view digits = name.substr(at + key.size());
    if (digits.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > INT32_MAX) return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

std::string ExtraFileBareName(std::string_view storedName) {
    const size_t cut = storedName.find_last_of("\\/:");
    const std::string_view bare = cut == std::string_view::npos ? storedName : storedName.substr(cut + 1);
    return IsSafeFileName(bare) ? std::string(bare) : std::string();
}

bool LooksLikeGuid(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex) return false;
    }
    return true;
}

const TItemType& TContentItem::Whole() {
    if (!FRead) {
        FRead = true;
        FStore.ReadData(FRecord, FWhole);
    }
    return FWhole;
}

void TContentReader::AddKey(std::string_view enciphered, std::function<void(TContentItem&)> apply) {
    FExtraKeys.push_back({enciphered, std::move(apply)});
}

void TContentReader::ApplyItems(TStoreReader& store) {
    FStore = &store;
    for (TStoreRecord record; store.Next(record);) {
        TContentItem item(store, record);
        ApplyItem(item);
    }
}

void TContentReader::ApplyItem(TContentItem& item) {
    if (item.Name() == ContentGuidName) {
        std::string guid = ItemText(item.Whole());
        // The identifier names a folder in the temporary directory and a kernel object: anything that could
        // reach elsewhere (separators, "..", a "Global\" prefix) is treated as no identifier at all.
        if (!IsSafeFileName(guid)) guid.clear();
        FTarget.SetContentGuid(guid);
    }
    for (const TContentKeyInfo& key : ContentKeyTable()) {
        const std::string plain = DecodeString(key.Enciphered);
        if (key.Indexed ? item.Name().find(plain) != std::string::npos : item.Name() == plain) ApplyKey(key, item);
    }
    for (const TExtraKey& key : FExtraKeys)
        if (item.Name() == DecodeString(key.Enciphered) && key.Apply) key.Apply(item);
}

TExtraFile* TContentReader::ExtraFileAt(const TContentItem& item, std::string_view key) {
    const std::optional<int32_t> index = IndexAfterKey(item.Name(), key);
    if (!index || *index >= FExtraFileCount) return nullptr;
    return &FExtraFiles[*index];
}

void TContentReader::ApplyKey(const TContentKeyInfo& key, TContentItem& item) {
    const auto flag = [&](auto set) {
        if (auto value = ItemFlag(item.Whole())) set(*value);
    };
    const auto integer = [&](auto set) {
        if (auto value = ItemInteger(item.Whole())) set(*value);
    };
    const auto text = [&]() { return ItemText(item.Whole()); };
    switch (key.Role) {
    case TContentKey::Loop:
        return flag([&](bool v) { FTarget.SetLoopMovie(v); });
    case TContentKey::StretchMovie:
        return flag([&](bool v) { FScaleChoice = v; });
    case TContentKey::AllowRightClick:
        return flag([&](bool v) { FTarget.SetAllowRightClick(v); });
    case TContentKey::Menu:
        return flag([&](bool v) { FTarget.SetMovieMenu(v); });
    case TContentKey::Quality:
        return integer([&](int32_t v) { FTarget.SetMovieQuality(v); });
    case TContentKey::FlashVars:
        return FTarget.SetExtraFlashVars(text());
    case TContentKey::BackgroundColor:
        return integer([&](int32_t v) { FTarget.SetMovieBackgroundColor(v); });
    case TContentKey::MovieFileName:
        return FTarget.SetMovieFileName(text());
    case TContentKey::Movie:
        return FTarget.WriteMovie(item);
    case TContentKey::ThrottlePreview:
        return flag([&](bool v) { FTarget.SetThrottlePreview(v); });
    case TContentKey::RequiredFlashVersion:
        FRequiredFlashVersion = text();
        return FTarget.SetRequiredFlashVersion(FRequiredFlashVersion);
    case TContentKey::ExtraFileCount:
        return integer([&](int32_t v) {
            FExtraFileCount = std::max(v, 0);
            FExtraFiles.erase(FExtraFiles.lower_bound(FExtraFileCount), FExtraFiles.end());
        });
    case TContentKey::ExtraFileName:
        if (TExtraFile* entry = ExtraFileAt(item, DecodeString(key.Enciphered))) entry->Name = text();
        return;
    case TContentKey::ExtraFileData:
        if (TExtraFile* entry = ExtraFileAt(item, DecodeString(key.Enciphered))) entry->Data = item.Record();
        return;
    case TContentKey::EndOnMouse:
        return flag([&](bool v) { FTarget.SetTerminateOnMouseMove(v); });
    case TContentKey::EndOnKey:
        return flag([&](bool v) { FTarget.SetTerminateOnKeyDown(v); });
    case TContentKey::ShowCursor:
        return flag([&](bool v) { FTarget.SetShowMouseCursor(v); });
    case TContentKey::MonitorLayout:
        return integer([&](int32_t v) { FTarget.SetMonitorLayout(static_cast<uint8_t>(v & 0xFF)); });
    case TContentKey::NoPlayerText:
        return FTarget.SetNoPlayerText(text().substr(0, MaxNoPlayerTextSize));
    case TContentKey::NoPlayerLink:
        return FTarget.SetNoPlayerLink(text());
    }
}

void TContentReader::WriteExtraFiles() {
    for (const auto& [index, entry] : FExtraFiles) {
        if (entry.Name.empty() || !entry.Data || !FStore) continue;
        const std::string bare = ExtraFileBareName(entry.Name);
        if (bare.empty()) continue;
        TContentItem item(*FStore, *entry.Data);
        FTarget.WriteExtraFile(bare, item);
    }
}

void TContentReader::Finish() {
    FTarget.SetMovieScale(DecodeString(FScaleChoice ? std::string_view(content_keys::ScaleStretched)
                                                    : std::string_view(content_keys::ScaleDefault)));
    if (FRequiredFlashVersion.empty()) FTarget.SetRequiredFlashVersion("0.0.0.0");
}
