#include "uPackBuild.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <ostream>

#include "app/uContentLoader.h"
#include "app/uRunFolder.h"
#include "app/uWriteBudget.h"
#include "flash/uFlashUtils.h"
#include "forms/BitmapReader.h"
#include "store/ZLibEx.h"
#include "store/uExeAdder.h"
#include "store/uPEResources.h"
#include "store/uPEUtils.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uCodePage.h"
#include "uContentId.h"
#include "uImageArch.h"
#include "uPackError.h"
#include "uPackFiles.h"
#include "uProductResources.h"

namespace {

std::string Quoted(std::string_view text) {
    std::string quoted(1, '"');
    quoted += text;
    return quoted += '"';
}

std::string MiB(int64_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<uint8_t> Int32Bytes(int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Windows does not tell file names apart by letter case. Only ASCII letters are folded here: in UTF-8 every
// byte of another character lies above them, so no two different names can be taken for one.
std::string FoldCase(std::string_view name) {
    std::string folded(name);
    std::transform(folded.begin(), folded.end(), folded.begin(), LowerAscii);
    return folded;
}

bool HasSwfExtension(std::string_view name) {
    return name.size() >= 4 && FoldCase(name.substr(name.size() - 4)) == ".swf";
}

// The first number of a dotted version.
int32_t MajorVersion(std::string_view version) {
    int32_t major = 0;
    for (char c : version) {
        if (c < '0' || c > '9' || major > 100000) break;
        major = major * 10 + (c - '0');
    }
    return major;
}

// The file name of a path as written, given where the path was.
TSetting<std::string> NameOf(const TSetting<std::string>& path) {
    TSetting<std::string> name;
    name.Value = FileNameOf(path.Written);
    name.Where = path.Where;
    return name;
}

// Builds the plan, one setting after another; every problem goes to the diagnostics.
class TPlanner {
public:
    TPlanner(const TManifest& manifest, TStorePlan& plan, TDiagnostics& diagnostics)
        : M(manifest), P(plan), D(diagnostics),
          FCodePage(manifest.CodePage.Given() ? static_cast<int>(*manifest.CodePage.Value) : DefaultCodePage) {}

    void Run() {
        std::optional<std::string> id;
        if (M.Id.Given()) id = Identifier();
        const std::optional<std::string> movieName =
            M.MovieName.Given() ? StoredName(M.MovieName, "movie.name") : std::nullopt;
        const int32_t swfVersion = CheckMovie();

        if (movieName) Text(TContentKey::MovieFileName, *movieName);
        Flag(TContentKey::Loop, M.Loop.Value.value_or(true));
        if (M.Stretch.Given()) Flag(TContentKey::StretchMovie, *M.Stretch.Value);
        if (M.RightClick.Given()) Flag(TContentKey::AllowRightClick, *M.RightClick.Value);
        if (M.Menu.Given()) Flag(TContentKey::Menu, *M.Menu.Value);
        Integer(TContentKey::Quality, M.Quality.Value.value_or(1)); // "high": the control's own default is "low"
        if (auto vars = Converted(M.FlashVars, "movie.flashvars")) Text(TContentKey::FlashVars, *vars);
        if (M.Background.Given()) Integer(TContentKey::BackgroundColor, *M.Background.Value);
        if (M.ThrottlePreview.Given()) Flag(TContentKey::ThrottlePreview, *M.ThrottlePreview.Value);
        if (M.RequiredFlashVersion.Given()) RequiredVersion(swfVersion);
        if (M.EndOnMouse.Given()) Flag(TContentKey::EndOnMouse, *M.EndOnMouse.Value);
        if (M.EndOnKey.Given()) Flag(TContentKey::EndOnKey, *M.EndOnKey.Value);
        if (M.ShowCursor.Given()) Flag(TContentKey::ShowCursor, *M.ShowCursor.Value);
        if (M.Monitors.Given()) Integer(TContentKey::MonitorLayout, *M.Monitors.Value);

        if (auto caption = Converted(M.Caption, "dialog.caption")) DialogText(TDialogKey::Caption, *caption);
        if (auto text = Converted(M.Copyright, "dialog.copyright")) DialogText(TDialogKey::CopyrightText, *text);
        if (auto link = Converted(M.Link, "dialog.link")) DialogText(TDialogKey::CopyrightLink, *link);
        if (M.CloseButton.Given())
            Add(DialogItemName(TDialogKey::CloseButton), {uint8_t(*M.CloseButton.Value ? 1 : 0)}, false);
        NoPlayer();

        if (M.MovieFile.Given()) AddFile(ContentItemName(TContentKey::Movie), *M.MovieFile.Value, "movie.file", true);
        ExtraFiles();
        Picture();

        // The identifier goes first: the runtime names the movie's folder after it as it meets the movie.
        P.Id = id ? *id : DerivedId();
        P.IdDerived = !id;
        P.Items.insert(P.Items.begin(), TPlannedItem{std::string(ContentGuidName), Bytes(P.Id), {}, true, false, {}});
        if (!movieName) CheckName(P.Id + ".swf", "movie", M.MovieFile.Where);
    }

private:
    void Add(std::string name, std::vector<uint8_t> data, bool compress) {
        P.Items.push_back({std::move(name), std::move(data), {}, compress, false, {}});
    }
    void AddFile(std::string name, const std::string& file, const std::string& field, bool streamed) {
        P.Items.push_back({std::move(name), {}, file, true, streamed, field});
        P.Inputs.push_back(file);
    }
    // One byte and four-byte values are stored raw, texts and files compressed, as the screensaver expects.
    void Flag(TContentKey key, bool value) { Add(ContentItemName(key), {uint8_t(value ? 1 : 0)}, false); }
    void Integer(TContentKey key, int32_t value) { Add(ContentItemName(key), Int32Bytes(value), false); }
    void Text(TContentKey key, const std::string& text) { Add(ContentItemName(key), Bytes(text), true); }
    void DialogText(TDialogKey key, const std::string& text) { Add(DialogItemName(key), Bytes(text), true); }

    // The text in the code page the screensaver reads.
    std::optional<std::string> Converted(const TSetting<std::string>& setting, const std::string& field) {
        if (!setting.Given()) return std::nullopt;
        std::string problem;
        auto text = Utf8ToCodePage(*setting.Value, FCodePage, problem);
        if (!text)
            D.Error(setting.Where, field,
                    Quoted(*setting.Value) + " cannot be stored for the screensaver: " + problem +
                        " (code_page chooses another)");
        return text;
    }

    std::optional<std::string> Identifier() {
        auto id = Converted(M.Id, "id");
        if (!id) return std::nullopt;
        // The identifier names a folder and a mutex: the runtime ignores one that is no plain file name.
        if (!IsSafeFileName(*id)) {
            D.Error(M.Id.Where, "id",
                    Quoted(*M.Id.Value) + " would be ignored by the screensaver: it names a folder, so it must be "
                                          "a plain file name (no \\ / : * ? \" < > |, no device name)");
            return std::nullopt;
        }
        return id;
    }

    // A file name the runtime writes into its folder under exactly this name, or none (reported). unique: the
    // file is written beside the others, so no other may have its name.
    std::optional<std::string> StoredName(const TSetting<std::string>& setting, const std::string& field,
                                          bool unique = true) {
        auto name = Converted(setting, field);
        if (!name) return std::nullopt;
        if (IsRunFolderMarkerName(*name)) {
            D.Error(setting.Where, field,
                    Quoted(*setting.Value) + " is the name of the file that marks the screensaver's own folder");
            return std::nullopt;
        }
        if (ExtraFileBareName(*name) == *name)
            return !unique || CheckName(*name, field, setting.Where) ? name : std::nullopt;
        const bool folders = name->find_first_of("\\/:") != std::string::npos;
        D.Error(setting.Where, field,
                Quoted(*setting.Value) +
                    (folders ? " is not a plain file name: the screensaver keeps no folders, so give the file's name "
                               "alone"
                             : " is a name the screensaver would not write (reserved characters, a trailing dot or "
                               "space, a device name such as CON, or longer than 255 bytes)"));
        return std::nullopt;
    }

    // Every file lands in the one folder: no two may share a name.
    bool CheckName(const std::string& name, const std::string& field, const TSourcePos& where) {
        const std::string folded = FoldCase(name);
        for (const auto& [other, otherField] : FNames) {
            if (other != folded) continue;
            D.Error(where, field,
                    Quoted(name) + " is also the name of " + otherField +
                        " (Windows does not tell letter case apart), and both are written into one folder");
            return false;
        }
        FNames.emplace_back(folded, field);
        return true;
    }

    // Whether a file can be packed at all: present, and, for one the screensaver reads whole (not streamed), no
    // larger than it inflates into memory. A streamed file is bounded by the store's 2 GiB, which only writing it
    // can tell, as it is compressed, and by the 2 GiB an item's size holds where the store is read back (this
    // tool's info, list and extract): a larger file that compresses well would make a screensaver they refuse.
    bool CheckInputFile(const std::string& path, const std::string& field, const TSourcePos& where, bool streamed) {
        const auto size = RegularFileSize(path);
        if (!size) {
            D.Error(where, field, path + ": no such file");
            return false;
        }
        if (streamed && *size > INT32_MAX) {
            D.Error(where, field, path + " is " + MiB(*size) + "; a screensaver holds no file larger than 2 GiB");
            return false;
        }
        if (!streamed && *size > MaxInflatedSize) {
            D.Error(where, field,
                    path + " is " + MiB(*size) + "; the screensaver cannot unpack a file larger than " +
                        MiB(MaxInflatedSize));
            return false;
        }
        return true;
    }

    // A run writes the movie, the additional files and the dialog's movie, and stops at MaxRunBytes in all:
    // content that passes it would play black, so it is refused here, at the file that takes it past.
    void CountWritten(const std::string& path, const std::string& field, const TSourcePos& where) {
        const int64_t before = FRunBytes;
        FRunBytes += RegularFileSize(path).value_or(0);
        if (before <= MaxRunBytes && FRunBytes > MaxRunBytes)
            D.Error(where, field,
                    path + " takes the files the screensaver writes to " + MiB(FRunBytes) +
                        "; a run writes no more than " + MiB(MaxRunBytes) + " in all");
    }

    // The movie's SWF version, 0 when it cannot be read.
    int32_t CheckMovie() {
        if (!M.MovieFile.Given() || !CheckInputFile(*M.MovieFile.Value, "movie.file", M.MovieFile.Where, true))
            return 0;
        CountWritten(*M.MovieFile.Value, "movie.file", M.MovieFile.Where);
        try {
            return TSWF(*M.MovieFile.Value).Version();
        } catch (const Exception& e) {
            D.Error(M.MovieFile.Where, "movie.file",
                    *M.MovieFile.Value + " is not a movie the screensaver can play: " + e.Message());
        }
        return 0;
    }

    void RequiredVersion(int32_t swfVersion) {
        std::string version = *M.RequiredFlashVersion.Value;
        if (version == "auto") {
            if (swfVersion == 0) return; // the movie's own error says why
            version = std::to_string(swfVersion) + ".0.0.0";
        } else if (swfVersion > MajorVersion(version)) {
            D.Warn(M.RequiredFlashVersion.Where, "movie.required_flash_version",
                   "the movie is SWF version " + std::to_string(swfVersion) + ", made for Flash Player " +
                       std::to_string(swfVersion) + " or later, but " + Quoted(version) +
                       " lets older players try to play it (\"auto\" requires the movie's own version)");
        }
        Text(TContentKey::RequiredFlashVersion, version);
    }

    // The text is the content's only message to a user who cannot see the movie: cut, it could lose its point.
    void NoPlayer() {
        if (auto text = Converted(M.NoPlayerText, "no_player.text")) {
            if (text->size() > MaxNoPlayerTextSize)
                D.Error(M.NoPlayerText.Where, "no_player.text",
                        "the text is " + std::to_string(text->size()) + " bytes in code page " +
                            std::to_string(FCodePage) + "; the screensaver shows no more than " +
                            std::to_string(MaxNoPlayerTextSize));
            else
                Text(TContentKey::NoPlayerText, *text);
        }
        if (auto link = Converted(M.NoPlayerLink, "no_player.link")) Text(TContentKey::NoPlayerLink, *link);
    }

    void ExtraFiles() {
        if (M.Files.empty()) return;
        Integer(TContentKey::ExtraFileCount, static_cast<int32_t>(M.Files.size()));
        for (size_t i = 0; i < M.Files.size(); ++i) {
            const TManifestFile& file = M.Files[i];
            const std::string field = "files[" + std::to_string(i) + "]";
            if (!file.Path.Given()) continue;
            if (CheckInputFile(*file.Path.Value, field + ".path", file.Path.Where, true))
                CountWritten(*file.Path.Value, field + ".path", file.Path.Where);
            TSetting<std::string> name = file.Name;
            if (!name.Given()) name = NameOf(file.Path);
            const auto stored = StoredName(name, field + (file.Name.Given() ? ".name" : ".path"));
            if (!stored) continue;
            const auto index = static_cast<int32_t>(i);
            Add(ContentItemName(TContentKey::ExtraFileName, index), Bytes(*stored), true);
            AddFile(ContentItemName(TContentKey::ExtraFileData, index), *file.Path.Value, field + ".path", true);
        }
    }

    void Picture() {
        if (!M.Picture.Given()) return;
        const std::string& path = *M.Picture.Value;
        if (!CheckInputFile(path, "dialog.picture", M.Picture.Where, false)) return;
        // The dialog tells a movie from a picture by the name alone; only a movie is written into the folder.
        const bool movie = HasSwfExtension(M.Picture.Written);
        const auto name = StoredName(NameOf(M.Picture), "dialog.picture", movie);
        if (!name) return;
        if (movie) {
            CountWritten(path, "dialog.picture", M.Picture.Where);
            try {
                TSWF swf(path);
            } catch (const Exception& e) {
                D.Error(M.Picture.Where, "dialog.picture",
                        path + " is not a movie the settings dialog can show: " + e.Message());
            }
        } else {
            std::string why;
            TBitmapPixels pixels;
            try {
                TMemoryStream bytes;
                bytes.LoadFromFile(path);
                if (ReadBitmapFile(bytes.Memory(), static_cast<size_t>(bytes.Length()), pixels, &why)) why.clear();
            } catch (const Exception& e) {
                why = e.Message();
            }
            if (!why.empty())
                D.Error(M.Picture.Where, "dialog.picture",
                        path + " is not a picture the settings dialog can show (a BMP file): " + why);
        }
        DialogText(TDialogKey::PictureName, *name);
        AddFile(DialogItemName(TDialogKey::Picture), path, "dialog.picture", false);
    }

    // The identifier from everything else the store holds: the same content keeps it, other content gets another.
    std::string DerivedId() {
        TContentHasher hasher;
        std::vector<uint8_t> buffer(1024 * 1024);
        for (const TPlannedItem& item : P.Items) {
            hasher.UpdateField(item.Name.data(), item.Name.size());
            if (item.File.empty()) {
                hasher.UpdateField(item.Data.data(), item.Data.size());
                continue;
            }
            if (D.HasErrors()) continue; // nothing will be written; the files may not even be there
            try {
                TFileStream file(item.File, TFileMode::fmOpenRead);
                const int64_t size = file.GetSize();
                uint8_t length[8];
                for (int i = 0; i < 8; ++i)
                    length[i] = static_cast<uint8_t>(static_cast<uint64_t>(size) >> (8 * i));
                hasher.Update(length, sizeof length);
                for (int32_t n; (n = file.Read(buffer.data(), static_cast<int32_t>(buffer.size()))) > 0;)
                    hasher.Update(buffer.data(), static_cast<size_t>(n));
            } catch (const EStreamError& e) {
                D.Error({item.File}, "", e.Message());
            }
        }
        return hasher.Guid();
    }

    const TManifest& M;
    TStorePlan& P;
    TDiagnostics& D;
    int FCodePage;
    std::vector<std::pair<std::string, std::string>> FNames; // folded name, the field that gave it
    int64_t FRunBytes = 0;
};

uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A file that is removed again unless it was committed.
class TPartialFile {
public:
    explicit TPartialFile(std::string name) : FName(std::move(name)) {}
    ~TPartialFile() {
        if (!FCommitted) RemoveFile(FName);
    }
    TPartialFile(const TPartialFile&) = delete;
    TPartialFile& operator=(const TPartialFile&) = delete;
    const std::string& Name() const { return FName; }
    void Commit() { FCommitted = true; }

private:
    std::string FName;
    bool FCommitted = false;
};

// A runtime that carries a checksum gets the one of the whole file, as the system's checkers compute it, so that
// it still holds once the store and new resources are behind and inside the image.
void WriteChecksum(TStream& file, const std::vector<uint8_t>& head) {
    const size_t fieldAt = size_t{Get32(head, 60)} + 24 + 64;
    if (fieldAt + 4 > head.size() || Get32(head, fieldAt) == 0) return;
    TPEChecksum sum(fieldAt);
    std::vector<uint8_t> buffer(1024 * 1024);
    const int64_t size = file.GetSize();
    file.SetPosition(0);
    // Whole pieces of even length: the sum is over 16-bit words.
    for (int64_t done = 0; done < size;) {
        const auto n = static_cast<int32_t>(std::min<int64_t>(size - done, static_cast<int64_t>(buffer.size())));
        file.ReadBuffer(buffer.data(), n);
        sum.Update(buffer.data(), static_cast<size_t>(n));
        done += n;
    }
    std::vector<uint8_t> field(4);
    Put32(field, 0, sum.Value());
    file.SetPosition(static_cast<int64_t>(fieldAt));
    file.WriteBuffer(field.data(), 4);
}

void Report(const TDiagnostics& diagnostics, std::ostream& err) {
    for (const TDiagnostic& d : diagnostics.All())
        err << "mutone-pack: " << FormatDiagnostic(d) << "\n";
}

} // namespace

std::string ContentItemName(TContentKey key, int32_t index) {
    for (const TContentKeyInfo& info : ContentKeyTable())
        if (info.Role == key) return DecodeString(info.Enciphered) + (index >= 0 ? std::to_string(index) : "");
    return {};
}

std::string DialogItemName(TDialogKey key) {
    for (const TDialogKeyInfo& info : DialogKeyTable())
        if (info.Role == key) return DecodeString(info.Enciphered);
    return {};
}

bool PlanStore(const TManifest& manifest, TStorePlan& plan, TDiagnostics& diagnostics) {
    plan = TStorePlan();
    TPlanner(manifest, plan, diagnostics).Run();
    return !diagnostics.HasErrors();
}

bool ReadRuntimeImage(const std::string& runtime, int32_t arch, TRuntimeImage& image, TDiagnostics& diagnostics) {
    image = TRuntimeImage();
    const TSourcePos where{runtime};
    const auto fileSize = RegularFileSize(runtime);
    if (!fileSize) {
        diagnostics.Error(where, "runtime", "no such file");
        return false;
    }
    uint32_t imageEnd = 0;
    try {
        TFileStream file(runtime, TFileMode::fmOpenRead);
        imageEnd = ReadImageEnd(file);
    } catch (const Exception& e) {
        diagnostics.Error(where, "runtime", "not a Windows program: " + e.Message());
        return false;
    }
    if (imageEnd < 64 || imageEnd > *fileSize) {
        diagnostics.Error(where, "runtime", "its image end (" + std::to_string(imageEnd) + ") lies outside the file");
        return false;
    }
    image.HadContent = imageEnd < *fileSize;
    image.Head.resize(imageEnd);
    std::optional<TImageArch> runtimeArch;
    try {
        TFileStream file(runtime, TFileMode::fmOpenRead);
        file.ReadBuffer(image.Head.data(), static_cast<int32_t>(imageEnd));
        runtimeArch = ReadImageArch(file);
    } catch (const EStreamError& e) {
        diagnostics.Error(where, "runtime", e.Message());
        return false;
    }
    // A 64-bit program named as the 32-bit runtime (or the other way round) would give a screensaver that Windows
    // starts from another folder than the author expects, or not at all.
    if (runtimeArch && ArchIndex(*runtimeArch) != arch) {
        diagnostics.Error(where, "runtime",
                          "is a program for " + ArchDescription(*runtimeArch) + ", but the screensaver is to be " +
                              ArchNames[arch] + " (arch); give --arch or a runtime for " + ArchNames[arch]);
        return false;
    }

    // The certificate table of an Authenticode signature lies behind the image; the directory entry that points
    // at it must go with it, or the new file would carry a signature that no longer matches.
    const uint32_t ntOffset = Get32(image.Head, 60);
    const size_t optional = size_t{ntOffset} + 24;
    if (optional + 2 > image.Head.size()) return true;
    const bool pe32Plus = (image.Head[optional] | image.Head[optional + 1] << 8) == 0x20B;
    const size_t countAt = optional + (pe32Plus ? 108 : 92);
    const size_t securityAt = optional + (pe32Plus ? 112 : 96) + 4 * 8;
    if (securityAt + 8 > image.Head.size() || Get32(image.Head, countAt) <= 4) return true;
    const uint32_t tableOffset = Get32(image.Head, securityAt);
    if (tableOffset == 0 && Get32(image.Head, securityAt + 4) == 0) return true;
    if (tableOffset < imageEnd) {
        diagnostics.Error(where, "runtime", "its certificate table lies inside its image; it cannot be packed");
        return false;
    }
    Put32(image.Head, securityAt, 0);
    Put32(image.Head, securityAt + 4, 0);
    // The signer set the checksum over the signed file; it is computed again over the image, as the linker did,
    // so that packing a signed runtime gives the bytes that packing it before signing gives.
    Put32(image.Head, optional + 64, PEChecksum(image.Head, optional + 64));
    image.SignatureRemoved = true;
    return true;
}

std::vector<std::string> RuntimeCandidates(const std::string& toolPath, int32_t arch) {
    const std::string folder = DirectoryOf(toolPath);
    if (folder.empty()) return {};
    const std::string share = JoinPath(JoinPath(JoinPath(folder, ".."), "share"), "mutone");
    return {JoinPath(folder, RuntimeFileNames[arch]), JoinPath(share, RuntimeFileNames[arch])};
}

int64_t WriteScreensaver(const TRuntimeImage& image, const TStorePlan& plan, const std::string& output) {
    const std::string folder = DirectoryOf(output);
    std::unique_ptr<TPartialFile> partial;
    std::unique_ptr<TFileStream> stream;
    for (int attempt = 0; !stream; ++attempt) {
        std::string partialName(1, '.');
        partialName += FileNameOf(output) + ".partial";
        if (attempt) partialName += std::to_string(attempt);
        const std::string name = JoinPath(folder, partialName);
        try {
            // Never through a link or over another's file: only a name that nobody has is taken.
            stream = std::make_unique<TFileStream>(name, TFileMode::fmCreateNew);
            partial = std::make_unique<TPartialFile>(name);
        } catch (const EFOpenError&) {
            if (!RegularFileSize(name) || attempt == 100) throw EPackError(output, "cannot create a file beside it");
        }
    }
    // The name key scrambles item names only; any value serves, and one taken from the identifier keeps the
    // bytes the same for the same content.
    TXxh64 keyHash;
    keyHash.Update(plan.Id.data(), plan.Id.size());
    const auto nameKey = static_cast<int32_t>(static_cast<uint32_t>(keyHash.Digest()));
    int64_t size = 0;
    try {
        stream->WriteBuffer(image.Head.data(), static_cast<int32_t>(image.Head.size()));
        TStoreWriter writer(*stream, nameKey, static_cast<int64_t>(image.Head.size()));
        for (const TPlannedItem& item : plan.Items) {
            if (item.File.empty()) {
                writer.AddItem(item.Name, item.Data.data(), item.Data.size(), item.Compress);
                continue;
            }
            try {
                TFileStream source(item.File, TFileMode::fmOpenRead);
                writer.AddItem(item.Name, source, item.Compress, item.Streamed ? INT32_MAX : MaxInflatedSize);
            } catch (const EFOpenError& e) {
                throw EPackError(item.File, e.Message());
            } catch (const EStoreLimitError&) {
                // Checked before, unless the file grew since; otherwise the store's size field is what overflowed.
                const auto fileSize = RegularFileSize(item.File);
                const bool wholeTooLarge = !item.Streamed && fileSize && *fileSize > MaxInflatedSize;
                throw EPackError(item.File,
                                 item.Field + ": " + item.File + " does not fit: " +
                                     (wholeTooLarge
                                          ? "the screensaver cannot unpack a file larger than " + MiB(MaxInflatedSize)
                                          : std::string("a screensaver cannot be larger than "
                                                        "2 GiB, the most its content store holds")));
            }
        }
        size = static_cast<int64_t>(image.Head.size()) + writer.Finish();
        WriteChecksum(*stream, image.Head);
    } catch (const EPackError&) {
        throw;
    } catch (const Exception& e) {
        throw EPackError(output, e.Message());
    }
    stream.reset();
    if (!RenameOver(partial->Name(), output)) throw EPackError(output, "cannot replace it");
    partial->Commit();
    return size;
}

int RunBuild(const TBuildRequest& request, std::ostream& out, std::ostream& err, TBuildResult* result) {
    TDiagnostics diagnostics;
    TManifest manifest;
    TStorePlan plan;
    TRuntimeImage image;
    if (LoadManifest(request.Input, request.Sets, manifest, diagnostics)) PlanStore(manifest, plan, diagnostics);
    int32_t arch = manifest.Arch.Value.value_or(0);
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(ArchNames)); ++i)
        if (request.Arch == ArchNames[i]) arch = i;

    std::string runtime = request.Runtime;
    if (runtime.empty()) {
        const std::vector<std::string> candidates = RuntimeCandidates(ToolExecutablePath(), arch);
        for (const std::string& candidate : candidates) {
            if (RegularFileSize(candidate)) {
                runtime = candidate;
                break;
            }
        }
        if (runtime.empty()) {
            std::string places;
            for (const std::string& candidate : candidates)
                places += (places.empty() ? "" : " or ") + candidate;
            diagnostics.Error({RuntimeFileNames[arch]}, "runtime",
                              "not found" + (places.empty() ? std::string() : " at " + places) +
                                  "; name one with --runtime FILE");
        }
    }
    if (!runtime.empty() && ReadRuntimeImage(runtime, arch, image, diagnostics) && !diagnostics.HasErrors())
        image.ProductApplied = ApplyProduct(manifest.Product, image.Head, runtime, diagnostics);
    if (manifest.Product.Icon.Given()) plan.Inputs.push_back(*manifest.Product.Icon.Value);

    // The output replaces a file only once it is complete, and never one the build reads.
    std::vector<std::pair<std::string, std::string>> inputs = {{runtime, "the runtime"}, {request.Input, "the input"}};
    for (const std::string& input : plan.Inputs)
        inputs.emplace_back(input, input + ", which goes into the screensaver");
    for (const auto& [input, what] : inputs) {
        if (input.empty() || !SameFile(request.Output, input)) continue;
        diagnostics.Error({request.Output}, "output", "is " + what + "; choose another output file");
        break;
    }
    Report(diagnostics, err);
    if (diagnostics.HasErrors()) return 1;

    const std::string outputFolder = DirectoryOf(request.Output);
    if (!outputFolder.empty() && !CreateDirectories(outputFolder))
        throw EPackError(outputFolder, "cannot create the folder");
    const int64_t size = WriteScreensaver(image, plan, request.Output);
    out << "wrote " << request.Output << " (" << size << " bytes, " << plan.Items.size() << " items)\n";
    out << "id " << plan.Id
        << (plan.IdDerived ? " (derived from the content; give it as id in the manifest to keep it when the content "
                             "changes)"
                           : "")
        << "\n";
    if (image.HadContent) out << "replaced the content that " << runtime << " carried\n";
    if (image.SignatureRemoved)
        out << "removed the signature of " << runtime << ": sign " << request.Output << " again\n";
    if (result) *result = {std::move(manifest), plan.Id, plan.IdDerived};
    return 0;
}
