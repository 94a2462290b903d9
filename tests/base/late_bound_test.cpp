// The late-bound calls: the system's table under Wine, and for each call its answer where the call is
// missing (an empty table) and where it answers in a chosen way (a table of stand-ins).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "base/folders.h"
#include "base/late_bound.h"

namespace {

const LateBoundCalls kNoCalls;

std::wstring ScratchFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  return std::wstring(temp) + L"vl-late-bound-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

bool IsFolder(const std::wstring& path) {
  DWORD a = GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void RemoveFolders(const std::wstring& deepest, int levels) {
  std::wstring path = deepest;
  for (int i = 0; i < levels; ++i) {
    RemoveDirectoryW(path.c_str());
    path = path.substr(0, path.rfind(L'\\'));
  }
}

TEST(LateBound, WineOffersEveryCall) {
  const LateBoundCalls& calls = SystemCalls();
  EXPECT_NE(calls.isWow64Process, nullptr);
  EXPECT_NE(calls.rtlGetNtVersionNumbers, nullptr);
  EXPECT_NE(calls.getVolumePathNamesForVolumeNameW, nullptr);
  EXPECT_NE(calls.getFirmwareEnvironmentVariableW, nullptr);
  EXPECT_NE(calls.shCreateDirectory, nullptr);
  EXPECT_NE(calls.freeLibraryAndExitThread, nullptr);
  EXPECT_NE(calls.createHardLinkW, nullptr);
  EXPECT_TRUE(RunsUnderWine());
  DWORD major = 0, minor = 0, build = 0;
  EXPECT_TRUE(NtVersionNumbers(major, minor, build));
  EXPECT_GE(major, 5u);
  EXPECT_EQ(&SystemCalls(), &calls);  // resolved once
}

TEST(LateBound, MissingCallsGiveTheOldSystemsAnswers) {
  EXPECT_FALSE(RunsUnderWow64(kNoCalls));
  DWORD major = 1, minor = 1, build = 1;
  EXPECT_FALSE(NtVersionNumbers(major, minor, build, kNoCalls));
  EXPECT_EQ(major + minor + build, 0u);
  std::vector<wchar_t> names;
  EXPECT_FALSE(VolumePathNamesOf(L"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}\\", names, kNoCalls));
  EXPECT_FALSE(UefiFirmwareReported(kNoCalls));
  EXPECT_FALSE(RunsUnderWine(kNoCalls));
  EXPECT_FALSE(CreateHardLinkIfAble(ScratchFolder(L"link"), ScratchFolder(L"target"), kNoCalls));
  std::wstring folder = ScratchFolder(L"shell");
  EXPECT_FALSE(ShellCreateFolder(folder, kNoCalls));
  EXPECT_FALSE(IsFolder(folder));
}

TEST(LateBound, FoldersAreMadeLevelByLevelWithoutTheShell) {
  std::wstring top = ScratchFolder(L"levels");
  std::wstring deepest = top + L"\\a\\b\\c";
  ASSERT_FALSE(IsFolder(top));
  EXPECT_TRUE(CreateFolderWithParents(deepest, kNoCalls));
  EXPECT_TRUE(IsFolder(deepest));
  EXPECT_TRUE(FileExists(deepest));
  EXPECT_TRUE(CreateFolderWithParents(deepest, kNoCalls));  // already there
  RemoveFolders(deepest, 4);
  EXPECT_FALSE(IsFolder(top));
  EXPECT_FALSE(FileExists(top));

  EXPECT_TRUE(CreateFolderWithParents(deepest));  // through the shell
  EXPECT_TRUE(IsFolder(deepest));
  RemoveFolders(deepest, 4);
  EXPECT_FALSE(CreateFolderWithParents(L"", kNoCalls));
}

// Stand-ins that answer as a chosen system would.
BOOL g_wow64Answer = FALSE;
BOOL g_wow64Flag = FALSE;
BOOL WINAPI FakeIsWow64Process(HANDLE, PBOOL flag) {
  *flag = g_wow64Flag;
  return g_wow64Answer;
}
void WINAPI FakeVersionNumbers(DWORD* major, DWORD* minor, DWORD* build) {
  *major = 6;
  *minor = 1;
  *build = 0xF0001DB1;  // the top bits mark a free build
}
int g_pathCalls = 0;
DWORD g_pathError = ERROR_MORE_DATA;
BOOL WINAPI FakeVolumePathNames(LPCWSTR, LPWCH buffer, DWORD length, PDWORD needed) {
  ++g_pathCalls;
  const wchar_t names[] = L"D:\\\0E:\\mount\\\0";  // two names and the closing NUL
  DWORD size = sizeof(names) / sizeof(names[0]);
  if (length < 600) {
    *needed = 600;
    SetLastError(g_pathError);
    return FALSE;
  }
  for (DWORD i = 0; i < size; ++i) buffer[i] = names[i];
  *needed = size;
  return TRUE;
}
DWORD g_firmwareError = ERROR_INVALID_FUNCTION;
DWORD WINAPI FakeFirmwareVariable(LPCWSTR, LPCWSTR, PVOID, DWORD) {
  SetLastError(g_firmwareError);
  return 0;
}
std::wstring g_shellPath;
int WINAPI FakeShellCreate(HWND, LPCWSTR path) {
  g_shellPath = path;
  return ERROR_SUCCESS;
}

TEST(LateBound, PresentCallsAreAskedAndTheirAnswersKept) {
  LateBoundCalls calls;
  calls.isWow64Process = &FakeIsWow64Process;
  struct Wow64Case { BOOL answer, flag; bool expected; } wow64Cases[] = {
      {TRUE, TRUE, true}, {TRUE, FALSE, false}, {FALSE, TRUE, false}};
  for (const Wow64Case& c : wow64Cases) {
    g_wow64Answer = c.answer;
    g_wow64Flag = c.flag;
    EXPECT_EQ(RunsUnderWow64(calls), c.expected) << c.answer << c.flag;
  }

  calls.rtlGetNtVersionNumbers = &FakeVersionNumbers;
  DWORD major = 0, minor = 0, build = 0;
  ASSERT_TRUE(NtVersionNumbers(major, minor, build, calls));
  EXPECT_EQ(major, 6u);
  EXPECT_EQ(minor, 1u);
  EXPECT_EQ(build, 0xF0001DB1u);

  calls.getFirmwareEnvironmentVariableW = &FakeFirmwareVariable;
  g_firmwareError = ERROR_INVALID_FUNCTION;
  EXPECT_FALSE(UefiFirmwareReported(calls));
  g_firmwareError = ERROR_NOACCESS;  // the variable exists but the caller may not read it: UEFI
  EXPECT_TRUE(UefiFirmwareReported(calls));

  calls.shCreateDirectory = &FakeShellCreate;
  EXPECT_TRUE(ShellCreateFolder(L"X:\\a\\b", calls));
  EXPECT_EQ(g_shellPath, L"X:\\a\\b");

  calls.wineGetVersion = [](void) -> const char* { return "test"; };
  EXPECT_TRUE(RunsUnderWine(calls));
}

TEST(LateBound, HardLinksNameTheSameFileOrFailWithoutTheCall) {
  std::wstring target = ScratchFolder(L"target.txt");
  std::wstring link = ScratchFolder(L"link.txt");
  HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(file, "same", 4, &written, nullptr);
  CloseHandle(file);
  EXPECT_FALSE(CreateHardLinkIfAble(link, target, kNoCalls));
  EXPECT_FALSE(FileExists(link));
  if (CreateHardLinkIfAble(link, target)) {  // the file system of the Wine prefix may not hold links
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(link.c_str(), GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, 4u);
  }
  EXPECT_FALSE(CreateHardLinkIfAble(link, ScratchFolder(L"missing.txt")));  // nothing to link to
  DeleteFileW(link.c_str());
  DeleteFileW(target.c_str());
}

TEST(LateBound, VolumePathNamesGrowTheBufferOnce) {
  LateBoundCalls calls;
  calls.getVolumePathNamesForVolumeNameW = &FakeVolumePathNames;
  std::vector<wchar_t> names;
  g_pathCalls = 0;
  g_pathError = ERROR_MORE_DATA;
  ASSERT_TRUE(VolumePathNamesOf(L"\\\\?\\Volume{1}\\", names, calls));
  EXPECT_EQ(g_pathCalls, 2);
  ASSERT_EQ(names.size(), 600u);
  EXPECT_EQ(std::wstring(names.data()), L"D:\\");
  EXPECT_EQ(std::wstring(names.data() + 4), L"E:\\mount\\");

  g_pathCalls = 0;
  g_pathError = ERROR_FILE_NOT_FOUND;  // any other failure ends the query
  EXPECT_FALSE(VolumePathNamesOf(L"\\\\?\\Volume{1}\\", names, calls));
  EXPECT_EQ(g_pathCalls, 1);
}

// A thread that ends through FreeLibraryAndExit with the given table.
struct ExitOrder {
  HMODULE held;
  DWORD code;
  const LateBoundCalls* calls;
};
DWORD WINAPI EndThroughTable(LPVOID arg) {
  const ExitOrder* order = static_cast<const ExitOrder*>(arg);
  FreeLibraryAndExit(order->held, order->code, *order->calls);
}

DWORD RunExitOrder(const ExitOrder& order) {
  HANDLE thread = CreateThread(nullptr, 0, &EndThroughTable, const_cast<ExitOrder*>(&order), 0, nullptr);
  if (thread == nullptr) return 0xFFFFFFFF;
  WaitForSingleObject(thread, 30000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

// A system library this test has not loaded yet.
const wchar_t* UnloadedLibrary() {
  for (const wchar_t* name : {L"avifil32.dll", L"msacm32.dll", L"mapi32.dll", L"hlink.dll", L"msvfw32.dll"}) {
    if (GetModuleHandleW(name) == nullptr) return name;
  }
  return nullptr;
}

TEST(LateBound, ThreadEndsGivingBackTheModuleOrKeepingItWithoutTheCall) {
  const wchar_t* name = UnloadedLibrary();
  ASSERT_NE(name, nullptr);
  HMODULE module = LoadLibraryW(name);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(RunExitOrder({module, 7, &kNoCalls}), 7u);
  EXPECT_EQ(GetModuleHandleW(name), module);  // the reference is still held
  EXPECT_EQ(RunExitOrder({module, 9, &SystemCalls()}), 9u);
  EXPECT_EQ(GetModuleHandleW(name), nullptr);  // given back: the library is gone
  EXPECT_EQ(RunExitOrder({nullptr, 3, &SystemCalls()}), 3u);
}

}  // namespace
