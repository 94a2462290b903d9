#include "tests/boot/boot_test_support.h"

#include <algorithm>
#include <cstdio>

#include "base/text_format.h"
#include "base/unique_handle.h"
#include "boot/boot_config.h"
#include "boot/command_runner.h"
#include "sysinfo/disk_table.h"

wchar_t TestDrive() {
  wchar_t value[8] = {};
  if (GetEnvironmentVariableW(L"VORLANE_TEST_DRIVE", value, 8) == 0) return L'?';
  return static_cast<wchar_t>(towupper(value[0]));
}

std::wstring OnTestDrive(const std::wstring& name) { return Format(L"%c:\\%s", TestDrive(), name.c_str()); }

namespace {

void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) return;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    std::wstring path = folder + L"\\" + name;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(path);
      RemoveDirectoryW(path.c_str());
    } else {
      DeleteFileW(path.c_str());
    }
  } while (FindNextFileW(find.Get(), &data));
}

}  // namespace

void ClearTestDrive() { RemoveTree(Format(L"%c:", TestDrive())); }

std::vector<std::wstring> RootEntries() {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  UniqueFindHandle find(FindFirstFileW(OnTestDrive(L"*").c_str(), &data));
  if (!find) return names;
  do {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L".." || name == L"tools" || name == L"rec") continue;
    names.push_back(name);
  } while (FindNextFileW(find.Get(), &data));
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
  return names;
}

std::string ReadBytes(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file) return "<missing>";
  std::string bytes;
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(file.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
  return bytes;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

std::string ResourceBytes(uint16_t id, const wchar_t* type) {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
  if (found == nullptr) return "<no resource>";
  const char* data = static_cast<const char*>(LockResource(LoadResource(self, found)));
  return std::string(data, SizeofResource(self, found));
}

std::wstring ProgramFolder() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path = self;
  return path.substr(0, path.find_last_of(L'\\'));
}

MachineDescription StandardMachine() {
  MachineDescription m;
  SimDisk disk0;
  disk0.entries = {{1LL << 20, 60LL << 30, 1, 0x07, true}, {(60LL << 30) + (1LL << 20), 100LL << 30, 2, 0x07, false}};
  disk0.signature = 0x1A2B3C4D;
  disk0.size = 200LL << 30;
  SimDisk disk1;
  disk1.entries = {{1LL << 20, 200LL << 30, 1, 0x07, false}};
  disk1.signature = 0x0BADF00D;  // its size: the end of its partition
  m.disks = {disk0, disk1};
  SimVolume system;
  system.letter = TestDrive();
  system.disk = 0;
  system.startingOffset = 1LL << 20;
  system.bootIndicator = true;
  system.deviceName = L"\\Device\\HarddiskVolume1";
  SimVolume data;
  data.letter = L'D';
  data.disk = 0;
  data.startingOffset = (60LL << 30) + (1LL << 20);
  data.deviceName = L"\\Device\\HarddiskVolume2";
  SimVolume other;
  other.letter = L'E';
  other.disk = 1;
  other.startingOffset = 1LL << 20;
  other.deviceName = L"\\Device\\HarddiskVolume3";
  m.volumes = {system, data, other};
  return m;
}

SimVolume& VolumeOf(MachineDescription& m, wchar_t letter) {
  for (SimVolume& v : m.volumes) {
    if (v.letter == letter) return v;
  }
  m.volumes.emplace_back();
  m.volumes.back().letter = letter;
  return m.volumes.back();
}

void UseTestDrive(int32_t osIndex) {
  std::wstring tools = OnTestDrive(L"tools");
  CreateDirectoryW(tools.c_str(), nullptr);
  InitBootConfig(TestDrive(), osIndex, tools);
}

const AttribAbility& ProbeAttrib() {
  static AttribAbility ability;
  static bool probed = false;
  if (probed) return ability;
  probed = true;
  const DWORD all = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY;
  std::wstring probe = OnTestDrive(L"attrprobe.tmp");
  WriteBytes(probe, "probe");
  // Can the file system hold the three attributes at all?
  SetFileAttributesW(probe.c_str(), all);
  DWORD held = Attributes(probe) & all;
  SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  RunHidden(Format(L"cmd /c attrib +h +s +r \"%s\"", probe.c_str()));
  ability.setMask = Attributes(probe) & all;
  SetFileAttributesW(probe.c_str(), all);
  RunHidden(Format(L"cmd /c attrib -h -s -r \"%s\"", probe.c_str()));
  ability.clearMask = all & ~(Attributes(probe) & all);
  SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(probe.c_str());
  if (held != all)
    printf("NOTE: this file system holds only attributes 0x%lx of hidden/system/read-only\n", held);
  if (ability.setMask != all || ability.clearMask != all)
    printf("NOTE: here one \"attrib +h +s +r\" run sets only 0x%lx and one \"attrib -h -s -r\" run clears only "
           "0x%lx of hidden(0x2)/system(0x4)/read-only(0x1) (Wine's attrib applies the last flag of a run); "
           "the attribute checks expect exactly what it does\n",
           ability.setMask, ability.clearMask);
  return ability;
}

std::wstring SystemToolFolderOfPrefix() {
  wchar_t windows[MAX_PATH] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\System32";
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

RecordingTools::RecordingTools() {
  recorder_ = ProgramFolder() + L"\\vl_recorder.exe";
  std::wstring folder = OnTestDrive(L"rec");
  CreateDirectoryW(folder.c_str(), nullptr);
  recordFile_ = folder + L"\\runs.txt";
  DeleteFileW(recordFile_.c_str());
  partTool_ = folder + L"\\dspt.exe";
  CopyFileW(recorder_.c_str(), partTool_.c_str(), FALSE);
  for (const wchar_t* name : {L"bcdedit.exe", L"bcdboot.exe"}) {
    std::wstring target = SystemToolFolderOfPrefix() + L"\\" + name;
    if (CopyFileW(recorder_.c_str(), target.c_str(), FALSE)) installed_.push_back(target);
  }
  SetEnvironmentVariableW(L"VORLANE_RECORD_FILE", recordFile_.c_str());
}

RecordingTools::~RecordingTools() {
  for (const std::wstring& path : installed_) DeleteFileW(path.c_str());
  SetEnvironmentVariableW(L"VORLANE_RECORD_FILE", nullptr);
  ExitWith(0, L"");
}

void RecordingTools::ExitWith(uint32_t code, const std::wstring& text) {
  bool clear = code == 0;
  SetEnvironmentVariableW(L"VORLANE_RECORD_EXIT", clear ? nullptr : Format(L"%u", code).c_str());
  SetEnvironmentVariableW(L"VORLANE_RECORD_EXIT_IF", clear ? nullptr : text.c_str());
}

std::vector<std::string> RecordingTools::Runs() const {
  std::vector<std::string> runs;
  std::string text = ReadBytes(recordFile_);
  if (text == "<missing>") return runs;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    runs.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return runs;
}

void RecordingTools::Clear() { DeleteFileW(recordFile_.c_str()); }

void BootDriveTest::SetUp() {
  ASSERT_NE(TestDrive(), L'?') << "VORLANE_TEST_DRIVE is not set";
  ClearTestDrive();
  ASSERT_TRUE(RootEntries().empty()) << "the test drive could not be emptied";
  UseMachine(StandardMachine());
  UseTestDrive(5);
}

void BootDriveTest::TearDown() { machine_.reset(); }

void BootDriveTest::UseMachine(const MachineDescription& description) {
  MachineDescription m = description;
  for (SimVolume& v : m.volumes) {
    if (v.guidPath.empty()) v.guidPath = Format(L"\\\\?\\Volume{5a1e0000-0000-0000-0000-0000000000%02x}\\", v.letter);
  }
  machine_.reset();
  machine_ = std::make_unique<ScopedSimulatedMachine>(m);
  BuildDiskTable();
}

void RecordingToolsTest::SetUp() {
  BootDriveTest::SetUp();
  tools_ = std::make_unique<RecordingTools>();
  Use(5);
}

void RecordingToolsTest::TearDown() {
  tools_.reset();
  BootDriveTest::TearDown();
}

void RecordingToolsTest::Use(int32_t osIndex) {
  UseTestDrive(osIndex);
  ExtractBootTools();
  TheBootConfig.partToolPath = tools_->PartToolPath();
}

void RecordingToolsTest::StartOver(int32_t osIndex) {
  ClearTestDrive();
  tools_.reset();  // before its successor installs the same stand-ins
  tools_ = std::make_unique<RecordingTools>();
  Use(osIndex);
}
