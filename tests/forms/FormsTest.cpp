// Forms, the application loop and the main-thread timer under Wine.
#include <windows.h>

#include <algorithm>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FormsFixture.h"
#include "forms/ExtCtrls.h"

namespace {

// --- Creation order ---

std::vector<std::string> Order;

enum class TRequest { Nothing, Show, ShowAndTerminate };
TRequest Request;

// A component of the form that, like the screensaver component, acts once the form's stored properties are set.
class TRequester : public TComponent {
public:
    explicit TRequester(TCustomForm* form) : TComponent(form), FForm(form) { SetLoading(); }
    void Loaded() override {
        TComponent::Loaded();
        Order.push_back("component loaded");
        if (Request != TRequest::Nothing) FForm->Show();
        if (Request == TRequest::ShowAndTerminate) Application->Terminate();
    }

private:
    TCustomForm* FForm;
};

class TOrderForm : public TPlainForm {
public:
    explicit TOrderForm(TComponent* owner) : TPlainForm(owner) {
        new TRequester(this);
        OnCreate = [this](TObject*) {
            Order.push_back(HandleAllocated() && IsWindowVisible(Handle()) ? "create (visible)" : "create");
        };
        OnShow = [](TObject*) { Order.push_back("show"); };
    }
    void Loaded() override {
        TPlainForm::Loaded();
        Order.push_back("form loaded");
    }
    std::string ClassName() const override { return "TOrderForm"; }
};

TEST_F(FormsTest, CreateFormRunsLoadedThenOnCreateThenADeferredShow) {
    const struct {
        TRequest Request;
        std::vector<std::string> Order;
        bool Visible;
    } rows[] = {
        {TRequest::Nothing, {"form loaded", "component loaded", "create"}, false},
        {TRequest::Show, {"form loaded", "component loaded", "create", "show"}, true},
        // A component that ends the program during creation leaves nothing to set up or show.
        {TRequest::ShowAndTerminate, {"form loaded", "component loaded"}, false},
    };
    for (const auto& row : rows) {
        DoneApplication();
        InitApplication();
        Order.clear();
        Request = row.Request;
        TOrderForm* form = Application->CreateForm<TOrderForm>();
        EXPECT_EQ(Order, row.Order) << static_cast<int>(row.Request);
        EXPECT_EQ(Application->MainForm(), form);
        EXPECT_EQ(IsWindowVisible(form->Handle()) != 0, row.Visible) << static_cast<int>(row.Request);
        EXPECT_EQ(form->Visible(), row.Visible);
    }
}

TEST_F(FormsTest, EndingTheApplicationRunsOnDestroyOnceWhileTheComponentsStillExist) {
    DoneApplication();
    InitApplication();
    Order.clear();
    Request = TRequest::Nothing;
    TOrderForm* form = Application->CreateForm<TOrderForm>();
    const size_t components = form->ComponentCount();
    ASSERT_GT(components, 0u);
    form->OnDestroy = [form, components](TObject*) {
        Order.push_back(form->ComponentCount() == components ? "destroy, components there" : "destroy, too late");
    };
    DoneApplication();
    EXPECT_EQ(std::count(Order.begin(), Order.end(), "destroy, components there"), 1);
    EXPECT_EQ(std::count(Order.begin(), Order.end(), "destroy, too late"), 0);
    InitApplication();
}

// --- Window procedure replacement ---

constexpr UINT WM_HOOKED = WM_APP + 7;

// Takes over the form's WindowProc as the screensaver component does, and gives it back when freed.
class THook : public TComponent {
public:
    explicit THook(TWinControl* target) : TComponent(target), FTarget(target), FSaved(target->WindowProc) {
        target->WindowProc = [this](TMessage& message) {
            if (message.Msg == WM_HOOKED) {
                ++Hooked;
                message.Result = 42;
                return;
            }
            if (message.Msg == WM_SETTEXT) ++Passed;
            FSaved(message);
        };
    }
    ~THook() override { FTarget->WindowProc = FSaved; }
    int Hooked = 0;
    int Passed = 0;

private:
    TWinControl* FTarget;
    TWndMethod FSaved;
};

TEST_F(FormsTest, AComponentReplacesWindowProcAndRestoresIt) {
    auto* form = NewForm<TPlainForm>();
    HWND window = form->Handle();
    auto* hook = new THook(form);

    EXPECT_EQ(SendMessageA(window, WM_HOOKED, 0, 0), 42);
    EXPECT_EQ(form->Perform(WM_HOOKED, 0, 0), 42);
    EXPECT_EQ(hook->Hooked, 2);
    // What the hook does not take reaches the form's own handling and the window class.
    SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("through"));
    EXPECT_EQ(hook->Passed, 1);
    char text[32] = {};
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ(text, "through");

    hook->Free();
    EXPECT_EQ(SendMessageA(window, WM_HOOKED, 0, 0), 0);
    EXPECT_EQ(form->Perform(WM_HOOKED, 0, 0), 0);
}

// --- Border style ---

// A preview window's child style is set by hand; a later border style must not touch the bits it does not own.
TEST_F(FormsTest, BorderStyleNoneKeepsAnExactChildStyle) {
    HWND host = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 160, 120, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_TRUE(host);
    for (TFormBorderStyle before :
         {TFormBorderStyle::bsSizeable, TFormBorderStyle::bsSingle, TFormBorderStyle::bsDialog}) {
        auto* form = new TForm(Application);
        form->SetBorderStyle(before);
        form->EndCreate();
        HWND window = form->Handle();
        ::SetParent(window, host);
        SetWindowLongA(window, GWL_STYLE, WS_CHILD | WS_DISABLED);
        form->SetBorderStyle(TFormBorderStyle::bsNone);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), static_cast<DWORD>(WS_CHILD | WS_DISABLED))
            << static_cast<int>(before);
        EXPECT_EQ(GetParent(window), host);
        form->Free();
    }
    DestroyWindow(host);
}

// --- Closing ---

TEST_F(FormsTest, ClosingTheMainFormEndsRun) {
    for (bool byTimer : {false, true}) {
        DoneApplication();
        InitApplication();
        TPlainForm* form = Application->CreateForm<TPlainForm>();
        if (byTimer) {
            auto* timer = new TTimer(form);
            timer->SetInterval(10);
            timer->OnTimer = [form](TObject*) { form->Close(); };
        } else {
            PostMessageA(form->Handle(), WM_CLOSE, 0, 0);
        }
        Application->Run();
        EXPECT_TRUE(Application->Terminated()) << "by timer " << byTimer;
        EXPECT_TRUE(IsWindow(form->Handle())); // closing ends the loop; the form goes with the application
    }
}

TEST_F(FormsTest, ShowModalReturnsWhenTheFormCloses) {
    enum class TEnd { PostedClose, TimerClose, TimerResult };
    const struct {
        TEnd End;
        int Result;
    } rows[] = {{TEnd::PostedClose, mrCancel}, {TEnd::TimerClose, mrCancel}, {TEnd::TimerResult, mrOk}};

    TPlainForm* main = Application->CreateForm<TPlainForm>();
    main->Show();
    ASSERT_TRUE(IsWindowVisible(main->Handle()));
    for (const auto& row : rows) {
        auto* dialog = NewForm<TPlainForm>();
        bool mainEnabledWhileModal = true;
        dialog->OnShow = [&](TObject*) { mainEnabledWhileModal = IsWindowEnabled(main->Handle()) != 0; };
        if (row.End == TEnd::PostedClose) {
            PostMessageA(dialog->Handle(), WM_CLOSE, 0, 0);
        } else {
            auto* timer = new TTimer(dialog);
            timer->SetInterval(10);
            timer->OnTimer = [dialog, &row](TObject*) {
                if (row.End == TEnd::TimerClose)
                    dialog->Close();
                else
                    dialog->SetModalResult(mrOk);
            };
        }
        EXPECT_EQ(dialog->ShowModal(), row.Result) << static_cast<int>(row.End);
        EXPECT_FALSE(mainEnabledWhileModal);
        EXPECT_TRUE(IsWindowEnabled(main->Handle()));
        EXPECT_FALSE(IsWindowVisible(dialog->Handle()));
        EXPECT_FALSE(Application->Terminated());
        dialog->Free();
    }
}

// --- Timer ---

TEST_F(FormsTest, TimerTicksOnTheMainThreadUntilDisabled) {
    auto* timer = new TTimer(Application);
    int ticks = 0;
    bool otherThread = false;
    const DWORD mainThread = GetCurrentThreadId();
    timer->SetInterval(10);
    timer->OnTimer = [&](TObject* sender) {
        if (GetCurrentThreadId() != mainThread || sender != timer) otherThread = true;
        if (++ticks == 3) {
            timer->SetEnabled(false);
            Application->Terminate();
        }
    };
    Application->Run();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(otherThread);
}

// --- Exceptions at the edges ---

constexpr UINT WM_FAIL = WM_APP + 9;

class TFailingForm : public TPlainForm {
public:
    using TPlainForm::TPlainForm;
    void WndProc(TMessage& message) override {
        if (message.Msg == WM_FAIL) throw Exception("window procedure failed");
        TPlainForm::WndProc(message);
    }
    std::string ClassName() const override { return "TFailingForm"; }
};

TEST_F(FormsTest, AnExceptionInAHandlerReachesOnExceptionAndGoesNoFurther) {
    std::vector<std::string> caught;
    Application->OnException = [&caught](TObject* sender, std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const Exception& e) {
            caught.push_back(e.Message() + (sender == Application ? "" : " (other sender)"));
        } catch (...) {
            caught.push_back("unknown");
        }
    };
    auto* form = NewForm<TFailingForm>();
    HWND window = form->Handle();

    EXPECT_NO_THROW(SendMessageA(window, WM_FAIL, 0, 0));
    ASSERT_EQ(caught.size(), 1u);

    PostMessageA(window, WM_FAIL, 0, 0);
    EXPECT_NO_THROW(EXPECT_TRUE(PumpUntil([&] { return caught.size() == 2; })));

    auto* timer = new TTimer(form);
    timer->SetInterval(10);
    timer->OnTimer = [timer](TObject*) {
        timer->SetEnabled(false);
        throw Exception("timer failed");
    };
    EXPECT_NO_THROW(EXPECT_TRUE(PumpUntil([&] { return caught.size() == 3; })));

    // Without a handler the exception is dropped.
    Application->OnException = nullptr;
    EXPECT_NO_THROW(SendMessageA(window, WM_FAIL, 0, 0));

    EXPECT_EQ(caught, (std::vector<std::string>{"window procedure failed", "window procedure failed", "timer failed"}));
}

} // namespace
