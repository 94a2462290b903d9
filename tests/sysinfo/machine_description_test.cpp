// The text form of a simulated machine, used by the sandbox.
#include <gtest/gtest.h>

#include <cstring>

#include "sysinfo/disk_table.h"
#include "sysinfo/simulated_machine.h"

namespace {

const wchar_t kMachine[] =
    L"\xFEFF; two disks\n"
    L"[machine]\nfirmware=bios\n"
    L"[disk0]\nstyle=mbr\nentry=1M,50G,1,07,active\nentry=50G,100G,0,0f   # extended\n"
    L"entry=60G,10G,5\nentry=51G,9G,6\n"
    L"[disk1]\nlayout=fail\n"
    L"[disk2]\nentry = 1M, 10G, 1\n"
    L"[volume C]\ndisk=0\noffset=1M\ndevice=\\Device\\HarddiskVolume1\n"
    L"[volume d]\ntype=fixed\ndisk=0\noffset=60G\n"
    L"[volume E]\ndisk=0\noffset=51G\n"
    L"[volume F]\ntype=removable\ndisk=2\noffset=1M\n";

TEST(MachineDescription, ParsesDisksVolumesAndDefaults) {
  MachineDescription m;
  std::wstring error;
  ASSERT_TRUE(ParseMachineDescription(kMachine, m, error)) << std::string(error.begin(), error.end());
  ASSERT_EQ(3u, m.disks.size());
  EXPECT_EQ(4u, m.disks[0].entries.size());
  EXPECT_TRUE(m.disks[0].entries[0].bootIndicator);
  EXPECT_EQ(0x0F, m.disks[0].entries[1].partitionType);
  EXPECT_EQ(int64_t(50) << 30, m.disks[0].entries[0].length);
  EXPECT_TRUE(m.disks[1].layoutFails);
  ASSERT_EQ(4u, m.volumes.size());
  EXPECT_EQ(L'D', m.volumes[1].letter);
  EXPECT_TRUE(m.volumes[0].bootIndicator);  // taken from the partition it lies on
  EXPECT_EQ(static_cast<UINT>(DRIVE_REMOVABLE), m.volumes[3].driveType);
  EXPECT_FALSE(m.uefi);
}

TEST(MachineDescription, DrivesTheDiskTable) {
  MachineDescription m;
  std::wstring error;
  ASSERT_TRUE(ParseMachineDescription(kMachine, m, error));
  ScopedSimulatedMachine sim(m);
  BuildDiskTable();
  ASSERT_EQ(2u, TheDiskTable.size());  // disk1's layout fails
  EXPECT_EQ(L"1:1", GetGhostAddress(L'C', L'C'));
  EXPECT_EQ(L"1:2", GetGhostAddress(L'E', L'C'));
  EXPECT_EQ(L"1:3", GetGhostAddress(L'D', L'C'));
  EXPECT_EQ(L"", GetGhostAddress(L'F', L'C'));
  EXPECT_EQ(L"\\Device\\HarddiskVolume1", GetVolumeDeviceName(L'C'));
}

TEST(MachineDescription, DiskSignaturesAndSizes) {
  MachineDescription m;
  std::wstring error;
  ASSERT_TRUE(ParseMachineDescription(L"[disk0]\nsignature = 1a2B3c4D\nsize = 80G\nentry = 1M, 10G, 1\n"
                                      L"[disk1]\nentry = 1M, 10G, 1\nlengthquery = fail\n"
                                      L"[disk2]\nsignature = 00000000\n",
                                      m, error));
  ASSERT_EQ(3u, m.disks.size());
  EXPECT_EQ(0x1A2B3C4Du, m.disks[0].signature);
  EXPECT_EQ(int64_t(80) << 30, m.disks[0].size);
  EXPECT_EQ(int64_t(80) << 30, SimulatedMachine::DiskLength(m.disks[0]));
  EXPECT_EQ(0x5A1E0002u, m.disks[1].signature);  // the default: 5A1E0000 + number + 1
  EXPECT_EQ((int64_t(10) << 30) + (1 << 20), SimulatedMachine::DiskLength(m.disks[1]));
  EXPECT_TRUE(m.disks[1].lengthFails);
  EXPECT_EQ(0u, m.disks[2].signature);  // "unset", as named
  // The layout carries the signature, the length request the size.
  std::vector<uint8_t> layout = SimulatedMachine::LayoutBytes(m.disks[0], 5760);
  EXPECT_EQ(0x1A2B3C4Du, LayoutSignature(layout.data(), layout.size()));
}

TEST(MachineDescription, RejectsMalformedLinesNamingThem) {
  const struct { const wchar_t* text; const wchar_t* mentions; } bad[] = {
      {L"[disk1]\n", L"line 1"},                         // disks must be numbered from 0
      {L"[disk0]\nentry=1M,2M\n", L"line 2"},            // too few fields
      {L"[disk0]\nentry=x,2M,1\n", L"line 2"},           // not a number
      {L"[volume CD]\n", L"line 1"},
      {L"[volume C]\ntype=floppy\n", L"line 2"},
      {L"disk=0\n", L"line 1"},                          // key outside a section
      {L"[machine]\nfirmware=efi\n", L"line 2"},
      {L"[disk0]\nentry=1M,2M,1,zz\n", L"line 2"},
      {L"[disk0]\nsignature=1A2B3C4\n", L"line 2"},    // not eight digits
      {L"[disk0]\nsignature=1A2B3C4G\n", L"line 2"},
      {L"[disk0]\nsize=0\n", L"line 2"},
      {L"[disk0]\nlengthquery=maybe\n", L"line 2"},
      {L"[machine]\nmemory=0\n", L"line 2"},
      {L"[machine]\nmemory=lots\n", L"line 2"},
      {L"[machine]\nshutdown=sometimes\n", L"line 2"},
      {L"[machine]\nioctl=vista\n", L"line 2"},
      {L"[volume C]\noem=-FVE-FS-X\n", L"line 2"},     // more than eight characters
      {L"[volume C]\nbootsector=maybe\n", L"line 2"},
  };
  for (const auto& b : bad) {
    MachineDescription m;
    std::wstring error;
    EXPECT_FALSE(ParseMachineDescription(b.text, m, error));
    EXPECT_NE(std::wstring::npos, error.find(b.mentions)) << std::string(error.begin(), error.end());
  }
  MachineDescription m;
  std::wstring error;
  EXPECT_TRUE(ParseMachineDescription(L"[machine]\nfirmware=uefi\n", m, error));
  EXPECT_TRUE(m.uefi);
}

TEST(MachineDescription, MemoryRestartToolAndBootSectors) {
  MachineDescription m;
  std::wstring error;
  ASSERT_TRUE(ParseMachineDescription(L"[machine]\nmemory = 192M\nshutdown = missing\n"
                                      L"[disk0]\nentry = 1M, 60G, 1, 07\nentry = 61G, 10G, 2, 07\n"
                                      L"[volume C]\ndisk = 0\noffset = 1M\noem = -FVE-FS-\n"
                                      L"[volume D]\ndisk = 0\noffset = 61G\n"
                                      L"[volume E]\nbootsector = fail\n",
                                      m, error));
  EXPECT_EQ(uint64_t(192) << 20, m.memoryBytes);
  EXPECT_EQ(RestartTool::Missing, m.restartTool);
  ScopedSimulatedMachine sim(m);
  uint64_t memory = 0;
  ASSERT_TRUE(GetPhysicalMemoryBytes(memory));
  EXPECT_EQ(uint64_t(192) << 20, memory);
  BuildDiskTable();
  EXPECT_TRUE(VolumeIsBitLocker(L'C'));   // through its disk at the partition's offset, and through itself
  EXPECT_FALSE(VolumeIsBitLocker(L'D'));  // "NTFS    " unless described otherwise
  EXPECT_FALSE(VolumeIsBitLocker(L'E'));  // unreadable: nothing to refuse on
  EXPECT_FALSE(VolumeIsBitLocker(L'Q'));  // no such volume

  MachineDescription plain;
  ASSERT_TRUE(ParseMachineDescription(L"[volume C]\n", plain, error));
  EXPECT_EQ(RestartTool::Works, plain.restartTool);
  ScopedSimulatedMachine own(plain);
  ASSERT_TRUE(GetPhysicalMemoryBytes(memory));  // not described: the system's own figure
  EXPECT_GT(memory, uint64_t(16) << 20);
}

TEST(BootSector, BitLockerIsNamedByItsOemName) {
  uint8_t sector[512] = {0xEB, 0x58, 0x90, '-', 'F', 'V', 'E', '-', 'F', 'S', '-'};
  EXPECT_TRUE(BootSectorIsBitLocker(sector, sizeof(sector)));
  EXPECT_FALSE(BootSectorIsBitLocker(sector, 10));  // too short to hold the name
  std::memcpy(sector + 3, "NTFS    ", 8);
  EXPECT_FALSE(BootSectorIsBitLocker(sector, sizeof(sector)));
  std::memcpy(sector + 3, "MSWIN4.1", 8);
  EXPECT_FALSE(BootSectorIsBitLocker(sector, sizeof(sector)));
}

}  // namespace
