// User notifications on the headless model, through the centre and through
// the alert fallback: shown, updated in place, removed.
#include "platform/ui/native_notify.h"

#include <string>

#include "tests/support/native_ui.h"

namespace {

using NativeNotifyTest = NativeUITest;

class NativeNotifyAlertTest : public NativeUITest {
  protected:
    void SetUp() override {
        NativeUIModel_SetNotificationCentre(0);
        NativeUITest::SetUp();
    }
};

} // namespace

TEST_F(NativeNotifyTest, TypesShapeTitleAndSubtitle) {
    NativeWindowRecord *Window = NativeUIModel_CreateWindow(0, 0, 10, 10);
    struct { int32 Type; const char *Title, *Subtitle; } Rows[] = {
        {2, "Error", "Install"}, {1, "Warning", "Install"}, {0, "Install", ""}, {5, "Install", ""}};
    int32 Id = 1;
    for (auto &Row : Rows) {
        ASSERT_EQ(NativeNotify_Update(Window, Id, Row.Type, "Install", "Caf&#233; ready"), 1);
        const NativeNotification &Note = Model->Delivered.back();
        EXPECT_EQ(Note.Identifier, std::to_string(Id));
        EXPECT_EQ(Note.Title, Row.Title);
        EXPECT_EQ(Note.Subtitle, Row.Subtitle);
        EXPECT_EQ(Note.Informative, "Caf\xC3\xA9 ready");
        EXPECT_EQ(Note.Sound, "DefaultSoundName");
        Id++;
    }
    EXPECT_EQ(GlobalNativeUI->NotificationDelegate, Window);
    EXPECT_EQ(NativeNotify_Add(Window), 1);
    NativeUIModel_DeleteWindow(Window);
}

TEST_F(NativeNotifyTest, CentreUpdatesInPlaceAndRemoves) {
    NativeWindowRecord *Window = NativeUIModel_CreateWindow(0, 0, 10, 10);
    NativeNotify_Update(Window, 7, 0, "T", "first");
    NativeNotify_Update(Window, 7, 0, "T", "second");
    NativeNotify_Update(Window, 8, 0, "T", "other");
    ASSERT_EQ(Model->Delivered.size(), 2u);
    EXPECT_EQ(Model->Delivered[0].Informative, "second");
    EXPECT_EQ(NativeNotify_Remove(Window, 7), 1);
    EXPECT_EQ(NativeNotify_Remove(Window, 7), 0);
    EXPECT_EQ(NativeNotify_Remove(Window, 99), 0);
    ASSERT_EQ(Model->Delivered.size(), 1u);
    EXPECT_EQ(Model->Delivered[0].Identifier, "8");
    NativeUIModel_DeleteWindow(Window);
}

TEST_F(NativeNotifyTest, ProcessDelegateTakesShownNotificationsOffTheList) {
    NativeNotify_Update(nullptr, 3, 0, "T", "shown");
    ASSERT_EQ(Model->Presented.size(), 1u);
    EXPECT_EQ(Model->Presented[0].Informative, "shown");
    EXPECT_TRUE(Model->Delivered.empty());
    EXPECT_EQ(NativeNotify_Remove(nullptr, 3), 0);
}

TEST_F(NativeNotifyAlertTest, AlertTableUpdatesInPlaceAndRemoves) {
    ASSERT_NE(GlobalNativeUI->AlertNotificationTable, nullptr);
    NativeNotify_Update(nullptr, 7, 2, "Install", "first");
    NativeNotify_Update(nullptr, 7, 2, "Install", "second");
    NativeNotify_Update(nullptr, 9, 1, "Disk &#8364;", "low");
    EXPECT_TRUE(Model->Delivered.empty());
    ASSERT_EQ(Model->AlertNotes.size(), 2u);
    EXPECT_EQ(Model->AlertNotes[7].Informative, "second");
    EXPECT_EQ(Model->AlertNotes[7].Title, "Install");
    EXPECT_EQ(Model->AlertNotes[7].Level, 2);
    EXPECT_EQ(Model->AlertNotes[9].Title, "Disk \xE2\x82\xAC");
    EXPECT_EQ(Model->AlertNotes[9].Level, 1);
    EXPECT_EQ(NativeNotify_Remove(nullptr, 7), 1);
    EXPECT_EQ(NativeNotify_Remove(nullptr, 7), 0);
    EXPECT_EQ(NativeNotify_Remove(nullptr, 12), 0);
    EXPECT_EQ(Model->AlertNotes.count(7), 0u);
    // Stopping the native UI cancels what is left (the model is freed with it).
    EXPECT_EQ(Model->AlertNotes.size(), 1u);
}
