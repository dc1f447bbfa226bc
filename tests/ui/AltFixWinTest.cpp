// The Alt-key fix under Wine: which WM_UPDATEUISTATE messages invalidate a form and its windowed children, and
// on which system versions the hook is there at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "forms/Forms.h"
#include "ui/uAltFixOnVista.h"

namespace {

class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner) : TForm(owner) {
        // Borderless: Wine without a window manager spends seconds hiding a captioned window.
        SetBorderStyle(TFormBorderStyle::bsNone);
        SetBounds(40, 40, 300, 200);
    }
    std::string ClassName() const override { return "TAltFixTestForm"; }
};

class AltFixTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitApplication();
        OnThemesInEffect = [this] { return Themed; };
        Form = new TTestForm(Application);
        Fix = new TAltFixOnVista(Form);
        Panel = NewChild(Form, 10, 10, 200, 150);
        Inner = NewChild(Panel, 10, 10, 100, 80);
        Form->EndCreate();
        Form->Show();
    }
    void TearDown() override {
        OnThemesInEffect = ThemesInEffect;
        Form->Free();
        DoneApplication();
    }
    TWinControl* NewChild(TWinControl* parent, int left, int top, int width, int height) {
        auto* child = new TWinControl(Form);
        child->SetBounds(left, top, width, height);
        child->SetVisible(true);
        child->SetParent(parent);
        return child;
    }
    // Paints whatever is pending, so that every window starts without an update region.
    void Settle() {
        Application->ProcessMessages();
        for (TWinControl* control : {static_cast<TWinControl*>(Form), Panel, Inner})
            UpdateWindow(control->Handle());
        ASSERT_FALSE(Pending(Form) || Pending(Panel) || Pending(Inner));
    }
    static bool Pending(TWinControl* control) { return GetUpdateRect(control->Handle(), nullptr, FALSE) != FALSE; }
    void SendUpdateUIState(TWinControl* target) {
        SendMessageA(target->Handle(), WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEACCEL | UISF_HIDEFOCUS), 0);
    }

    bool Themed = true;
    TTestForm* Form = nullptr;
    TAltFixOnVista* Fix = nullptr;
    TWinControl* Panel = nullptr;
    TWinControl* Inner = nullptr;
};

TEST_F(AltFixTest, HookIsInstalledOnThisVersion) {
    // Wine reports 6.1 unless told otherwise.
    EXPECT_TRUE(AltFixHookInstalled());
    EXPECT_EQ(Fix->Owner(), Form);
}

TEST_F(AltFixTest, ThemedFormIsInvalidatedWithItsWindowedChildren) {
    Settle();
    SendUpdateUIState(Form);
    EXPECT_TRUE(Pending(Form));
    EXPECT_TRUE(Pending(Panel));
    EXPECT_TRUE(Pending(Inner));
}

TEST_F(AltFixTest, AChildWindowAsTargetInvalidatesNothing) {
    Settle();
    SendUpdateUIState(Panel);
    SendUpdateUIState(Inner);
    EXPECT_FALSE(Pending(Form));
    EXPECT_FALSE(Pending(Panel));
    EXPECT_FALSE(Pending(Inner));
}

TEST_F(AltFixTest, WithoutVisualStylesOrForOtherMessagesNothingIsInvalidated) {
    Themed = false;
    Settle();
    SendUpdateUIState(Form);
    EXPECT_FALSE(Pending(Form) || Pending(Panel) || Pending(Inner));

    Themed = true;
    SendMessageA(Form->Handle(), WM_NULL, 0, 0);
    EXPECT_FALSE(Pending(Form) || Pending(Panel) || Pending(Inner));
}

// Runs the probe and returns its exit code; with a version, as Wine's per-program setting for it.
DWORD RunProbe(const char* version) {
    const char appKey[] = "Software\\Wine\\AppDefaults\\ui_altfix_probe.exe";
    if (version) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, appKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                           static_cast<DWORD>(strlen(version) + 1));
            RegCloseKey(key);
        }
    }
    DWORD code = 0xFFFFFFFF;
    try {
        code = RunAndCapture(Quoted(ExeDirectory() + "ui_altfix_probe.exe")).ExitCode;
    } catch (const std::exception&) {
    }
    if (version) RegDeleteTreeA(HKEY_CURRENT_USER, appKey);
    return code;
}

TEST(AltFixHook, InstalledFromVistaOnAndNotOnXP) {
    const DWORD seven = RunProbe(nullptr);
    ASSERT_NE(seven, 0xFFFFFFFFu);
    EXPECT_EQ(seven & 1, 1u);
    EXPECT_EQ(RunProbe("winxp") & 1, 0u);
    EXPECT_EQ(RunProbe("vista") & 1, 1u);
    // What this Wine says about visual styles, for the record; the hook's decision follows the query.
    const bool inEffect = (seven & 2) && (seven & 4);
    EXPECT_EQ((seven & 16) != 0, inEffect);
    std::printf("IsAppThemed %d, IsThemeActive %d, common controls 6 %d\n", (seven & 2) != 0, (seven & 4) != 0,
                (seven & 8) != 0);
}

} // namespace
