// The download engine wrapper: library path, loading, binding, the records it builds.
#include "cloud/down_wrapper.h"

#include <gtest/gtest.h>
#include <cstring>
#include <string>

namespace {

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path, n);
  return p.substr(0, p.rfind(L'\\'));
}

int32_t IntAt(const void* record, size_t offset) {
  int32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(record) + offset, sizeof v);
  return v;
}

std::wstring TextAt(const void* record, size_t offset) {
  return std::wstring(reinterpret_cast<const wchar_t*>(static_cast<const uint8_t*>(record) + offset));
}

}  // namespace

TEST(EngineLibraryPath, IsTheExecutablesFolderAndTheLibraryName) {
  struct Case {
    const wchar_t* exe;
    const wchar_t* library;
  } cases[] = {
      {L"D:\\Tools\\Setup\\vorlane.exe", L"D:\\Tools\\Setup\\xldl.dll"},
      {L"C:\\vorlane.exe", L"C:\\xldl.dll"},
      {L"vorlane.exe", L"\\xldl.dll"},
      {L"", L"\\xldl.dll"},
      {L"\\\\server\\share\\中文\\vorlane.exe", L"\\\\server\\share\\中文\\xldl.dll"},
  };
  for (const Case& c : cases) EXPECT_EQ(EngineLibraryPathFor(c.exe), c.library) << c.exe;
}

TEST(TaskParamsRecord, CreateRecordHoldsTheStringsAndDefaults) {
  XlTaskParams p = MakeCreateTaskParams(L"http://127.0.0.1:8750/images/win7.gho", L"win7.gho", L"C:\\VRLN\\Download");
  EXPECT_EQ(IntAt(&p, 0), 0);
  EXPECT_EQ(TextAt(&p, 4), L"http://127.0.0.1:8750/images/win7.gho");
  EXPECT_EQ(TextAt(&p, 16532), L"win7.gho");
  EXPECT_EQ(TextAt(&p, 17572), L"C:\\VRLN\\Download");
  const size_t offsets[] = {18096, 18356, 18360, 18364, 18368};
  const int32_t values[] = {0, 0, 5, 0, 1};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(IntAt(&p, offsets[i]), values[i]) << offsets[i];
}

TEST(TaskParamsRecord, EveryOtherByteIsZero) {
  XlTaskParams p = MakeDelTempParams(L"a.gho", L"D:\\x");
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&p);
  for (size_t i = 0; i < sizeof p; ++i) {
    bool inName = i >= 16532 && i < 16532 + 12;     // "a.gho" and its NUL
    bool inFolder = i >= 17572 && i < 17572 + 10;   // "D:\x" and its NUL
    bool inInts = i >= 18360 && i < 18372;          // 5 at 18360, 1 at 18368
    if (!inName && !inFolder && !inInts) {
      ASSERT_EQ(bytes[i], 0) << "byte " << i;
    }
  }
  EXPECT_EQ(TextAt(&p, 4), L"");  // the delete record has no URL
  EXPECT_EQ(IntAt(&p, 18360), 5);
  EXPECT_EQ(IntAt(&p, 18368), 1);
}

TEST(TaskParamsRecord, LongTextsAreCutToTheirFields) {
  std::wstring url(9000, L'u');
  std::wstring name(600, L'n');
  std::wstring folder(300, L'f');
  XlTaskParams p = MakeCreateTaskParams(url, name, folder);
  EXPECT_EQ(TextAt(&p, 4), std::wstring(8263, L'u'));
  EXPECT_EQ(TextAt(&p, 16532), std::wstring(519, L'n'));
  EXPECT_EQ(TextAt(&p, 17572), std::wstring(261, L'f'));
  EXPECT_EQ(IntAt(&p, 18096), 0);  // nothing spilled into the next field
  XlTaskParams fits = MakeCreateTaskParams(L"u", std::wstring(519, L'n'), L"f");
  EXPECT_EQ(TextAt(&fits, 16532).size(), 519u);
}

TEST(TaskInfoRecord, InitialRecordIsRunningAndZero) {
  XlTaskInfo info = MakeInitialTaskInfo();
  EXPECT_EQ(IntAt(&info, 0), 2);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&info);
  for (size_t i = 4; i < sizeof info; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(DownWrapper, RealEngineBindsAllSeventeenCalls) {
  std::unique_ptr<DownWrapper> w = CreateDownWrapper();  // xldl.dll beside this test
  ASSERT_TRUE(w);
  const void* calls[] = {
      reinterpret_cast<void*>(w->xlInit), reinterpret_cast<void*>(w->xlUnInit),
      reinterpret_cast<void*>(w->xlCreateTask), reinterpret_cast<void*>(w->xlDeleteTask),
      reinterpret_cast<void*>(w->xlStartTask), reinterpret_cast<void*>(w->xlStopTask),
      reinterpret_cast<void*>(w->xlQueryTaskInfo), reinterpret_cast<void*>(w->xlQueryTaskInfoEx),
      reinterpret_cast<void*>(w->xlSetSpeedLimit), reinterpret_cast<void*>(w->xlSetUploadSpeedLimit),
      reinterpret_cast<void*>(w->xlDelTempFile), reinterpret_cast<void*>(w->xlSetProxy),
      reinterpret_cast<void*>(w->xlSetUserAgent), reinterpret_cast<void*>(w->xlGetFileSizeWithUrl),
      reinterpret_cast<void*>(w->xlParseThunderPrivateUrl), reinterpret_cast<void*>(w->xlSetAdditionInfo),
      reinterpret_cast<void*>(w->xlSetFileIdAndSize)};
  for (size_t i = 0; i < 17; ++i) EXPECT_NE(calls[i], nullptr) << "call " << i + 1;
  // The unsupported calls answer FALSE; the task calls refuse an unknown handle.
  EXPECT_FALSE(w->xlSetUploadSpeedLimit(10));
  EXPECT_FALSE(w->xlSetAdditionInfo(nullptr, L"x"));
  EXPECT_FALSE(w->StartTask(reinterpret_cast<HANDLE>(0x1234)));
  EXPECT_TRUE(w->UnInit());
}

TEST(DownWrapper, LibraryWithOnlyInitGivesNullPointersAndTaskZero) {
  std::wstring path = ExeFolder() + L"\\initonly\\xldl.dll";
  {
    std::unique_ptr<DownWrapper> w = CreateDownWrapperAt(path);
    ASSERT_TRUE(w);
    EXPECT_NE(w->xlInit, nullptr);
    EXPECT_EQ(w->xlUnInit, nullptr);
    EXPECT_EQ(w->xlCreateTask, nullptr);
    EXPECT_EQ(w->xlQueryTaskInfoEx, nullptr);
    EXPECT_EQ(w->xlDelTempFile, nullptr);
    EXPECT_EQ(w->xlSetFileIdAndSize, nullptr);
    XlTaskParams p = MakeCreateTaskParams(L"http://127.0.0.1/a", L"a", L"C:\\x");
    HANDLE task = w->CreateTask(p);
    EXPECT_EQ(task, nullptr);
    EXPECT_FALSE(w->StartTask(task));
    XlTaskInfo info = MakeInitialTaskInfo();
    w->QueryTaskInfoEx(task, info);
    EXPECT_EQ(info.status, 2);  // never ends by itself
    EXPECT_FALSE(w->StopTask(task));
    EXPECT_FALSE(w->DeleteTask(task));
    EXPECT_FALSE(w->DelTempFile(p));
    EXPECT_FALSE(w->UnInit());
    EXPECT_NE(GetModuleHandleW(path.c_str()), nullptr);
  }
  EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);  // destroying the wrapper freed the module
}

TEST(DownWrapper, InitAnsweringZeroGivesNoWrapper) {
  std::wstring path = ExeFolder() + L"\\initzero\\xldl.dll";
  EXPECT_EQ(CreateDownWrapperAt(path), nullptr);
  EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr);
}

TEST(DownWrapper, MissingLibraryRaisesTheErrorText) {
  std::wstring path = ExeFolder() + L"\\no-such-folder\\xldl.dll";
  try {
    CreateDownWrapperAt(path);
    FAIL() << "no error raised";
  } catch (const EngineLoadError& e) {
    EXPECT_STREQ(e.Text(), L"can not load xldl.dll");
    EXPECT_STREQ(e.what(), "can not load xldl.dll");
  }
}
