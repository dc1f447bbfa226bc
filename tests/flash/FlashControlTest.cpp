// The Flash control wrapper and the OLE host under it, against the stand-in player registered in the prefix.
#include "FlashControlFixture.h"

#include "flash/ShockwaveFlashObjects_TLB.h"

namespace {

TShockwaveFlash* NewFlash(TCustomForm* form) {
    auto* flash = new TShockwaveFlash(form);
    flash->SetBounds(10, 20, 200, 100);
    flash->SetParent(form);
    return flash;
}

TEST_F(FlashControlTest, PropertiesArriveByDispatchIdentifierWithTheirTypes) {
    TShockwaveFlash* flash = NewFlash(Form);
    flash->SetMovie(std::wstring(L"C:\\movies\\\u00e9t\u00e9.swf"));
    flash->SetMovie(std::string("C:\\movies\\plain.swf"));
    flash->SetQuality(3);
    flash->SetLoop(true);
    flash->SetLoop(false);
    flash->SetBackgroundColor(0x00336699);
    flash->SetMenu(false);
    flash->SetMenu(true);
    flash->SetScale(std::string("noscale"));
    flash->SetFlashVars(std::string("a=1&b=2&mutonemode=normal"));
    const std::vector<std::string> expected = {
        "put 102 bstr C:\\movies\\\xC3\xA9t\xC3\xA9.swf",
        "put 102 bstr C:\\movies\\plain.swf",
        "put 105 i4 3",
        "put 106 bool -1",
        "put 106 bool 0",
        "put 123 i4 3368601",
        "put 135 bool 0",
        "put 135 bool -1",
        "put 137 bstr noscale",
        "put 170 bstr a=1&b=2&mutonemode=normal",
    };
    EXPECT_EQ(Record("put "), expected);
}

TEST_F(FlashControlTest, MethodsArriveBySlotOfTheDualInterface) {
    TShockwaveFlash* flash = NewFlash(Form);
    flash->Play();
    flash->Stop();
    flash->StopPlay();
    flash->DisableLocalSecurity();
    const std::vector<std::string> expected = {"call 28 Play", "call 29 Stop", "call 33 StopPlay",
                                               "call 95 DisableLocalSecurity"};
    EXPECT_EQ(Record("call "), expected);
}

TEST_F(FlashControlTest, RefusedCallsRaiseOnlyForThemselves) {
    SetEnvironmentVariableA("MUTONE_PLAYER_FAIL", "put105,call29");
    TShockwaveFlash* flash = NewFlash(Form);
    EXPECT_THROW(flash->SetQuality(1), EOleError);
    EXPECT_NO_THROW(flash->SetLoop(true));
    EXPECT_THROW(flash->Stop(), EOleError);
    EXPECT_NO_THROW(flash->StopPlay());
}

TEST_F(FlashControlTest, FSCommandReachesTheHandlerWithBothStrings) {
    TShockwaveFlash* flash = NewFlash(Form);
    std::vector<std::pair<std::wstring, std::wstring>> received;
    flash->OnFSCommand = [&](const std::wstring& command, const std::wstring& args) {
        received.emplace_back(command, args);
    };
    // On request through the registered message: delivered before SendMessage returns.
    RequestFSCommand("QUIT\n\xC3\xA9 and more");
    SendMessageA(flash->Handle(), RegisterWindowMessageA("MutonePlayerCheckTrigger"), 0, 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].first, L"QUIT");
    EXPECT_EQ(received[0].second, L"\u00e9 and more");
    // And on the player's own timer, as a movie would send it.
    RequestFSCommand("next\n");
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }));
    EXPECT_EQ(received[1].first, L"next");
    EXPECT_EQ(received[1].second, L"");
}

TEST_F(FlashControlTest, ControlWindowIsAChildOfTheFormAndFollowsItsBounds) {
    TShockwaveFlash* flash = NewFlash(Form);
    HWND window = flash->Handle();
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    EXPECT_STREQ(className, "MutoneStandInPlayer");
    EXPECT_EQ(GetParent(window), Form->Handle());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(Record("window ").size(), 1u);

    RECT rect;
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, Form->Handle(), reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 20);
    EXPECT_EQ(rect.right - rect.left, 200);
    EXPECT_EQ(rect.bottom - rect.top, 100);

    flash->SetAlign(TAlign::alClient);
    Form->SetBounds(20, 20, 400, 300);
    GetWindowRect(window, &rect);
    EXPECT_EQ(rect.right - rect.left, Form->ClientWidth());
    EXPECT_EQ(rect.bottom - rect.top, Form->ClientHeight());
    const std::string last = Record("SetObjectRects ").back();
    EXPECT_EQ(last,
              "SetObjectRects 0 0 " + std::to_string(Form->ClientWidth()) + " " + std::to_string(Form->ClientHeight()));
}

// Derived controls see the control's own messages first and may keep them from it.
class TFilteringFlash : public TShockwaveFlash {
public:
    using TShockwaveFlash::TShockwaveFlash;
    void WndProc(TMessage& message) override {
        if (message.Msg == WM_LBUTTONDOWN) {
            ++Dropped;
            message.Result = 0;
            return;
        }
        TShockwaveFlash::WndProc(message);
    }
    int Dropped = 0;
};

TEST_F(FlashControlTest, ControlMessagesPassThroughTheWindowProcedure) {
    auto* flash = new TFilteringFlash(Form);
    flash->SetBounds(0, 0, 100, 100);
    flash->SetParent(Form);
    SendMessageA(flash->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(flash->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(flash->Dropped, 1);
    EXPECT_EQ(CountMessages(WM_LBUTTONDOWN), 0u);
    EXPECT_EQ(CountMessages(WM_LBUTTONUP), 1u);
}

TEST_F(FlashControlTest, DestructionDeactivatesClosesAndReleasesTheControl) {
    TShockwaveFlash* flash = NewFlash(Form);
    HWND window = flash->Handle();
    flash->Free();
    EXPECT_FALSE(IsWindow(window));
    const std::vector<std::string> record = Record();
    std::vector<std::string> tail;
    for (const std::string& line : record)
        if (line.compare(0, 4, "msg ") != 0) tail.push_back(line);
    const std::vector<std::string> expected = {"Unadvise 1",        "InPlaceDeactivate",  "Close 1",
                                               "InPlaceDeactivate", "SetClientSite null", "destroy"};
    ASSERT_GE(tail.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(tail.end() - static_cast<ptrdiff_t>(expected.size()), tail.end()), expected);
    // The form lives on without the control.
    SendMessageA(Form->Handle(), WM_SIZE, 0, 0);
}

// A parent whose window cannot be made.
class TBrokenParent : public TWinControl {
public:
    using TWinControl::TWinControl;

protected:
    void CreateWnd() override { throw Exception("no window"); }
};

TEST_F(FlashControlTest, TheSiteAnswersTheControlWhenItsContainerCannotBeMade) {
    auto* parent = new TBrokenParent(Form);
    auto* flash = new TShockwaveFlash(Form);
    flash->SetParent(parent);
    ComPtr<IOleClientSite> site;
    ASSERT_EQ(flash->OleObject()->GetClientSite(site.put()), S_OK);
    ComPtr<IOleInPlaceSite> inPlace;
    ASSERT_EQ(site->QueryInterface(IID_IOleInPlaceSite, inPlace.put_void()), S_OK);

    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    ComPtr<IOleInPlaceFrame> frame;
    ComPtr<IOleInPlaceUIWindow> document;
    RECT position, clip;
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    info.hwndFrame = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindowContext(frame.put(), document.put(), &position, &clip, &info), S_OK);
    EXPECT_EQ(info.hwndFrame, nullptr);
}

TEST_F(FlashControlTest, WithoutARegisteredControlCreationRaises) {
    ASSERT_TRUE(UnregisterStandInPlayer());
    try {
        new TShockwaveFlash(Form);
        FAIL() << "created a control that is not installed";
    } catch (const EOleError& error) {
        EXPECT_EQ(error.ErrorCode(), REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(Form->ComponentCount(), 0u);
}

} // namespace
