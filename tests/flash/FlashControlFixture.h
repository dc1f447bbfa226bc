// A form on the desktop with the stand-in player registered under the Flash control's class, and readers of the
// player's record.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "forms/ComObj.h"
#include "forms/Forms.h"
#include "player/PlayerRegistration.h"

class TTestForm : public TForm {
public:
    explicit TTestForm(TComponent* owner) : TForm(owner) {
        // Borderless: Wine without a window manager spends seconds hiding a captioned window.
        SetBorderStyle(TFormBorderStyle::bsNone);
        SetBounds(20, 20, 320, 240);
    }
    std::string ClassName() const override { return "TFlashTestForm"; }
};

inline std::string TempPath(const std::string& name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name + "." + std::to_string(GetCurrentProcessId());
}

// Dispatches this thread's messages until `count` timer messages of `window` have gone through the loop.
inline bool DispatchTimerMessages(HWND window, int count) {
    int seen = 0;
    for (int i = 0; i < 1000 && seen < count; ++i) {
        MSG msg;
        while (seen < count && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER && msg.hwnd == window) ++seen;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (seen < count) MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return seen >= count;
}

class FlashControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitApplication();
        RecordPath = TempPath("mutone_player_record");
        TriggerPath = TempPath("mutone_player_trigger");
        DeleteFileA(RecordPath.c_str());
        DeleteFileA(TriggerPath.c_str());
        SetEnvironmentVariableA("MUTONE_PLAYER_RECORD", RecordPath.c_str());
        SetEnvironmentVariableA("MUTONE_PLAYER_TRIGGER", TriggerPath.c_str());
        SetEnvironmentVariableA("MUTONE_PLAYER_FAIL", nullptr);
        ASSERT_TRUE(RegisterStandInPlayer(ExeDirectory() + "mutone_player10.dll"));
        Form = new TTestForm(Application);
        Form->EndCreate();
        Form->Show();
    }
    void TearDown() override {
        if (Form) Form->Free();
        UnregisterStandInPlayer();
        DoneApplication();
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
        DeleteFileA(RecordPath.c_str());
        DeleteFileA(TriggerPath.c_str());
    }

    // The record's lines without the instance prefix, optionally only those that start with `event`.
    std::vector<std::string> Record(const std::string& event = "") const {
        std::vector<std::string> lines;
        std::ifstream file(RecordPath);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string text = line.substr(line.find(' ') + 1);
            if (text.compare(0, event.size(), event) == 0) lines.push_back(text);
        }
        return lines;
    }
    size_t CountMessages(UINT msg) const {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "msg 0x%04X ", msg);
        return Record(prefix).size();
    }

    // Hands the player a command to fire, written whole before it can be seen.
    void RequestFSCommand(const std::string& utf8Text) {
        const std::string temporary = TriggerPath + ".new";
        std::ofstream(temporary, std::ios::binary) << utf8Text;
        ASSERT_TRUE(MoveFileExA(temporary.c_str(), TriggerPath.c_str(), MOVEFILE_REPLACE_EXISTING));
    }

    TComApartment Apartment;
    std::string RecordPath;
    std::string TriggerPath;
    TTestForm* Form = nullptr;
};
