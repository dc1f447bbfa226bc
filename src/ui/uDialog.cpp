#include <windows.h>

#include "uDialog.h"

#include <algorithm>
#include <memory>

#include "flash/uFlashPlayerEx.h"
#include "flash/uFlashUtils.h"
#include "forms/ExtCtrls.h"
#include "forms/FileStream.h"
#include "forms/StdCtrls.h"
#include "support/uInstanceGuard.h"
#include "uAltFixOnVista.h"
#include "uDialogLayout.h"
#include "uSimpleWebLabel.h"

namespace {

// The dialog's font and the close button's caption are Japanese whatever the system's code page.
const wchar_t* const DialogFontName = L"\xFF2D\xFF33 \xFF30\x30B4\x30B7\x30C3\x30AF"; // ＭＳ Ｐゴシック
const wchar_t* const CloseCaption = L"\x9589\x3058\x308B(&C)";                        // 閉じる(&C)
constexpr int DialogFontHeight = 12;

void SetDialogFont(TFont& font) {
    font.SetName(DialogFontName);
    font.SetHeight(DialogFontHeight);
    font.SetCharset(SHIFTJIS_CHARSET);
}

// The work area of the monitor that holds the main form (the primary one when there is none).
TRect MainFormWorkArea() {
    HWND window = Application && Application->MainForm() && Application->MainForm()->HandleAllocated()
                      ? Application->MainForm()->Handle()
                      : nullptr;
    HMONITOR monitor = window ? MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST)
                              : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    if (!GetMonitorInfoA(monitor, &info)) SystemParametersInfoA(SPI_GETWORKAREA, 0, &info.rcWork, 0);
    return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
}

} // namespace

bool IsMovieFileName(const std::string& fileName) {
    const size_t dot = fileName.find_last_of(".\\/:");
    if (dot == std::string::npos || fileName[dot] != '.') return false;
    std::string extension = fileName.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return extension == ".swf";
}

TfrmDialog::TfrmDialog(TComponent* owner) : TForm(owner) {
    SetName("frmDialog");
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetBorderIcons(biSystemMenu);
    SetCaption("mu:tone ScreenSaver");
    SetBounds(535, 321, 226, 217);
    SetColor(clBtnFace);
    SetDialogFont(Font());
    Font().SetColor(clWindowText);
    OnCreate = [this](TObject* sender) { FormCreate(sender); };
    OnShow = [this](TObject* sender) { FormShow(sender); };
    OnDestroy = [this](TObject* sender) { FormDestroy(sender); };

    imgImage = new TImage(this);
    imgImage->SetParent(this);
    imgImage->SetBounds(0, 0, 105, 105);
    imgImage->SetAutoSize(true);
    imgImage->OnClick = [this](TObject* sender) { imgImageClick(sender); };
    imgImage->SetVisible(true);

    lblCopyright = new TSimpleWebLabelEx(this);
    lblCopyright->SetParent(this);
    lblCopyright->SetBounds(0, 152, 0, 12);
    SetDialogFont(lblCopyright->Font());
    lblCopyright->SetNormalColor(clBlack);
    lblCopyright->SetShowAccelChar(false);
    lblCopyright->SetVisible(true);

    btnClose = new TButton(this);
    btnClose->SetParent(this);
    btnClose->SetBounds(8, 168, 100, 20);
    btnClose->SetCaption(std::wstring(CloseCaption));
    btnClose->SetDefault(true);
    btnClose->SetCancel(true);
    btnClose->SetModalResult(mrOk);
    btnClose->SetTabOrder(0);
    btnClose->SetVisible(true);

    AltFixOnVista1 = new TAltFixOnVista(this);
    SetClientSize(226, 217);
}

void TfrmDialog::FormCreate(TObject*) {
    lblCopyright->SetCaption(std::string());
}

void TfrmDialog::LoadContent(TStream& stream, const std::string& fileName) {
    if (IsMovieFileName(fileName)) {
        CreateFlashPlayer();
        FFlashPlayer->LoadMovieFromStream(stream, fileName);
        OpenMovie(FFlashPlayer->SWFFileName());
        return;
    }
    FreeFlashPlayer();
    try {
        imgImage->Picture().Bitmap().LoadFromStream(stream);
    } catch (...) {
        // Not a readable picture: the dialog shows an empty one.
    }
}

void TfrmDialog::CreateFlashPlayer() {
    FreeFlashPlayer();
    FFlashPlayer = new TFlashPlayerEx(this);
    try {
        FFlashPlayer->SetScale("ShowAll");
    } catch (...) {
    }
    FFlashPlayer->SetShowMenu(false);
}

void TfrmDialog::FreeFlashPlayer() {
    if (FFlashPlayer) std::exchange(FFlashPlayer, nullptr)->Free();
    FUseMovie = false;
}

void TfrmDialog::OpenMovie(const std::string& fileName) {
    if (fileName.empty() || !FileExists(fileName) || !FFlashPlayer) return;
    try {
        TSWF swf(fileName);
        FMovieWidth = swf.Width();
        FMovieHeight = swf.Height();
    } catch (...) {
        // The dialog stays a picture dialog, and the movie file goes with its control; the error goes on to the
        // loader as before.
        FreeFlashPlayer();
        throw;
    }
    FUseMovie = true;
    FFlashPlayer->SetBounds(FFlashPlayer->Left(), FFlashPlayer->Top(), FMovieWidth, FMovieHeight);
    FFlashPlayer->SetParent(this);
    FFlashPlayer->StartPlay();
    FFlashPlayer->SetVisible(true);
}

void TfrmDialog::FormShow(TObject*) {
    lblCopyright->SetVisible(!lblCopyright->Caption().empty());
    TWinControl* content = FUseMovie && FFlashPlayer ? static_cast<TWinControl*>(FFlashPlayer) : imgImage;

    TDialogLayout layout;
    layout.ContentWidth = FUseMovie ? FMovieWidth : imgImage->Width();
    layout.ContentHeight = FUseMovie ? FMovieHeight : imgImage->Height();
    layout.FrameWidth = Width() - ClientWidth();
    layout.FrameHeight = Height() - ClientHeight();
    layout.Label = {lblCopyright->Visible(), lblCopyright->Width(), lblCopyright->Height()};
    layout.Button = {btnClose->Visible(), btnClose->Width(), btnClose->Height()};
    LayOutDialog(layout, MonitorWorkAreas());

    if (layout.ContentResized && content == imgImage) {
        imgImage->SetAutoSize(false);
        imgImage->SetStretch(true);
    }
    content->SetBounds(layout.ContentLeft, layout.ContentTop, layout.ContentWidth, layout.ContentHeight);
    if (layout.Label.Visible)
        lblCopyright->SetBounds(layout.Label.Left, layout.Label.Top, lblCopyright->Width(), lblCopyright->Height());
    if (layout.Button.Visible)
        btnClose->SetBounds(layout.Button.Left, layout.Button.Top, btnClose->Width(), btnClose->Height());
    if (!lblCopyright->URL().empty()) imgImage->SetCursor(crHandPoint);
    SetClientSize(layout.ClientWidth, layout.ClientHeight);
    CenterInRect(*this, MainFormWorkArea());
}

void TfrmDialog::imgImageClick(TObject*) {
    if (!lblCopyright->URL().empty()) lblCopyright->Click();
}

void TfrmDialog::FormDestroy(TObject*) {
    FreeFlashPlayer();
}
