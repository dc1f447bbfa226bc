// The web link label driven with real input under Wine: its colours, underline and cursor through hover, press,
// leaving and coming back while pressed, and release.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "forms/FormsFixture.h"
#include "ui/uSimpleWebLabel.h"

namespace {

void Send(INPUT input) {
    ASSERT_EQ(SendInput(1, &input, sizeof(INPUT)), 1u);
}

INPUT Mouse(DWORD flags, POINT at = {}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    const int left = GetSystemMetrics(SM_XVIRTUALSCREEN), top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    input.mi.dx = static_cast<LONG>(((at.x - left) * 65535LL + width / 2) / (width - 1));
    input.mi.dy = static_cast<LONG>(((at.y - top) * 65535LL + height / 2) / (height - 1));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    return input;
}

struct TLabelState {
    TColor Color;
    bool Underlined;
    TCursor Cursor;
    friend bool operator==(const TLabelState&, const TLabelState&) = default;
};
void PrintTo(const TLabelState& s, std::ostream* out) {
    *out << std::hex << "colour 0x" << s.Color << (s.Underlined ? " underlined" : " plain") << std::dec << " cursor "
         << s.Cursor;
}

class SimpleWebLabelTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        FForm = NewForm<TPlainForm>();
        FForm->SetBounds(40, 40, 300, 100);
        FLabel = new TSimpleWebLabelEx(FForm);
        FLabel->SetParent(FForm);
        FLabel->SetBounds(20, 20, 0, 0);
        FLabel->SetCaption("Example & Sons");
        FLabel->SetVisible(true);
        FLabel->OnClick = [this](TObject*) { ++FClicks; }; // instead of starting a browser
        FForm->Show();
        SetForegroundWindow(FForm->Handle());
        Outside = {30, 200};
        Move(Outside);
    }

    POINT Inside() const {
        RECT rect;
        GetWindowRect(FLabel->Handle(), &rect);
        return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    }
    TLabelState State() const {
        return {FLabel->Font().Color(), (FLabel->Font().Style() & fsUnderline) != 0, FLabel->Cursor()};
    }
    // Sends the input and lets the label handle it.
    void Move(POINT to) {
        Send(Mouse(MOUSEEVENTF_MOVE, to));
        PumpUntil([&] {
            POINT at;
            return GetCursorPos(&at) && at.x == to.x && at.y == to.y;
        });
        Settle();
    }
    void Button(bool down) {
        Send(Mouse(down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP));
        PumpUntil([&] { return ((GetAsyncKeyState(VK_LBUTTON) & 0x8000) != 0) == down; });
        Settle();
    }
    // The system notices that the pointer left only on a timer of its own: wait for the state rather than for time.
    void ExpectState(const TLabelState& expected, const char* when) {
        PumpUntil([&] { return State() == expected; });
        EXPECT_EQ(State(), expected) << when;
    }
    void Settle() {
        for (int i = 0; i < 5; ++i) {
            Application->ProcessMessages();
            Sleep(10);
        }
    }

    TPlainForm* FForm = nullptr;
    TSimpleWebLabelEx* FLabel = nullptr;
    int FClicks = 0;
    POINT Outside{};
};

const TLabelState Normal{0x000000, false, crDefault};
const TLabelState Over{0xFF0000, true, crHandPoint};
const TLabelState Clicking{0x0000FF, true, crHandPoint};

TEST_F(SimpleWebLabelTest, ALabelWithALinkFollowsTheMouseAndTheButton) {
    FLabel->SetURL("example.com");
    EXPECT_EQ(State(), Normal);
    Move(Inside());
    EXPECT_EQ(State(), Over) << "hovering";
    Button(true);
    EXPECT_EQ(State().Color, Clicking.Color) << "pressed";
    Move(Outside);
    ExpectState(Normal, "left while pressed");
    Move(Inside());
    EXPECT_EQ(State(), Clicking) << "back in while still pressed";
    Button(false);
    EXPECT_EQ(FClicks, 1) << "released over the label";
    EXPECT_EQ(State().Color, Normal.Color) << "after the click, although still over it";
    Move(Outside);
    ExpectState(Normal, "left after the click");
    Move(Inside());
    ExpectState(Over, "the hover colour returns with the next enter");

    // Pressed on the label and released elsewhere: no click.
    Button(true);
    Move(Outside);
    Button(false);
    EXPECT_EQ(FClicks, 1);
    ExpectState(Normal, "released elsewhere");
}

TEST_F(SimpleWebLabelTest, ALabelWithoutALinkStaysPlain) {
    Move(Inside());
    EXPECT_EQ(State(), Normal) << "hovering";
    Button(true);
    EXPECT_EQ(State(), Normal) << "pressed";
    Button(false);
    Move(Outside);
    ExpectState(Normal, "left");
}

} // namespace
