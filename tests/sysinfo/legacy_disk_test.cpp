// The Windows 2000 forms of the disk requests: the conversion of their buffers, and the disk table built from
// them on a described machine whose XP-and-later requests fail.
#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <string>
#include <vector>

#include "sysinfo/disk_table.h"
#include "sysinfo/simulated_machine.h"

namespace {

constexpr int64_t MiB = 1 << 20;
constexpr int64_t GiB = int64_t(1) << 30;

struct Entry {
  int64_t start, length;
  DWORD number;
  BYTE type;
  bool boot;
};

// A DRIVE_LAYOUT_INFORMATION buffer filled through the system's own structure definitions.
std::vector<uint8_t> RawLegacyLayout(DWORD signature, const std::vector<Entry>& entries) {
  std::vector<uint8_t> buf(kLayoutBufferSize, 0);
  auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(buf.data());
  layout->PartitionCount = static_cast<DWORD>(entries.size());
  layout->Signature = signature;
  for (size_t i = 0; i < entries.size(); ++i) {
    PARTITION_INFORMATION& e = layout->PartitionEntry[i];
    e.StartingOffset.QuadPart = entries[i].start;
    e.PartitionLength.QuadPart = entries[i].length;
    e.PartitionNumber = entries[i].number;
    e.PartitionType = entries[i].type;
    e.BootIndicator = entries[i].boot;
    e.RecognizedPartition = entries[i].number != 0;
  }
  return buf;
}

struct Slot {
  int64_t start, length;
  bool active;
  bool operator==(const Slot& o) const { return start == o.start && length == o.length && active == o.active; }
};

std::vector<Slot> Slots(const DiskRecord& r) {
  std::vector<Slot> v;
  for (const PartitionSlot& s : r.slots) v.push_back({s.startingOffset, s.length, s.active});
  return v;
}

TEST(DiskRecordFromLegacyLayout, ConvertsTheOldLayoutLikeTheExtendedOne) {
  const struct {
    const char* name;
    std::vector<Entry> entries;
    std::vector<Slot> expected;  // in layout order
  } cases[] = {
      {"one active primary and three empty slots",
       {{1 * MiB, 60 * GiB, 1, 0x07, true}, {0, 0, 0, 0, false}, {0, 0, 0, 0, false}, {0, 0, 0, 0, false}},
       {{1 * MiB, 60 * GiB, true}}},
      {"primary, extended container, two logicals listed out of order",
       {{1 * MiB, 50 * GiB, 1, 0x07, false}, {50 * GiB, 100 * GiB, 0, 0x0F, false},
        {0, 0, 0, 0, false}, {0, 0, 0, 0, false},
        {100 * GiB, 40 * GiB, 6, 0x07, false}, {50 * GiB + MiB, 40 * GiB, 5, 0x07, false}},
       {{1 * MiB, 50 * GiB, false}, {100 * GiB, 40 * GiB, false}, {50 * GiB + MiB, 40 * GiB, false}}},
      {"a container that carries a number is still left out (types 05 and 0F)",
       {{1 * MiB, 10 * GiB, 1, 0x05, false}, {2 * MiB, 5 * GiB, 2, 0x07, false}, {11 * GiB, 5 * GiB, 3, 0x0F, false}},
       {{2 * MiB, 5 * GiB, false}}},
      {"an unused type with a number is an empty slot",
       {{1 * MiB, 10 * GiB, 4, 0x00, false}, {20 * GiB, 5 * GiB, 1, 0x0B, false}},
       {{20 * GiB, 5 * GiB, false}}},
      {"the active flag on the second primary only",
       {{1 * MiB, 10 * GiB, 1, 0x07, false}, {10 * GiB + MiB, 10 * GiB, 2, 0x07, true}},
       {{1 * MiB, 10 * GiB, false}, {10 * GiB + MiB, 10 * GiB, true}}},
      {"no partitions at all", {}, {}},
  };
  for (const auto& c : cases) {
    auto buf = RawLegacyLayout(0x1A2B3C4D, c.entries);
    DiskRecord r = DiskRecordFromLegacyLayout(buf.data(), buf.size());
    EXPECT_TRUE(Slots(r) == c.expected) << c.name;
    EXPECT_EQ(0x1A2B3C4Du, r.signature) << c.name;
    EXPECT_TRUE(r.mbr) << c.name;
    EXPECT_EQ(0, r.size) << c.name;
    EXPECT_EQ(-1, r.number) << c.name;
    for (const PartitionSlot& s : r.slots) EXPECT_EQ(0, s.letter) << c.name;
  }
}

TEST(DiskRecordFromLegacyLayout, ThirtyEntriesAtMostAndNothingPastTheBuffer) {
  std::vector<Entry> many;
  for (DWORD i = 0; i < 40; ++i) many.push_back({(i + 1) * GiB, MiB, i + 1, 0x07, false});
  auto buf = RawLegacyLayout(7, many);
  EXPECT_EQ(30u, DiskRecordFromLegacyLayout(buf.data(), buf.size()).slots.size());
  EXPECT_EQ(2u, DiskRecordFromLegacyLayout(buf.data(), 8 + 2 * 32 + 31).slots.size());
  DiskRecord tiny = DiskRecordFromLegacyLayout(buf.data(), 7);
  EXPECT_TRUE(tiny.slots.empty());
  EXPECT_EQ(0u, tiny.signature);
}

TEST(VolumePartition, FromTheOldAndTheExtendedPartitionRequest) {
  PARTITION_INFORMATION legacy = {};
  legacy.StartingOffset.QuadPart = 61 * GiB;
  legacy.PartitionLength.QuadPart = 10 * GiB;
  legacy.PartitionNumber = 2;
  legacy.PartitionType = 0x07;
  PARTITION_INFORMATION_EX ex = {};
  ex.PartitionStyle = PARTITION_STYLE_MBR;
  ex.StartingOffset.QuadPart = 61 * GiB;
  ex.PartitionNumber = 2;
  const struct { const char* name; bool boot; } cases[] = {{"inactive", false}, {"active", true}};
  for (const auto& c : cases) {
    legacy.BootIndicator = c.boot;
    ex.Mbr.BootIndicator = c.boot;
    VolumePartition a, b;
    ASSERT_TRUE(VolumePartitionFromLegacyInfo(reinterpret_cast<const uint8_t*>(&legacy), sizeof(legacy), a));
    ASSERT_TRUE(VolumePartitionFromInfoEx(reinterpret_cast<const uint8_t*>(&ex), sizeof(ex), b));
    EXPECT_EQ(61 * GiB, a.startingOffset) << c.name;
    EXPECT_EQ(c.boot, a.bootIndicator) << c.name;
    EXPECT_TRUE(a.mbr) << c.name;
    EXPECT_EQ(a.startingOffset, b.startingOffset) << c.name;
    EXPECT_EQ(a.bootIndicator, b.bootIndicator) << c.name;
    EXPECT_EQ(a.mbr, b.mbr) << c.name;
  }
  VolumePartition none;
  EXPECT_FALSE(VolumePartitionFromLegacyInfo(reinterpret_cast<const uint8_t*>(&legacy), 31, none));
  EXPECT_FALSE(VolumePartitionFromInfoEx(reinterpret_cast<const uint8_t*>(&ex), 143, none));
  ex.PartitionStyle = PARTITION_STYLE_GPT;
  ex.Mbr.BootIndicator = true;  // bytes of the GPT member: no boot flag on a GPT partition
  VolumePartition gpt;
  ASSERT_TRUE(VolumePartitionFromInfoEx(reinterpret_cast<const uint8_t*>(&ex), sizeof(ex), gpt));
  EXPECT_FALSE(gpt.mbr);
  EXPECT_FALSE(gpt.bootIndicator);
}

// Two disks as machine.ini describes them: C: on disk 0 (active), E: and D: on disk 1 (D: a logical drive
// inside an extended partition, listed before E:'s primary), and a removable F:.
const wchar_t kTwoDisks[] =
    L"[disk0]\nsignature = 1A2B3C4D\nsize = 80G\nentry = 1M, 60G, 1, 07, active\n"
    L"[disk1]\nentry = 100G, 200G, 0, 0f\nentry = 1M, 100G, 1, 07\nentry = 100G, 0, 0, 00\n"
    L"entry = 102402M, 150G, 5, 07\n"
    L"[volume C]\ndisk = 0\noffset = 1M\n"
    L"[volume E]\ndisk = 1\noffset = 1M\n"
    L"[volume D]\ndisk = 1\noffset = 102402M\n"
    L"[volume F]\ntype = removable\n";

MachineDescription Described(bool win2000) {
  MachineDescription m;
  std::wstring error;
  std::wstring text = std::wstring(win2000 ? L"[machine]\nioctl = win2000\n" : L"[machine]\nioctl = ex\n") + kTwoDisks;
  EXPECT_TRUE(ParseMachineDescription(text, m, error)) << std::string(error.begin(), error.end());
  EXPECT_EQ(win2000, m.onlyWin2000Requests);
  return m;
}

struct TableFacts {
  std::vector<std::vector<Slot>> slots;
  std::vector<std::wstring> letters;
  std::vector<uint32_t> signatures;
  std::vector<std::wstring> addresses;  // C, D, E, F from C: and from D:
  std::vector<int32_t> bootFlags;       // C, D, E
};

TableFacts BuildOn(const MachineDescription& m) {
  ScopedSimulatedMachine sim(m);
  EXPECT_TRUE(BuildDiskTable());
  TableFacts f;
  for (const DiskRecord& r : TheDiskTable) {
    f.slots.push_back(Slots(r));
    std::wstring letters;
    for (const PartitionSlot& s : r.slots) letters += s.letter ? s.letter : L'-';
    f.letters.push_back(letters);
    f.signatures.push_back(r.signature);
  }
  for (wchar_t reference : {L'C', L'D'}) {
    for (wchar_t letter : {L'C', L'D', L'E', L'F'}) f.addresses.push_back(GetGhostAddress(letter, reference));
  }
  for (wchar_t letter : {L'C', L'D', L'E'}) f.bootFlags.push_back(GetPartitionBootFlag(letter));
  return f;
}

TEST(Windows2000Requests, TheTableAndTheGhostAddressesAreThoseOfTheExtendedRequests) {
  TableFacts ex = BuildOn(Described(false));
  TableFacts old = BuildOn(Described(true));
  EXPECT_EQ((std::vector<std::wstring>{L"C", L"ED"}), ex.letters);
  EXPECT_EQ((std::vector<std::wstring>{L"1:1", L"2:2", L"2:1", L"", L"2:1", L"1:2", L"1:1", L""}), ex.addresses);
  EXPECT_EQ((std::vector<int32_t>{1, 0, 0}), ex.bootFlags);
  EXPECT_TRUE(old.slots == ex.slots);
  EXPECT_EQ(ex.letters, old.letters);
  EXPECT_EQ((std::vector<uint32_t>{0x1A2B3C4Du, 0x5A1E0002u}), old.signatures);
  EXPECT_EQ(ex.signatures, old.signatures);
  EXPECT_EQ(ex.addresses, old.addresses);
  EXPECT_EQ(ex.bootFlags, old.bootFlags);
}

TEST(Windows2000Requests, DiskSizesAreUnknownSoNoPartitionIsPlaced) {
  {
    ScopedSimulatedMachine sim(Described(false));
    BuildDiskTable();
    PartitionPlace place;
    ASSERT_TRUE(GetPartitionPlace(L'C', place));
    EXPECT_EQ(80 * GiB, place.diskSize);
  }
  ScopedSimulatedMachine sim(Described(true));
  BuildDiskTable();
  ASSERT_EQ(2u, TheDiskTable.size());
  for (const DiskRecord& r : TheDiskTable) EXPECT_EQ(0, r.size);
  PartitionPlace place;
  EXPECT_FALSE(GetPartitionPlace(L'C', place));  // the identity file is left out
  EXPECT_FALSE(GetPartitionPlace(L'D', place));
  EXPECT_EQ(60 * GiB, GetPartitionLength(L'C'));
  EXPECT_EQ(150 * GiB, GetPartitionLength(L'D'));
}

TEST(Windows2000Requests, OldRequestsFailWhereTheMachineSaysSo) {
  {
    MachineDescription m = Described(true);
    m.volumes[1].partitionInfoFails = true;  // E: cannot be placed; D: keeps its position behind it
    ScopedSimulatedMachine sim(m);
    BuildDiskTable();
    EXPECT_EQ(L"", GetGhostAddress(L'E', L'C'));
    EXPECT_EQ(L"2:2", GetGhostAddress(L'D', L'C'));
    EXPECT_EQ(-1, GetPartitionBootFlag(L'E'));
  }
  {
    MachineDescription m = Described(true);
    m.disks[0].layoutFails = true;           // disk 0 leaves the table
    ScopedSimulatedMachine sim(m);
    BuildDiskTable();
    ASSERT_EQ(1u, TheDiskTable.size());
    EXPECT_EQ(1, TheDiskTable[0].number);
  }
  MachineDescription gpt = Described(true);
  gpt.disks[1].style = 1;                    // Windows 2000 reads no GPT disk
  for (SimVolume& v : gpt.volumes) v.style = v.disk == 1 ? 1 : 0;
  ScopedSimulatedMachine sim(gpt);
  BuildDiskTable();
  ASSERT_EQ(1u, TheDiskTable.size());
  EXPECT_EQ(L"1:1", GetGhostAddress(L'C', L'C'));
  EXPECT_EQ(L"", GetGhostAddress(L'D', L'C'));
}

}  // namespace
