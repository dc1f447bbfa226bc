// Forms and the application object: the program's windows, its message loop with an idle handler, and the
// silent handling of exceptions that reach a message handler.
#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <vector>

#include "Controls.h"

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow };
enum TBorderIcon : unsigned { biSystemMenu = 1, biMinimize = 2, biMaximize = 4 };

inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* owner);
    ~TCustomForm() override;
    std::string ClassName() const override { return "TCustomForm"; }

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle style);
    unsigned BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(unsigned icons);

    // While the form is being created a show request is only noted; it takes effect after OnCreate.
    void SetVisible(bool value) override;
    void Show();
    void Hide() { SetVisible(false); }
    // Closing the main form ends the application; a modal form ends its modal loop; any other is hidden.
    void Close();
    int ShowModal();
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int result) { FModalResult = result; }

    // The control that has (or, while the form is inactive, last had) the focus; the first tab stop gets it when
    // the form is activated without one.
    TWinControl* ActiveControl() const;
    void SetActiveControl(TWinControl* control);
    // Moves the focus to the next (or previous) tab stop after the focused control, wrapping around; false when
    // the form has no tab stop that can take it.
    bool SelectNext(bool forward);
    // The keys a dialog takes before its controls see them: Tab and Shift+Tab move the focus, Enter and Esc go to
    // the focused control and then to the others (the default and cancel buttons), a character with Alt, or one
    // that the focused control does not want, goes to the control with that accelerator. True when it was used.
    bool HandleDialogMessage(const MSG& msg);

    // Runs the loaded notifications of the form and its components, then OnCreate, then a noted show.
    void EndCreate();
    bool Creating() const { return FCreating; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;

    void WndProc(TMessage& message) override;

protected:
    void CreateParams(TCreateParams& params) override;
    // OnDestroy, then the owned components, while the whole form still exists.
    void BeforeDestruction() override;

private:
    DWORD BorderStyleBits(DWORD& exStyle) const;
    void ApplyBorderStyle();
    // The form's tab stops that can take the focus, in tab order.
    std::vector<TWinControl*> TabStops() const;
    // The focused window's control when it belongs to this form.
    TWinControl* FocusedControl() const;
    TWinControl* FActiveControl = nullptr;

    TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
    unsigned FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    bool FCreating = true;
    bool FShowPending = false;
    bool FModal = false;
    int FModalResult = mrNone;
    bool FDestroyFired = false;
};

// The form a control sits on, or null.
TCustomForm* GetParentForm(TWinControl* control);

class TForm : public TCustomForm {
public:
    using TCustomForm::TCustomForm;
    std::string ClassName() const override { return "TForm"; }
};

using TIdleEvent = std::function<void(TObject* sender, bool& done)>;
using TExceptionEvent = std::function<void(TObject* sender, std::exception_ptr error)>;

class TApplication : public TComponent {
public:
    TApplication();
    ~TApplication() override;

    // The application's own hidden window: the owner of every top-level form, titled with the application title.
    HWND Handle() const { return FHandle.get(); }
    std::string Title() const;
    void SetTitle(const std::string& title);
    bool ShowMainForm = true;

    template <class TFormClass> TFormClass* CreateForm() {
        auto* form = new TFormClass(this);
        form->EndCreate();
        if (!FMainForm) {
            form->HandleNeeded();
            FMainForm = form;
        }
        return form;
    }
    TCustomForm* MainForm() const { return FMainForm; }
    size_t FormCount() const { return FForms.size(); }
    TCustomForm* Forms(size_t index) const { return FForms[index]; }
    // The form that holds the active window of this thread, if any.
    TCustomForm* ActiveForm() const;

    void Run();
    void HandleMessage();
    void ProcessMessages();
    // Asks the message loop to end (it ends when it meets the quit message).
    void Terminate();
    bool Terminated() const { return FTerminated.load(); }
    // True from the moment Terminate was called, before the loop has met the quit message.
    bool TerminateRequested() const { return FTerminateRequested.load(); }

    TIdleEvent OnIdle;
    // Called with an exception that reached a message handler; without a handler the exception is dropped.
    TExceptionEvent OnException;
    void HandleException(std::exception_ptr error) noexcept;

private:
    friend class TCustomForm;
    bool ProcessMessage(MSG& msg);
    // Offers a key message to the form it is meant for, as a dialog would take it.
    static bool IsDialogKey(const MSG& msg);
    void Idle();
    static LRESULT CALLBACK WndProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) noexcept;

    UniqueHWnd FHandle;
    TCustomForm* FMainForm = nullptr;
    std::vector<TCustomForm*> FForms;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FTerminateRequested{false};
};

// The one application object; null until InitApplication.
extern TApplication* Application;
void InitApplication();
void DoneApplication();

// Fatal run-time errors end the program without any message box.
void SwitchOffErrorMessages();
