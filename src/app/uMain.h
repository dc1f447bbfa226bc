// The main form: the window that covers the desktop in run mode or fills the preview window, owner of the
// screensaver component.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "flash/uFlashUtils.h"
#include "flash/uShockwaveFlashEx.h"
#include "forms/Forms.h"
#include "forms/Handles.h"
#include "uScreenSaver.h"

class TfrmDialog;

class TfrmMain : public TForm {
public:
    explicit TfrmMain(TComponent* owner);
    std::string ClassName() const override { return "TfrmMain"; }

    TScreenSaver* ScreenSaver;

    // The content settings, filled from the content store by LoadSettings; fresh-object defaults until then.
    std::string ContentGuid;
    std::vector<std::string> TempFiles; // every file the loader wrote, for deletion at the end
    std::string TempFolder;             // empty, or this run's own folder inside the temporary directory
    UniqueFileHandle TempFolderMarker;  // held open while the run lives: marks TempFolder as this run's
    std::string MoviePath;
    bool LoopMovie = false;
    std::string MovieScale;
    bool AllowRightClick = false;
    bool MovieMenu = false;
    int32_t MovieQuality = 0;
    std::string ExtraFlashVars;
    int32_t MovieBackgroundColor = 0;
    std::string RequiredFlashVersion;
    std::string MovieFileName;
    uint8_t MonitorLayout = 0;
    bool ThrottlePreview = false;
    UniqueMutex ContentMutex; // named after ContentGuid, empty when not held
    // The content's word to a user whose Flash control is missing or too old; empty when it gives none.
    std::string NoPlayerText;
    std::string NoPlayerLink;
    // The settings dialog, made by the loader without an owner; freed with this form.
    TfrmDialog* Dialog = nullptr;

    // The Flash control as the movie set-up found it; the later checks of the run ask this, not the system.
    TFlashInstallation Flash;
    // The movie controls, in creation order; owned by the form.
    std::vector<TShockwaveFlashEx*> MovieControls;
    bool MoviePending = false;
    // Set where movies play once the form is shown: what is left of the start then waits for their assignment.
    bool StartPending = false;

    // Reads the content store of the running executable (or of exeFileName) into the settings above, writes the
    // movie and the additional files and takes the content's mutex. Raises what reading a damaged store raises.
    // Without a usable player (playerUsable false) only the settings are read: no file is written and no mutex
    // taken, and a dialog movie is left out.
    void LoadSettings();
    void LoadSettings(const std::string& exeFileName, bool playerUsable = true);

    void FormCreate(TObject* sender);
    void WndProc(TMessage& message) override;
    // The movie set-up of FormCreate; false, with no content read and no control made, when the Flash control
    // cannot be created.
    bool SetUpMovies();
    // Where no Flash control can be created: true when the content has its text to show instead (run and configure
    // mode only); false, with everything as it was, when it has none.
    bool SetUpWithoutPlayer();
    // The no-player text in place of the dialog's copyright line, and on every monitor of the full-screen form.
    void ShowNoPlayerText();
    void MovieFSCommand(const std::wstring& command, const std::wstring& args);
    // In run mode with a movie on the first or on each monitor: puts each movie control on its monitor as the
    // system reports them now, in enumeration order.
    void PlaceMoviesOnMonitors();
    // Stops and frees the movies and deletes what the loader wrote; harmless when run twice.
    void ReleaseMovies();
    void FormShow(TObject* sender);
    // Titles the application after the program's file, named as the shell names it.
    void SetApplicationTitle();
    // What the start does after the movies are assigned: the full-screen form takes the foreground and the
    // application is titled; neither is anything the movies need to wait for.
    void FinishStart();
    void FormDestroy(TObject* sender);
    void ScreenSaverTerminate(TObject* sender);

protected:
    void PaintWindow(HDC dc, const RECT& client) override;
};

#ifdef _WIN32
// Where the dialog's picture or movie named storedName goes: a picture needs no file and keeps its bare name; a
// movie goes into this run's own folder (made when there is none yet) under its bare name, "dialog.swf" when that
// is unusable, or a fresh name when a file of the run has it. Empty when no folder can be made.
std::string DialogContentPath(TfrmMain& form, std::string_view storedName);
#endif

// The FlashVars text of every movie: the content's own variables first, then the mode variable.
std::string MovieFlashVars(const std::string& extraFlashVars, TScreenSaverMode mode);

// Masks every floating-point exception, as the Flash control expects of its host.
void SetFloatingPointControlWord();

// The messages a movie control of the given mode keeps from the control: the right button press unless right
// clicks are allowed, and outside run mode every mouse, keyboard, tablet and pen message.
std::vector<uint32_t> MovieBlockedMessages(TScreenSaverMode mode, bool allowRightClick);

// Creates one movie control owned and parented by the main form, appends it to MovieControls, hands its FSCommand
// events to onFSCommand and, for an installed control of version 8.0 or later (form.Flash), lifts the local
// security sandbox. Raises
// EOleError when the control cannot be created; the event assignment and the version-dependent call fail silently.
TShockwaveFlashEx* CreateMovieControl(TfrmMain& form, TFSCommandEvent onFSCommand);
