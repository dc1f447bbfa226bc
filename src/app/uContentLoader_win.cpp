#include <windows.h>

#include "uContentLoader.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "forms/CommandLine.h"
#include "forms/FileStream.h"
#include "forms/StdCtrls.h"
#include "support/uInstanceGuard.h"
#include "support/uPathSafety.h"
#include "support/uSysUtils.h"
#include "uMain.h"
#include "uRunFolder.h"
#include "uWriteBudget.h"
#include "ui/uDialog.h"
#include "ui/uSimpleWebLabel.h"

namespace {

// The room on the temporary directory's volume; none when the system cannot tell.
std::optional<TVolumeSpace> TempVolumeSpace() {
    char temp[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length > MAX_PATH) return std::nullopt;
    ULARGE_INTEGER available{}, total{};
    if (!GetDiskFreeSpaceExA(temp, &available, &total, nullptr)) return std::nullopt;
    return TVolumeSpace{static_cast<int64_t>(available.QuadPart), static_cast<int64_t>(total.QuadPart)};
}

void AbandonRunFiles(TfrmMain& form, TWriteBudget& budget) {
    // What a run has written is worth nothing once part of it is missing, and the room it takes is what the rest
    // of the system lacks: it all goes at once, and the run plays as content without a movie.
    budget.Close();
    for (const std::string& path : form.TempFiles)
        if (FileExists(path)) DeleteFileA(path.c_str());
    form.MoviePath.clear();
}

// The loader's effects on the main form and its screensaver component.
class TMainFormContent final : public TContentTarget {
public:
    TMainFormContent(TfrmMain& form, TWriteBudget& budget, bool writeFiles)
        : F(form), FBudget(budget), FWriteFiles(writeFiles) {}

    void SetContentGuid(const std::string& guid) override {
        F.ContentGuid = guid;
        // A second instance of the same content does not get the mutex; that changes nothing else. A run that
        // writes no files claims no folder, and needs none.
        if (!guid.empty() && FWriteFiles) CreateUniqueMutex(F.ContentMutex, guid);
    }
    void SetLoopMovie(bool value) override { F.LoopMovie = value; }
    void SetAllowRightClick(bool value) override { F.AllowRightClick = value; }
    void SetMovieMenu(bool value) override { F.MovieMenu = value; }
    void SetMovieQuality(int32_t value) override { F.MovieQuality = value; }
    void SetExtraFlashVars(const std::string& value) override { F.ExtraFlashVars = value; }
    void SetMovieBackgroundColor(int32_t value) override { F.MovieBackgroundColor = value; }
    void SetMovieFileName(const std::string& value) override { F.MovieFileName = value; }
    void SetThrottlePreview(bool value) override { F.ThrottlePreview = value; }
    void SetRequiredFlashVersion(const std::string& value) override { F.RequiredFlashVersion = value; }
    void SetTerminateOnMouseMove(bool value) override {
        if (F.ScreenSaver) F.ScreenSaver->SetTerminateOnMouseMove(value);
    }
    void SetTerminateOnKeyDown(bool value) override {
        if (F.ScreenSaver) F.ScreenSaver->SetTerminateOnKeyDown(value);
    }
    void SetShowMouseCursor(bool value) override {
        if (F.ScreenSaver) F.ScreenSaver->SetShowMouseCursor(value);
    }
    void SetMonitorLayout(uint8_t value) override { F.MonitorLayout = value; }
    void SetMovieScale(const std::string& value) override { F.MovieScale = value; }
    void SetNoPlayerText(const std::string& value) override { F.NoPlayerText = value; }
    void SetNoPlayerLink(const std::string& value) override { F.NoPlayerLink = value; }

    void WriteMovie(const TContentItem& item) override;
    void WriteExtraFile(const std::string& bareName, const TContentItem& item) override {
        const std::string path = FWriteFiles ? ContentFilePath(F, bareName) : std::string();
        if (!path.empty()) WriteTempFile(path, item);
    }

private:
    void WriteTempFile(const std::string& path, const TContentItem& item);

    TfrmMain& F;
    TWriteBudget& FBudget;
    bool FWriteFiles;
};

// The run's own folder, made on first use: the content's stable folder (its identifier's name) for the copy that
// holds the content's mutex, when nobody else's folder is in the way; otherwise a fresh one.
bool EnsureRunFolder(TfrmMain& form) {
    if (!form.TempFolder.empty()) return true;
    TRunFolder run;
    if (!form.ContentGuid.empty() && form.ContentMutex) run = ClaimRunFolder(TempFilePath(form.ContentGuid));
    if (!run) run = NewRunFolder();
    if (!run) return false;
    form.TempFolder = run.Path;
    form.TempFolderMarker = std::move(run.Marker);
    return true;
}

void TMainFormContent::WriteMovie(const TContentItem& item) {
    // No movie path for a file that is never written.
    if (!FWriteFiles || FBudget.Refused()) return;
    // A later movie item replaces the file of the first rather than placing a second one.
    if (!F.MoviePath.empty()) return WriteTempFile(F.MoviePath, item);
    if (!EnsureRunFolder(F)) return;
    if (!IsSafeFileName(F.MovieFileName) || IsRunFolderMarkerName(F.MovieFileName))
        F.MovieFileName = F.ContentGuid.empty() ? "movie.swf" : F.ContentGuid + ".swf";
    F.MoviePath = F.TempFolder + "\\" + F.MovieFileName;
    WriteTempFile(F.MoviePath, item);
}

void TMainFormContent::WriteTempFile(const std::string& path, const TContentItem& item) {
    if (FBudget.Refused()) return; // the run has given up writing
    // Listed before the file is made, so that even a failed or partial file is deleted at the end.
    F.TempFiles.push_back(path);
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(path, TFileMode::fmCreate);
    } catch (const EFOpenError&) {
        return; // a file that cannot be made is skipped; the movie control then has nothing to load
    }
    try {
        TBudgetedStream out(*file, FBudget);
        item.WriteTo(out);
    } catch (const EWriteError&) {
        // Past the run's budget, or a full disk: damaged data in the store is not the file's fault and goes on to
        // the caller, as it does for every item read whole.
        file.reset();
        AbandonRunFiles(F, FBudget);
    }
}

} // namespace

std::string ContentFilePath(const TfrmMain& form, std::string_view storedName) {
    if (form.MoviePath.empty() || form.TempFolder.empty()) return {};
    const std::string bare = ExtraFileBareName(storedName);
    if (bare.empty() || IsRunFolderMarkerName(bare)) return {};
    return form.TempFolder + "\\" + bare;
}

std::string DialogContentPath(TfrmMain& form, std::string_view storedName) {
    std::string bare = ExtraFileBareName(storedName);
    // A name the run cannot use as it stands keeps only its extension, which decides picture or movie.
    if (bare.empty() || IsRunFolderMarkerName(bare))
        bare = std::string("dialog") + (IsMovieFileName(std::string(storedName)) ? ".swf" : ".bmp");
    if (!IsMovieFileName(bare)) return bare; // a picture is read from memory: no file is written
    if (!EnsureRunFolder(form)) return {};
    const std::string path = form.TempFolder + "\\" + bare;
    // Never over the movie or an additional file of the run.
    if (std::find(form.TempFiles.begin(), form.TempFiles.end(), path) == form.TempFiles.end()) return path;
    return UniqueFileName(form.TempFolder + "\\", ".swf", "-");
}

void TfrmMain::LoadSettings() {
    LoadSettings(ParamStr(0));
}

void TfrmMain::LoadSettings(const std::string& exeFileName, bool playerUsable) {
    TempFiles.clear();
    // Folders of earlier runs that were killed before they could clean up.
    if (playerUsable) RemoveDeadRunFolders();
    // Configure mode finds the dialog among the application's forms by its name; it lives until the main form
    // goes. A full-screen run or a preview never shows it: they neither make it nor give it its picture or movie,
    // which would cost them a window, a file and a Flash control before their own movie plays.
    const bool dialogShown = ScreenSaver->Mode() != ssmRun && ScreenSaver->Mode() != ssmPreview;
    if (!Dialog && dialogShown) {
        Dialog = new TfrmDialog(nullptr);
        Dialog->EndCreate();
    }

    // The store is read from the program's own file as the items are met, and stays open until the additional
    // files and the dialog's picture have been read from it. A file that cannot be opened holds no items.
    std::unique_ptr<TFileReadStream> file;
    {
        // Our own file is where the system found it: installed into System32 of 64-bit Windows, this 32-bit program
        // would otherwise look for itself in SysWOW64, where it is not, and find no content. Once open, the handle
        // needs no redirection.
        TFsRedirectionOff redirectionOff;
        try {
            file = std::make_unique<TFileReadStream>(exeFileName);
        } catch (const EFOpenError&) {
        }
    }
    std::optional<TStoreReader> store;
    if (file) store.emplace(*file);
    TWriteBudget budget(TempVolumeSpace);
    TMainFormContent target(*this, budget, playerUsable);
    TContentReader reader(target);
    std::string pictureName;
    std::optional<TStoreRecord> picture;
    for (const TDialogKeyInfo& key : Dialog ? DialogKeyTable() : std::span<const TDialogKeyInfo>()) {
        reader.AddKey(key.Enciphered, [&, role = key.Role](TContentItem& item) {
            switch (role) {
            case TDialogKey::Caption:
                return Dialog->SetCaption(ItemText(item.Whole()));
            case TDialogKey::CopyrightText:
                return Dialog->lblCopyright->SetCaption(ItemText(item.Whole()));
            case TDialogKey::CopyrightLink:
                return Dialog->lblCopyright->SetURL(ItemText(item.Whole()));
            case TDialogKey::CloseButton:
                if (auto value = ItemFlag(item.Whole())) Dialog->btnClose->SetVisible(*value);
                return;
            case TDialogKey::PictureName:
                pictureName = ItemText(item.Whole());
                return;
            case TDialogKey::Picture:
                picture = item.Record();
                return;
            }
        });
    }
    if (store) reader.ApplyItems(*store);
    reader.WriteExtraFiles();
    // Without a player a dialog movie could not play; a picture still shows.
    if (picture && (playerUsable || !IsMovieFileName(pictureName))) {
        // Read whole: the picture control and the dialog's movie reader take it from memory.
        TContentItem content(*store, *picture);
        const TItemType& whole = content.Whole();
        std::string path = whole.Size > 0 && !budget.Refused() ? DialogContentPath(*this, pictureName) : std::string();
        // Held in memory whole, its size is known before anything is written.
        if (!path.empty() && IsMovieFileName(path) && !budget.Allow(whole.Size)) {
            AbandonRunFiles(*this, budget);
            path.clear();
        }
        if (!path.empty()) {
            if (IsMovieFileName(path)) TempFiles.push_back(path); // listed before it is written
            TMemoryStream stream;
            stream.WriteBuffer(whole.Data, whole.Size);
            stream.SetPosition(0);
            Dialog->LoadContent(stream, path);
        }
    }
    reader.Finish();
}
