// Shared helpers of the boot tests: the test drive (a folder under /tmp mapped as a drive letter of the
// test prefix), file helpers, the simulated machine and the recording stand-ins of the system's tools.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sysinfo/simulated_machine.h"

// The letter the test's CTest fixture mapped (VORLANE_TEST_DRIVE), upper case.
wchar_t TestDrive();
// "X:\name" on the test drive.
std::wstring OnTestDrive(const std::wstring& name);
// Removes everything on the test drive (clearing attributes first).
void ClearTestDrive();
// Names of the files and folders in the root of the test drive, sorted without case; the tests' own folders "tools"
// (the tool folder) and "rec" (the recording stand-ins) are left out.
std::vector<std::wstring> RootEntries();

std::string ReadBytes(const std::wstring& path);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool Exists(const std::wstring& path);
DWORD Attributes(const std::wstring& path);
// The bytes of a resource of this test program.
std::string ResourceBytes(uint16_t id, const wchar_t* type);
// The folder of this test program (where the build puts the tools and the recorder).
std::wstring ProgramFolder();

// A machine whose disk 0 (signature 1A2B3C4D, 200 GiB) holds the test drive at 1 MiB (1:1, 60 GiB long)
// and D: at 60 GiB + 1 MiB (1:2, 100 GiB long), and disk 1 (signature 0BADF00D, its size the end of its
// partition) holds E: at 1 MiB (200 GiB long).
MachineDescription StandardMachine();
// The volume of a letter in a description (added when missing).
SimVolume& VolumeOf(MachineDescription& m, wchar_t letter);

// Points the environment and TheBootConfig at the test drive with the release code.
void UseTestDrive(int32_t osIndex);

// Which of hidden, system and read-only one "cmd /c attrib +h +s +r" run really sets here (Wine's attrib
// applies only part of them), and which one "-h -s -r" run clears. Probed once, and said in the output.
struct AttribAbility {
  DWORD setMask = 0;
  DWORD clearMask = 0;
};
const AttribAbility& ProbeAttrib();

// Records the runs of recording stand-ins: the system's bcdedit and bcdboot (installed into the prefix's
// system folder while it lives) and a partition tool in a folder of the test drive.
class RecordingTools {
 public:
  RecordingTools();
  ~RecordingTools();
  // "tool|arguments" lines in the order the tools ran.
  std::vector<std::string> Runs() const;
  void Clear();
  // The run whose "tool|arguments" line holds text exits with code (0 makes every run succeed again).
  void ExitWith(uint32_t code, const std::wstring& text);
  const std::wstring& PartToolPath() const { return partTool_; }
  const std::wstring& RecorderPath() const { return recorder_; }

 private:
  std::wstring recordFile_;
  std::wstring recorder_;
  std::wstring partTool_;
  std::vector<std::wstring> installed_;
};

// The system folder of the prefix (the forwarders' "System32").
std::wstring SystemToolFolderOfPrefix();
// UTF-8 of a wide text.
std::string Utf8(const std::wstring& text);

#include <gtest/gtest.h>

// Each test starts on an empty test drive, with the standard simulated machine and its disk table, and
// the environment pointed at the test drive as a BCD release (OsIndex 5).
class BootDriveTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Replaces the simulated machine and rebuilds the disk table.
  void UseMachine(const MachineDescription& m);

 private:
  std::unique_ptr<ScopedSimulatedMachine> machine_;
};

// A BootDriveTest with recording stand-ins for the boot tools and the release code's boot tools extracted
// (a BCD release, OsIndex 5, unless a test says otherwise).
class RecordingToolsTest : public BootDriveTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The release code, with the extracted forwarders and the recording partition tool.
  void Use(int32_t osIndex);
  // An empty test drive and new stand-ins with empty records, for the release code osIndex.
  void StartOver(int32_t osIndex);
  std::unique_ptr<RecordingTools> tools_;
};
