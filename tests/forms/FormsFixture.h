// What the Win32 tests of the forms layer share: a fresh application per test, borderless test forms and a
// message pump that waits for a condition.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "TestSupport.h"
#include "forms/Forms.h"

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override { InitApplication(); }
    void TearDown() override {
        DoneApplication();
        // A quit message or a stray tick must not reach the next test of this process.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
};

// Test forms are borderless: Wine without a window manager spends about two seconds hiding each captioned window.
class TPlainForm : public TForm {
public:
    explicit TPlainForm(TComponent* owner) : TForm(owner) {
        SetBorderStyle(TFormBorderStyle::bsNone);
        SetBounds(10, 10, 200, 150);
    }
    std::string ClassName() const override { return "TPlainForm"; }
};

template <class TFormClass> TFormClass* NewForm() {
    auto* form = new TFormClass(Application);
    form->EndCreate();
    return form;
}
