#include "uManifestWriter.h"

#include <map>
#include <optional>
#include <sstream>

#include "app/uContentLoader.h"
#include "forms/FileStream.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uCodePage.h"
#include "uImageArch.h"
#include "uManifest.h"
#include "uPackError.h"
#include "uPackFiles.h"
#include "uPackView.h"
#include "uProductResources.h"

namespace {

constexpr const char* StarterText =
    R"(# A screensaver made with mutone-pack:   mutone-pack build %MANIFEST% -o "My Screensaver.scr"
# Paths are relative to this file. Texts are UTF-8; the screensaver gets them in code page 932 (Japanese) unless
# code_page names another. A key that is left out (or commented out) keeps the screensaver's own default.

# id = "{0B6D3E0A-6A43-4C8E-9D0F-5A1B2C3D4E5F}"  # names the temporary folder; derived from the content when absent
# code_page = 1252                               # e.g. 1252 Western European, 1251 Cyrillic, 65001 UTF-8

[movie]
file = %MOVIE%              # the SWF movie to play
# name = "clock.swf"        # its file name in the temporary folder (default: the id followed by ".swf")
loop = true                 # default true
# scale = "showall"         # "showall": the whole movie, its proportions kept; "exactfit": stretched over the screen
quality = "high"            # "low", "high", "autolow", "autohigh" (default "high")
# menu = false              # the player's context menu
# right_click = false       # let right clicks reach the movie
# background = "#000000"    # the colour behind the movie
# flashvars = { city = "Kyoto", units = "metric" }  # or a string "city=Kyoto&units=metric"
required_flash_version = "auto"  # "auto": the movie's own SWF version; or a version such as "9.0.115"

[screen]
# monitors = "span"         # "span": one movie over all monitors; "first": on the first only; "each": one on each
# end_on_mouse = true       # moving the mouse ends the screensaver
# end_on_key = true         # a key ends it
# show_cursor = false
# throttle_preview = false  # slow the movie down in the small preview of Display Properties

# [[files]]                 # further files, written beside the movie; one [[files]] table each
# path = "data/words.txt"
# name = "words.txt"        # default: the file's own name

[dialog]                    # the settings dialog
# caption = "My Screensaver"
# copyright = "(c) 2024 Me"
# link = "https://example.com/"
# close_button = true
# picture = "picture.bmp"   # a BMP picture, or an SWF movie

# [no_player]               # where no usable Flash player is installed (default: a black screen, an empty dialog)
# text = "This screensaver needs a Flash player."   # on the black screen and in the dialog
# link = "https://example.com/help"                 # opened from the dialog's text
)";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (size_t at; (at = text.find(from)) != std::string::npos;)
        text.replace(at, from.size(), to);
    return text;
}

// The items the runtime reads, by role; the last of an item wins, as it does in the runtime.
struct TFoundContent {
    const TItemType* Guid = nullptr;
    std::map<TContentKey, const TItemType*> Content;
    std::map<TDialogKey, const TItemType*> Dialog;
    std::map<int32_t, std::pair<const TItemType*, const TItemType*>> Files; // name, data
    std::vector<std::string> Ignored;
};

TFoundContent FindContent(const TItemTypes& items) {
    TFoundContent found;
    for (const TItemType& item : items) {
        bool known = false;
        if (item.Name == ContentGuidName) found.Guid = &item, known = true;
        for (const TContentKeyInfo& key : ContentKeyTable()) {
            const std::string plain = DecodeString(key.Enciphered);
            if (!key.Indexed) {
                if (item.Name == plain) found.Content[key.Role] = &item, known = true;
                continue;
            }
            const auto index = IndexAfterKey(item.Name, plain);
            if (!index) continue;
            auto& entry = found.Files[*index];
            (key.Role == TContentKey::ExtraFileName ? entry.first : entry.second) = &item;
            known = true;
        }
        for (const TDialogKeyInfo& key : DialogKeyTable())
            if (item.Name == DecodeString(key.Enciphered)) found.Dialog[key.Role] = &item, known = true;
        if (!known) found.Ignored.push_back(JsonString(item.Name));
    }
    return found;
}

// The index into ArchNames of the program the file is, or -1.
int32_t ArchOf(const std::string& fileName) {
    try {
        TFileStream file(fileName, TFileMode::fmOpenRead);
        const std::optional<TImageArch> arch = ReadImageArch(file);
        return arch ? ArchIndex(*arch) : -1;
    } catch (const EStreamError&) {
        return -1;
    }
}

// Writes the manifest's lines and the files it names.
class TManifestExtractor {
public:
    TManifestExtractor(const std::string& source, const std::string& dir, int codePage)
        : FSource(source), FDir(dir), FCodePage(codePage) {}

    std::string Run(const TItemTypes& items) {
        FItems = &items;
        const TFoundContent found = FindContent(items);
        FText << "# The content of " << FileNameOf(FSource) << ", extracted by mutone-pack; building this manifest\n"
              << "# with the same runtime gives the same screensaver.\n";
        if (found.Guid) FText << "id = " << Text(*found.Guid, "id") << "\n";
        if (FCodePage != DefaultCodePage) FText << "code_page = " << FCodePage << "\n";
        // Built again without it, a 64-bit screensaver would get the 32-bit runtime.
        if (ArchOf(FSource) == 1) FText << "arch = \"" << ArchNames[1] << "\"\n";
        Product();

        const auto content = [&](TContentKey key) -> const TItemType* {
            auto it = found.Content.find(key);
            return it == found.Content.end() ? nullptr : it->second;
        };
        FText << "\n[movie]\n";
        const TItemType* movieName = content(TContentKey::MovieFileName);
        if (const TItemType* movie = content(TContentKey::Movie)) {
            const TPlace place = Place("", movieName ? ItemText(*movieName) : "", "movie.swf");
            WriteFile(place.Path, *movie);
            FText << "file = " << TomlString(place.Path) << "\n";
        }
        if (movieName) FText << "name = " << Text(*movieName, "movie name") << "\n";
        Flag(content(TContentKey::Loop), "loop");
        if (const TItemType* item = content(TContentKey::StretchMovie); item && ItemFlag(*item))
            FText << "scale = " << (*ItemFlag(*item) ? "\"exactfit\"" : "\"showall\"") << "\n";
        Choice(content(TContentKey::Quality), "quality", QualityNames);
        Flag(content(TContentKey::Menu), "menu");
        Flag(content(TContentKey::AllowRightClick), "right_click");
        if (const TItemType* item = content(TContentKey::BackgroundColor); item && ItemInteger(*item)) {
            const auto color = static_cast<uint32_t>(*ItemInteger(*item));
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%02X%02X%02X", color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF);
            FText << "background = " << (color >> 24 ? std::to_string(*ItemInteger(*item)) : TomlString(hex)) << "\n";
        }
        if (const TItemType* item = content(TContentKey::FlashVars))
            FText << "flashvars = " << Text(*item, "flashvars") << "\n";
        if (const TItemType* item = content(TContentKey::RequiredFlashVersion))
            FText << "required_flash_version = " << Text(*item, "required Flash version") << "\n";

        FText << "\n[screen]\n";
        Choice(content(TContentKey::MonitorLayout), "monitors", MonitorNames);
        Flag(content(TContentKey::EndOnMouse), "end_on_mouse");
        Flag(content(TContentKey::EndOnKey), "end_on_key");
        Flag(content(TContentKey::ShowCursor), "show_cursor");
        Flag(content(TContentKey::ThrottlePreview), "throttle_preview");

        ExtraFiles(found, content(TContentKey::ExtraFileCount));

        FText << "\n[dialog]\n";
        const auto dialog = [&](TDialogKey key) -> const TItemType* {
            auto it = found.Dialog.find(key);
            return it == found.Dialog.end() ? nullptr : it->second;
        };
        if (const TItemType* item = dialog(TDialogKey::Caption))
            FText << "caption = " << Text(*item, "caption") << "\n";
        if (const TItemType* item = dialog(TDialogKey::CopyrightText))
            FText << "copyright = " << Text(*item, "copyright") << "\n";
        if (const TItemType* item = dialog(TDialogKey::CopyrightLink))
            FText << "link = " << Text(*item, "link") << "\n";
        Flag(dialog(TDialogKey::CloseButton), "close_button");
        const TItemType* pictureName = dialog(TDialogKey::PictureName);
        const TItemType* picture = dialog(TDialogKey::Picture);
        if (pictureName && picture && picture->Size > 0) {
            const std::string stored = ItemText(*pictureName);
            // The dialog tells a movie by its name's extension, which the name given in its place keeps.
            const bool movie = stored.size() >= 4 && (stored.substr(stored.size() - 4) == ".swf" ||
                                                      stored.substr(stored.size() - 4) == ".SWF");
            const TPlace place = Place("dialog", stored, movie ? "picture.swf" : "picture.bmp");
            WriteFile(place.Path, *picture);
            FText << "picture = " << TomlString(place.Path) << "\n";
        }

        const TItemType* noPlayerText = content(TContentKey::NoPlayerText);
        const TItemType* noPlayerLink = content(TContentKey::NoPlayerLink);
        if (noPlayerText || noPlayerLink) FText << "\n[no_player]\n";
        if (noPlayerText) FText << "text = " << Text(*noPlayerText, "no-player text") << "\n";
        if (noPlayerLink) FText << "link = " << Text(*noPlayerLink, "no-player link") << "\n";

        const std::string manifest = JoinPath(FDir, "screensaver.toml");
        const std::string text = FText.str();
        WritePackFile(manifest, text.data(), text.size());
        std::string report = "wrote " + manifest + " and " + std::to_string(FFiles) + " files\n";
        for (const std::string& name : found.Ignored)
            report += "left out the item " + name + ", which the screensaver does not read\n";
        return report;
    }

private:
    // A stored text as a TOML string in UTF-8.
    std::string Text(const TItemType& item, const std::string& what) {
        std::string problem;
        const auto utf8 = CodePageToUtf8(ItemText(item), FCodePage, problem);
        if (!utf8)
            throw EPackError(FSource, "the " + what + " is no text of code page " + std::to_string(FCodePage) + ": " +
                                          problem + " (--code-page names another)");
        return TomlString(*utf8);
    }

    // The identity sits in the program's resources, not in the store.
    void Product() {
        const auto head = ReadImageHead(FSource);
        if (!head) return;
        const TProductInfo info = ReadProduct(*head);
        std::ostringstream product;
        const auto text = [&](const char* key, const std::optional<std::string>& value) {
            if (value) product << key << " = " << TomlString(*value) << "\n";
        };
        text("name", info.Name);
        if (!info.Icon.empty()) {
            const std::vector<uint8_t> icon = BuildIconFile(info.Icon);
            WritePackFile(JoinPath(FDir, "icon.ico"), icon.data(), icon.size());
            ++FFiles;
            product << "icon = \"icon.ico\"\n";
        }
        text("version", info.Version);
        text("company", info.Company);
        text("copyright", info.Copyright);
        text("description", info.Description);
        text("product_name", info.ProductName);
        if (!product.str().empty()) FText << "\n[product]\n" << product.str();
    }

    void Flag(const TItemType* item, const char* key) {
        if (item && ItemFlag(*item)) FText << key << " = " << (*ItemFlag(*item) ? "true" : "false") << "\n";
    }

    template <size_t N> void Choice(const TItemType* item, const char* key, const char* const (&names)[N]) {
        if (!item || !ItemInteger(*item)) return;
        const int32_t value = *ItemInteger(*item);
        FText << key << " = ";
        if (value >= 0 && static_cast<size_t>(value) < N)
            FText << "\"" << names[value] << "\"\n";
        else
            FText << value << "\n";
    }

    // Where a stored file goes, as the manifest names it (UTF-8, relative to it): under its stored name when that
    // is a plain file name of the code page this system can name, else under fallback.
    struct TPlace {
        std::string Path;
        bool Renamed = false;
    };
    TPlace Place(const std::string& folder, const std::string& stored, const std::string& fallback) {
        std::string problem;
        auto name = CodePageToUtf8(stored, FCodePage, problem);
        if (!IsSafeFileName(stored) || !name || !Utf8ToSystem(*name, problem)) name.reset();
        const std::string file = name ? *name : fallback;
        return {folder.empty() ? file : folder + "/" + file, !name};
    }

    void ExtraFiles(const TFoundContent& found, const TItemType* countItem) {
        const int32_t count = countItem && ItemInteger(*countItem) ? *ItemInteger(*countItem) : 0;
        // The runtime takes only the entries below the count with both a name and data.
        for (const auto& [index, entry] : found.Files) {
            if (index >= count || !entry.first || !entry.second) continue;
            const TPlace place = Place("files", ItemText(*entry.first), "file" + std::to_string(index) + ".bin");
            WriteFile(place.Path, *entry.second);
            FText << "\n[[files]]\npath = " << TomlString(place.Path) << "\n";
            if (place.Renamed) FText << "name = " << Text(*entry.first, "additional file's name") << "\n";
        }
    }

    void WriteFile(const std::string& relative, const TItemType& item) {
        std::string problem;
        const std::string path = JoinPath(FDir, Utf8ToSystem(relative, problem).value_or(relative));
        const std::string folder = DirectoryOf(path);
        if (!folder.empty() && !CreateDirectories(folder)) throw EPackError(folder, "cannot create directory");
        WriteItemFile(FSource, *FItems, item, path);
        ++FFiles;
    }

    std::string FSource, FDir;
    const TItemTypes* FItems = nullptr;
    int FCodePage;
    std::ostringstream FText;
    int FFiles = 0;
};

} // namespace

std::string StarterManifest(const std::string& manifestName, const std::string& movie) {
    return Replace(Replace(StarterText, "%MOVIE%", TomlString(movie.empty() ? "movie.swf" : movie)), "%MANIFEST%",
                   manifestName);
}

std::string WriteStarterManifest(const std::string& fileName, const std::string& movie) {
    const std::string text = StarterManifest(FileNameOf(fileName), movie);
    try {
        TFileStream file(fileName, TFileMode::fmCreateNew);
        file.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    } catch (const EFOpenError&) {
        throw EPackError(fileName, RegularFileSize(fileName) || DirectoryExists(fileName)
                                       ? "exists already; it is not replaced"
                                       : "cannot create file");
    } catch (const EWriteError&) {
        RemoveFile(fileName);
        throw EPackError(fileName, "cannot write file");
    }
    return "wrote " + fileName + "; fill it in, then: mutone-pack build " + fileName + " -o OUT.scr\n";
}

std::string ExtractManifest(const std::string& source, const TItemTypes& items, const std::string& dir, int codePage) {
    if (!IsSupportedCodePage(codePage))
        throw EPackError(source, "code page " + std::to_string(codePage) + " is not supported");
    if (!CreateDirectories(dir)) throw EPackError(dir, "cannot create directory");
    return TManifestExtractor(source, dir, codePage).Run(items);
}
