// A runtime with the native user interface on the headless model, for the
// tests of the native modules.
#pragma once

#include "platform/ui/native_ui.h"
#include "platform/posix/native_ui_model.h"
#include "tests/support/runtime.h"

class NativeUITest : public RuntimeTest {
  protected:
    NativeModelState *Model = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        ASSERT_EQ(NativeUI_Init(), 1);
        Model = NativeUIModel_State();
        ASSERT_NE(Model, nullptr);
    }
    void TearDown() override {
        NativeUI_Remove();
        NativeUIModel_SetNotificationCentre(1);
        RuntimeTest::TearDown();
    }
};
