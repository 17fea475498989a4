// Task-type registry: the default table in its fixed order, finding without
// case, de-duplication, removal by record and by name, the remove callback,
// and the default records removed in reverse order.
#include "workflow/task_type_list.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <string>
#include <vector>

#include "tests/support/workflow_loop.h"
#include "workflow/tasks/unavailable_task.h"

namespace {

const char *const TableOrder[TASKTYPELIST_DEFAULT_COUNT] = {
    "InteropLoad", "InteropUnload", "CertStoreLoad", "Queue", "Aggregate", "End", "Error", "Shutdown", "Implode",
    "Sleep", "Log", "Notification", "Status", "StringContains", "StringCompare", "NumberCompare", "VersionCompare",
    "Singleton", "Environment", "EnvironmentGet", "EnvironmentSet", "Macro", "PlistWrite", "PlistRead", "FileCopy",
    "FileMove", "FileDelete", "FileExists", "FileTruncate", "FileHash", "FileAuthenticate", "DirectoryCreate",
    "DirectoryCopy", "DirectoryMove", "DirectoryDelete", "DirectoryExists", "DirectoryList", "DirectoryIsEmpty",
    "DirectoryIsWritable", "DiskSpaceCheck", "RepositoryCheck", "RepositoryFileCheck", "RepositorySync",
    "RepositoryErase", "Open", "ProgramOpen", "ProcessOpen", "ProgramIsOpen", "ProcessIsOpen", "ProgramClose",
    "ProcessClose", "ProcessList", "Launch", "RegistryKeyWrite", "RegistryKeyRead", "RegistryKeyCreate",
    "RegistryKeyDelete", "RegistryKeyExists", "DMGMount", "DMGUnmount", "PKG", "ShortcutCreate", "ShortcutDelete",
    "URLRedirect", "URLRedirectMacro", "Unzip", "Download", "IniRead", "IniWrite", "XMLRead", "XMLWrite",
    "JSONRead", "JSONWrite", "Analytics", "Progress", "WorkflowRun"};

std::vector<std::string> Removed;

int32 RecordRemoval(void *, const TaskInterface *Record) {
    Removed.emplace_back(Record->Name);
    return TRUE;
}

int32 OtherCreate(void **Handle, Task *) {
    *Handle = nullptr;
    return TRUE;
}

class TaskTypeListTest : public RuntimeTest {
  protected:
    TaskTypeList *List = nullptr;
    void SetUp() override {
        RuntimeTest::SetUp();
        TaskTypeList_Create(&List);
        TaskTypeList_SetRemoveCallback(List, nullptr, RecordRemoval);
        Removed.clear();
    }
    void TearDown() override {
        TaskTypeList_Release(&List);
        RuntimeTest::TearDown();
    }
};

TEST_F(TaskTypeListTest, DefaultTableOrder) {
    for (int32 Index = 0; Index < TASKTYPELIST_DEFAULT_COUNT; Index++) {
        ASSERT_NE(GlobalDefaultTaskInterfaces[Index], nullptr);
        EXPECT_STREQ(GlobalDefaultTaskInterfaces[Index]->Name, TableOrder[Index]) << Index;
    }
    EXPECT_EQ(GlobalDefaultTaskInterfaces[TASKTYPELIST_DEFAULT_COUNT], nullptr);
}

TEST_F(TaskTypeListTest, FindsWithoutCaseAndRemovesInReverse) {
    TaskTypeList_AddDefaultTasks(List);
    TaskTypeList_AddDefaultTasks(List);
    int32 Count = 0;
    TaskTypeList_GetCount(List, &Count);
    EXPECT_EQ(Count, TASKTYPELIST_DEFAULT_COUNT);
    for (const char *Spelling : {"filecopy", "FILECOPY", "FiLeCoPy"}) {
        const TaskInterface *Record = nullptr;
        ASSERT_TRUE(TaskTypeList_Find(List, Spelling, &Record));
        EXPECT_STREQ(Record->Name, "FileCopy");
        EXPECT_EQ(Record->Create, FileCopy_INTERFACE.Create);
    }
    TaskTypeList_RemoveDefaultTasks(List);
    TaskTypeList_GetCount(List, &Count);
    EXPECT_EQ(Count, 0);
    ASSERT_EQ(Removed.size(), (size_t)TASKTYPELIST_DEFAULT_COUNT);
    for (int32 Index = 0; Index < TASKTYPELIST_DEFAULT_COUNT; Index++)
        EXPECT_EQ(Removed[(size_t)Index], TableOrder[TASKTYPELIST_DEFAULT_COUNT - 1 - Index]);
}

// Every spelling finds the first table name equal to it without case, or none.
TEST_F(TaskTypeListTest, FindAgreesWithCaselessScanOfTable) {
    TaskTypeList_AddDefaultTasks(List);
    std::vector<std::string> Spellings = {"", "l", "LO", "Logs", "xLog", "og", "\xc3\x89nd", "@Log", "[og", "Log "};
    for (const char *Name : TableOrder) {
        std::string Lower = Name, Upper = Name;
        for (char &Ch : Lower) Ch = (char)tolower((unsigned char)Ch);
        for (char &Ch : Upper) Ch = (char)toupper((unsigned char)Ch);
        Spellings.insert(Spellings.end(), {Name, Lower, Upper, Lower.substr(0, 1) + (Name + 1)});
    }
    for (const std::string &Spelling : Spellings) {
        const char *Expected = nullptr;
        for (const char *Name : TableOrder)
            if (Expected == nullptr && strcasecmp(Name, Spelling.c_str()) == 0) Expected = Name;
        const TaskInterface *Record = nullptr;
        EXPECT_EQ(TaskTypeList_Find(List, Spelling.c_str(), &Record), Expected != nullptr) << Spelling;
        EXPECT_STREQ(Record != nullptr ? Record->Name : nullptr, Expected) << Spelling;
    }
}

TEST_F(TaskTypeListTest, SameNameOtherOperationsAddsSecondNode) {
    TaskInterface Other = End_INTERFACE;
    Other.Create = OtherCreate;
    TaskTypeList_Add(List, &End_INTERFACE);
    TaskTypeList_Add(List, &Other);
    int32 Count = 0;
    TaskTypeList_GetCount(List, &Count);
    EXPECT_EQ(Count, 2);
    const TaskInterface *Record = nullptr;
    ASSERT_TRUE(TaskTypeList_Find(List, "end", &Record));
    EXPECT_EQ(Record->Create, End_INTERFACE.Create);
    EXPECT_TRUE(TaskTypeList_RemoveByName(List, "END"));
    ASSERT_TRUE(TaskTypeList_Find(List, "end", &Record));
    EXPECT_EQ(Record->Create, OtherCreate);
    EXPECT_TRUE(TaskTypeList_Remove(List, &Other));
    EXPECT_FALSE(TaskTypeList_Remove(List, &Other));
    EXPECT_FALSE(TaskTypeList_RemoveByName(List, "End"));
    EXPECT_EQ(Removed, (std::vector<std::string>{"End", "End"}));
}

TEST_F(TaskTypeListTest, LongNamesAreCut) {
    TaskInterface Long = End_INTERFACE;
    Long.Name = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    TaskTypeList_Add(List, &Long);
    const TaskInterface *Record = nullptr;
    EXPECT_FALSE(TaskTypeList_Find(List, Long.Name, &Record));
    ASSERT_TRUE(TaskTypeList_Find(List, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklm", &Record));
    EXPECT_EQ(strlen(Record->Name), (size_t)TASKTYPELIST_NAME_SIZE - 1);
    EXPECT_TRUE(TaskTypeList_Remove(List, &Long));
}

} // namespace
