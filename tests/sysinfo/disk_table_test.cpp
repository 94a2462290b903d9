// The disk table: parsing raw layout buffers, sorting, the letter pass and the Ghost address rule, on
// simulated machines that answer with the bytes Windows would.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <vector>

#include "sysinfo/disk_table.h"
#include "sysinfo/simulated_machine.h"

namespace {

constexpr int64_t MiB = 1 << 20;
constexpr int64_t GiB = int64_t(1) << 30;

// A layout buffer filled through the system's own structure definitions.
std::vector<uint8_t> RawLayout(const std::vector<std::pair<int64_t, DWORD>>& entries, DWORD count) {
  std::vector<uint8_t> buf(kLayoutBufferSize, 0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buf.data());
  layout->PartitionStyle = PARTITION_STYLE_MBR;
  layout->PartitionCount = count;
  for (size_t i = 0; i < entries.size(); ++i) {
    PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
    e.PartitionStyle = PARTITION_STYLE_MBR;
    e.StartingOffset.QuadPart = entries[i].first;
    e.PartitionLength.QuadPart = 10 * MiB;
    e.PartitionNumber = entries[i].second;
  }
  return buf;
}

std::vector<int64_t> Offsets(const std::vector<PartitionSlot>& slots) {
  std::vector<int64_t> v;
  for (const auto& s : slots) v.push_back(s.startingOffset);
  return v;
}

TEST(ParseDriveLayout, SkipsUnnumberedEntriesAndKeepsLayoutOrder) {
  // A primary, the extended container (number 0), two logical drives, an empty slot.
  auto buf = RawLayout({{1 * MiB, 1}, {100 * MiB, 0}, {300 * MiB, 5}, {101 * MiB, 6}, {0, 0}}, 5);
  auto slots = ParseDriveLayout(buf.data(), buf.size());
  EXPECT_EQ((std::vector<int64_t>{1 * MiB, 300 * MiB, 101 * MiB}), Offsets(slots));
  for (const auto& s : slots) EXPECT_EQ(0, s.letter);
}

TEST(ParseDriveLayout, ExaminesThirtyEntriesWhateverTheCountSays) {
  std::vector<std::pair<int64_t, DWORD>> entries;
  for (DWORD i = 0; i < 35; ++i) entries.push_back({(i + 1) * MiB, i + 1});
  auto buf = RawLayout(entries, 2);  // a count smaller than the filled entries is ignored
  EXPECT_EQ(30u, ParseDriveLayout(buf.data(), buf.size()).size());
}

TEST(ParseDriveLayout, ShortBufferStopsAtItsEnd) {
  auto buf = RawLayout({{1 * MiB, 1}, {2 * MiB, 2}}, 2);
  EXPECT_EQ(1u, ParseDriveLayout(buf.data(), 48 + 144).size());
  EXPECT_EQ(0u, ParseDriveLayout(buf.data(), 40).size());
}

TEST(SortSlotsByOffset, AscendingSignedOrder) {
  std::vector<PartitionSlot> s = {{0, 50}, {0, -1}, {0, 7}, {0, 50}, {0, 3}};
  SortSlotsByOffset(s);
  EXPECT_EQ((std::vector<int64_t>{-1, 3, 7, 50, 50}), Offsets(s));
}

DiskTable Table(std::initializer_list<std::vector<wchar_t>> disks) {
  DiskTable t;
  for (const auto& letters : disks) {
    DiskRecord r;
    int64_t off = MiB;
    for (wchar_t l : letters) r.slots.push_back({l, off += GiB});
    t.push_back(r);
  }
  return t;
}

TEST(GhostAddressInTable, ReferenceDiskIsOneOthersFollowInTableOrder) {
  // Reference drive on Windows disk 1.
  DiskTable t = Table({{L'E', L'F'}, {L'C', L'D'}, {L'G'}});
  const struct { wchar_t letter; const wchar_t* address; } cases[] = {
      {L'F', L"2:2"}, {L'E', L"2:1"}, {L'C', L"1:1"}, {L'D', L"1:2"}, {L'G', L"3:1"},
      {L'g', L"3:1"}, {L'H', L""}, {0, L""}};
  for (const auto& c : cases) EXPECT_EQ(c.address, GhostAddressInTable(t, c.letter, 1)) << char(c.letter);
  EXPECT_EQ(L"1:1", GhostAddressInTable(t, L'E', 0));
  EXPECT_EQ(L"2:1", GhostAddressInTable(t, L'C', 0));
  EXPECT_EQ(L"", GhostAddressInTable(t, L'C', -1));
  EXPECT_EQ(L"", GhostAddressInTable(t, L'C', -2));
}

TEST(GhostAddressInTable, DiskWithoutPartitionsEndsTheSearch) {
  DiskTable t = Table({{L'C'}, {}, {L'D'}});
  EXPECT_EQ(L"1:1", GhostAddressInTable(t, L'C', 0));
  EXPECT_EQ(L"", GhostAddressInTable(t, L'D', 0));
  EXPECT_EQ(0, PartitionPositionInTable(t, L'D'));
}

TEST(GhostAddressInTable, UnletteredPartitionsCountButNeverMatch) {
  DiskTable t = Table({{0, L'C', 0, L'D'}});
  EXPECT_EQ(L"1:2", GhostAddressInTable(t, L'C', 0));
  EXPECT_EQ(L"1:4", GhostAddressInTable(t, L'D', 0));
  EXPECT_EQ(4, PartitionPositionInTable(t, L'd'));
}

// A two-disk machine: disk 0 with a primary (C:, active) and an extended partition holding two logical
// drives listed out of order; disk 1 with one partition (F:).
MachineDescription TwoDisks() {
  MachineDescription m;
  SimDisk d0;
  d0.entries = {{1 * MiB, 50 * GiB, 1, 0x07, true},
                {50 * GiB + 2 * MiB, 100 * GiB, 0, 0x0F, false},
                {100 * GiB, 40 * GiB, 6, 0x07, false},
                {50 * GiB + 3 * MiB, 40 * GiB, 5, 0x07, false},
                {0, 0, 0, 0, false}};
  SimDisk d1;
  d1.entries = {{1 * MiB, 200 * GiB, 1, 0x07, false}};
  m.disks = {d0, d1};
  auto vol = [](wchar_t l, int disk, int64_t off, UINT type = DRIVE_FIXED) {
    SimVolume v;
    v.letter = l;
    v.disk = disk;
    v.startingOffset = off;
    v.driveType = type;
    v.deviceName = std::wstring(L"\\Device\\HarddiskVolume") + wchar_t(L'1' + (l - L'C'));
    v.guidPath = std::wstring(L"\\\\?\\Volume{0000000") + l + L"}\\";
    return v;
  };
  m.volumes = {vol(L'C', 0, 1 * MiB), vol(L'D', 0, 100 * GiB), vol(L'E', 0, 50 * GiB + 3 * MiB),
               vol(L'F', 1, 1 * MiB)};
  m.volumes[0].bootIndicator = true;  // C: lies on the active partition
  return m;
}

TEST(BuildDiskTable, LetterPassOnASimulatedMachine) {
  ScopedSimulatedMachine sim(TwoDisks());
  ASSERT_TRUE(BuildDiskTable());
  ASSERT_EQ(2u, TheDiskTable.size());
  ASSERT_EQ(3u, TheDiskTable[0].slots.size());
  EXPECT_EQ(L'C', TheDiskTable[0].slots[0].letter);
  EXPECT_EQ(L'E', TheDiskTable[0].slots[1].letter);  // logical drives sorted by offset
  EXPECT_EQ(L'D', TheDiskTable[0].slots[2].letter);
  EXPECT_EQ(L"1:1", GetGhostAddress(L'C', L'C'));
  EXPECT_EQ(L"1:2", GetGhostAddress(L'E', L'C'));
  EXPECT_EQ(L"1:3", GetGhostAddress(L'D', L'C'));
  EXPECT_EQ(L"2:1", GetGhostAddress(L'F', L'C'));
  EXPECT_EQ(L"1:1", GetGhostAddress(L'F', L'F'));  // from F's point of view its disk comes first
  EXPECT_EQ(L"2:3", GetGhostAddress(L'D', L'F'));
  // Partition lengths come from the layout, so the flows can weigh an image against the system partition.
  EXPECT_EQ(50 * GiB, GetPartitionLength(L'C'));
  EXPECT_EQ(40 * GiB, GetPartitionLength(L'e'));
  EXPECT_EQ(200 * GiB, GetPartitionLength(L'F'));
  EXPECT_EQ(0, GetPartitionLength(L'G'));
  EXPECT_EQ(0, GetPartitionLength(0));
}

TEST(BuildDiskTable, DrivesThatAreNotFixedOrNotExaminedGetNoLetter) {
  MachineDescription m = TwoDisks();
  m.volumes[1].driveType = DRIVE_REMOVABLE;  // D: on a removable medium
  m.volumes[3].letter = L'Z';                // F: lettered Z is never examined
  m.volumes[2].extents = 2;                  // E: spans two extents
  ScopedSimulatedMachine sim(m);
  BuildDiskTable();
  EXPECT_EQ(L"", GetGhostAddress(L'D', L'C'));
  EXPECT_EQ(L"", GetGhostAddress(L'Z', L'C'));
  EXPECT_EQ(L"", GetGhostAddress(L'E', L'C'));
  EXPECT_EQ(L"1:1", GetGhostAddress(L'C', L'C'));
}

TEST(BuildDiskTable, FailedLayoutSkipsTheDriveAndShiftsTheTable) {
  MachineDescription m = TwoDisks();
  SimDisk broken;
  broken.layoutFails = true;
  m.disks.insert(m.disks.begin(), broken);   // the failing drive is PhysicalDrive0
  for (auto& v : m.volumes) v.disk += 1;
  ScopedSimulatedMachine sim(m);
  BuildDiskTable();
  ASSERT_EQ(2u, TheDiskTable.size());
  // Windows disk 1 is table index 0 now: letters are matched by extent disk number against the table
  // index, so C: (disk 1) lands in record 1 = the old disk 1, which has no slot at its offset.
  EXPECT_EQ(0, TheDiskTable[0].slots[0].letter);
  EXPECT_EQ(L'C', TheDiskTable[1].slots[0].letter);
}

TEST(BuildDiskTable, DiskFactsAndPartitionPlaces) {
  MachineDescription m = TwoDisks();
  m.disks[0].signature = 0x1A2B3C4D;
  m.disks[0].size = 500 * GiB;
  m.disks[1].signature = 0xFFFFFFFE;  // its size: the end of its last partition
  ScopedSimulatedMachine sim(m);
  BuildDiskTable();
  ASSERT_EQ(2u, TheDiskTable.size());
  EXPECT_EQ(0x1A2B3C4Du, TheDiskTable[0].signature);
  EXPECT_EQ(500 * GiB, TheDiskTable[0].size);
  EXPECT_EQ(0, TheDiskTable[0].number);
  EXPECT_EQ(1, TheDiskTable[1].number);
  struct Case { wchar_t letter; uint32_t signature; int64_t diskSize, start, length; } cases[] = {
      {L'C', 0x1A2B3C4D, 500 * GiB, m.disks[0].entries[0].startingOffset, m.disks[0].entries[0].length},
      {L'E', 0x1A2B3C4D, 500 * GiB, 50 * GiB + 3 * MiB, m.disks[0].entries[3].length},
      {L'F', 0xFFFFFFFE, SimulatedMachine::DiskLength(m.disks[1]), 1 * MiB, m.disks[1].entries[0].length},
  };
  for (const Case& c : cases) {
    PartitionPlace place;
    ASSERT_TRUE(GetPartitionPlace(c.letter, place)) << char(c.letter);
    EXPECT_EQ(c.signature, place.diskSignature) << char(c.letter);
    EXPECT_EQ(c.diskSize, place.diskSize) << char(c.letter);
    EXPECT_EQ(c.start, place.start) << char(c.letter);
    EXPECT_EQ(c.length, place.length) << char(c.letter);
  }
  EXPECT_GT(SimulatedMachine::DiskLength(m.disks[1]), 0);
  PartitionPlace none;
  EXPECT_FALSE(GetPartitionPlace(L'Q', none));
  // The active partition of C:'s disk is its first; F:'s disk has none.
  EXPECT_EQ(1, ActivePositionOnDiskOf(TheDiskTable, L'C'));
  EXPECT_EQ(0, ActivePositionOnDiskOf(TheDiskTable, L'F'));
}

TEST(BuildDiskTable, NoPlaceWhereADisksFactsAreUnknownOrTheRecordIsAnotherDisks) {
  MachineDescription m = TwoDisks();
  m.disks[1].lengthFails = true;
  {
    ScopedSimulatedMachine sim(m);
    BuildDiskTable();
    PartitionPlace place;
    EXPECT_FALSE(GetPartitionPlace(L'F', place));  // its disk's length is unknown
    EXPECT_TRUE(GetPartitionPlace(L'C', place));
  }
  {
    MachineDescription gpt = TwoDisks();
    gpt.disks[1].style = 1;
    ScopedSimulatedMachine sim(gpt);
    BuildDiskTable();
    PartitionPlace place;
    EXPECT_FALSE(GetPartitionPlace(L'F', place));  // a GPT disk has no MBR signature
  }
  // With PhysicalDrive0 failing, C: (disk 1) is lettered in the record of disk 2: it must not be named by
  // that other disk's facts.
  MachineDescription shifted = TwoDisks();
  SimDisk broken;
  broken.layoutFails = true;
  shifted.disks.insert(shifted.disks.begin(), broken);
  for (auto& v : shifted.volumes) v.disk += 1;
  ScopedSimulatedMachine sim(shifted);
  BuildDiskTable();
  ASSERT_EQ(L'C', TheDiskTable[1].slots[0].letter);
  PartitionPlace place;
  EXPECT_FALSE(GetPartitionPlace(L'C', place));
}

TEST(ParseDriveLayout, LengthsBootFlagsAndTheSignature) {
  std::vector<uint8_t> buf(kLayoutBufferSize, 0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION_EX*>(buf.data());
  layout->PartitionStyle = PARTITION_STYLE_MBR;
  layout->PartitionCount = 2;
  layout->Mbr.Signature = 0xCAFEBABE;
  for (int i = 0; i < 2; ++i) {
    PARTITION_INFORMATION_EX& e = layout->PartitionEntry[i];
    e.PartitionStyle = PARTITION_STYLE_MBR;
    e.StartingOffset.QuadPart = (i + 1) * GiB;
    e.PartitionLength.QuadPart = (i + 5) * MiB;
    e.PartitionNumber = i + 1;
    e.Mbr.BootIndicator = i == 1;
  }
  auto slots = ParseDriveLayout(buf.data(), buf.size());
  ASSERT_EQ(2u, slots.size());
  EXPECT_EQ(5 * MiB, slots[0].length);
  EXPECT_EQ(6 * MiB, slots[1].length);
  EXPECT_FALSE(slots[0].active);
  EXPECT_TRUE(slots[1].active);
  EXPECT_EQ(0xCAFEBABEu, LayoutSignature(buf.data(), buf.size()));
  EXPECT_EQ(0u, LayoutSignature(buf.data(), 40));
  layout->PartitionStyle = PARTITION_STYLE_GPT;
  EXPECT_EQ(0u, LayoutSignature(buf.data(), buf.size()));
}

TEST(BuildDiskTable, MissingDriveNumberStopsProbing) {
  MachineDescription m = TwoDisks();
  ScopedSimulatedMachine sim(m);
  BuildDiskTable();
  EXPECT_EQ(2u, TheDiskTable.size());
  MachineDescription none;
  ScopedSimulatedMachine empty(none);
  BuildDiskTable();
  EXPECT_TRUE(TheDiskTable.empty());
  EXPECT_EQ(L"", GetGhostAddress(L'C', L'C'));
}

TEST(VolumeQueries, DiskNumberAndBootFlag) {
  MachineDescription m = TwoDisks();
  m.volumes[1].openFails = true;        // D:
  m.volumes[2].extentsFail = true;      // E:
  m.volumes[3].style = 1;               // F: on GPT
  SimVolume g = m.volumes[0];
  g.letter = L'G';
  g.partitionInfoFails = true;
  m.volumes.push_back(g);
  ScopedSimulatedMachine sim(m);
  EXPECT_EQ(0, GetVolumeDiskNumber(L'C'));
  EXPECT_EQ(1, GetVolumeDiskNumber(L'F'));
  EXPECT_EQ(-2, GetVolumeDiskNumber(L'D'));
  EXPECT_EQ(-1, GetVolumeDiskNumber(L'E'));
  EXPECT_EQ(-2, GetVolumeDiskNumber(L'Q'));
  EXPECT_EQ(1, GetPartitionBootFlag(L'C'));   // active MBR partition
  EXPECT_EQ(1, GetPartitionBootFlag(L'F'));   // not MBR
  EXPECT_EQ(-1, GetPartitionBootFlag(L'D'));
  EXPECT_EQ(-1, GetPartitionBootFlag(L'G'));
}

TEST(VolumeQueries, InactivePartitionHasBootFlagZero) {
  MachineDescription m = TwoDisks();
  m.disks[0].entries[0].bootIndicator = false;
  m.volumes[0].bootIndicator = false;
  ScopedSimulatedMachine sim(m);
  EXPECT_EQ(0, GetPartitionBootFlag(L'C'));
}

TEST(VolumeQueries, DeviceNameOfTheVolumeMountedAtALetter) {
  MachineDescription m = TwoDisks();
  {
    ScopedSimulatedMachine sim(m);
    EXPECT_EQ(L"\\Device\\HarddiskVolume4", GetVolumeDeviceName(L'F'));
  }
  m.volumes[2].deviceName.clear();  // E: has no NT device name
  ScopedSimulatedMachine sim(m);
  EXPECT_EQ(L"\\Device\\HarddiskVolume1", GetVolumeDeviceName(L'C'));
  EXPECT_EQ(L"", GetVolumeDeviceName(L'E'));
  EXPECT_EQ(L"", GetVolumeDeviceName(L'F'));  // the walk stops at E's failed lookup before reaching F
  EXPECT_EQ(L"", GetVolumeDeviceName(L'X'));
  EXPECT_TRUE(VolumeMountedAtLetter(m.volumes[0].guidPath, L'C'));
  EXPECT_FALSE(VolumeMountedAtLetter(m.volumes[0].guidPath, L'c'));  // no case folding
  EXPECT_FALSE(VolumeMountedAtLetter(L"\\\\?\\Volume{unknown}\\", L'C'));
}

TEST(VolumeQueries, BadVolumeNameEndsTheLookup) {
  MachineDescription m = TwoDisks();
  m.volumes[0].guidPath = L"\\\\?\\Volume{no-trailing-backslash}";
  ScopedSimulatedMachine sim(m);
  EXPECT_EQ(L"", GetVolumeDeviceName(L'F'));
}

TEST(Firmware, LegacyUnderWineUefiWhenSimulated) {
  EXPECT_FALSE(IsUefiFirmware());  // Wine answers the firmware-variable call like a BIOS machine
  MachineDescription m;
  m.uefi = true;
  ScopedSimulatedMachine sim(m);
  EXPECT_TRUE(IsUefiFirmware());
}

}  // namespace
