// The settings dialog: the author's picture or small movie, the copyright line that opens the author's web page,
// and the close button, laid out around the content each time it is shown. Filled by the content loader.
#pragma once

#include <string>

#include "forms/Forms.h"

class TImage;
class TButton;
class TStream;
class TSimpleWebLabelEx;
class TAltFixOnVista;
class TFlashPlayerEx;

class TfrmDialog : public TForm {
public:
    explicit TfrmDialog(TComponent* owner);
    std::string ClassName() const override { return "TfrmDialog"; }

    TImage* imgImage;
    TSimpleWebLabelEx* lblCopyright;
    TButton* btnClose;
    TAltFixOnVista* AltFixOnVista1;

    // Shows the stream as the dialog's content: a movie when fileName ends in ".swf" (any case), written to
    // fileName, otherwise a BMP picture read from the stream. An unreadable picture leaves the picture empty; a
    // movie whose header cannot be read raises what the SWF reader raises, with the movie control and its file
    // already gone.
    void LoadContent(TStream& stream, const std::string& fileName);
    void CreateFlashPlayer();
    // Frees the movie control, which deletes the movie file it wrote; harmless without one.
    void FreeFlashPlayer();
    void OpenMovie(const std::string& fileName);

    TFlashPlayerEx* FlashPlayer() const { return FFlashPlayer; }
    bool UseMovie() const { return FUseMovie; }

    void FormCreate(TObject* sender);
    void FormShow(TObject* sender);
    void FormDestroy(TObject* sender);
    void imgImageClick(TObject* sender);

private:
    TFlashPlayerEx* FFlashPlayer = nullptr;
    bool FUseMovie = false;
    int32_t FMovieWidth = 0, FMovieHeight = 0;
};

// True when a content file name asks for the movie control: its extension, compared in lower case, is ".swf".
bool IsMovieFileName(const std::string& fileName);
