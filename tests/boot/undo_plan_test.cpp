// The undo plan of a preparation: the steps recorded before each change, run newest first.
#include <gtest/gtest.h>

#include "boot/undo_log.h"

namespace {

TEST(UndoPlan, RunsTheStepsNewestFirst) {
  // The order a BCD preparation on the system store records them: the store copies, then the put-back.
  UndoLog log;
  EXPECT_TRUE(log.Empty());
  log.Add(RemoveFileStep(L"C:\\KX.lsn"));
  log.Add(RemoveFileStep(L"C:\\ghost._KX"));
  log.Add(RemoveFolderStep(L"C:\\BOOT"));
  log.Add(RemoveFileStep(L"C:\\BOOT\\BCD_U"));
  log.Add(RunCommandStep(L"\"T\\bcdedit.exe\" /import \"C:\\BOOT\\BCD_U\""));
  std::vector<UndoStep> plan = log.Plan();
  ASSERT_EQ(plan.size(), 5u);
  // The store is imported before its copy is removed, and the folder goes only once it is empty.
  EXPECT_EQ(plan[0].action, UndoAction::RunCommand);
  EXPECT_EQ(plan[0].command, L"\"T\\bcdedit.exe\" /import \"C:\\BOOT\\BCD_U\"");
  EXPECT_EQ(plan[1].path, L"C:\\BOOT\\BCD_U");
  EXPECT_EQ(plan[2].action, UndoAction::RemoveFolder);
  EXPECT_EQ(plan[3].path, L"C:\\ghost._KX");
  EXPECT_EQ(plan[4].path, L"C:\\KX.lsn");
  log.Clear();
  EXPECT_TRUE(log.Plan().empty());
}

TEST(UndoPlan, StepsCarryWhatTheyPutBack) {
  UndoStep bytes = PutBackBytesStep(L"C:\\boot.ini", true, "[boot loader]\r\n");
  EXPECT_EQ(bytes.action, UndoAction::PutBackBytes);
  EXPECT_TRUE(bytes.existed);
  EXPECT_EQ(bytes.bytes, "[boot loader]\r\n");
  UndoStep absent = PutBackBytesStep(L"C:\\boot.in_", false, "");
  EXPECT_FALSE(absent.existed);  // put back as absent: removed
  UndoStep copy = CopyBackStep(L"C:\\BOOT\\BCD_U", L"C:\\BOOT\\BCD");
  EXPECT_EQ(copy.action, UndoAction::CopyBack);
  EXPECT_EQ(copy.from, L"C:\\BOOT\\BCD_U");
  EXPECT_EQ(copy.path, L"C:\\BOOT\\BCD");
}

TEST(PreparationLogTest, FailNamesTheStepAndAnswersFalse) {
  PreparationLog log;
  EXPECT_FALSE(log.Fail(L"无法写入启动文件（C盘空间不足）"));
  EXPECT_EQ(log.failure, L"无法写入启动文件（C盘空间不足）");
}

}  // namespace
