#include <gtest/gtest.h>
#include <windows.h>
#include <winioctl.h>

#include <cstring>

#include "tools/dspt_logic.h"

namespace {

TEST(DsptArgumentsTest, AcceptsTheTwoForms) {
  DsptCommand c;
  std::wstring error;
  ASSERT_TRUE(ParseDsptArguments({L"0", L"/act:1"}, c, error));
  EXPECT_EQ(c.kind, DsptCommand::Activate);
  EXPECT_EQ(c.disk, 0u);
  EXPECT_EQ(c.partition, 1u);
  ASSERT_TRUE(ParseDsptArguments({L"12", L"/ACT:3"}, c, error));
  EXPECT_EQ(c.disk, 12u);
  EXPECT_EQ(c.partition, 3u);
  ASSERT_TRUE(ParseDsptArguments({L"1", L"/mbr", L"/noback", L"/y"}, c, error));
  EXPECT_EQ(c.kind, DsptCommand::WriteMbr);
  EXPECT_EQ(c.disk, 1u);
  ASSERT_TRUE(ParseDsptArguments({L"2", L"/Y", L"/MBR", L"/NoBack"}, c, error));
  EXPECT_EQ(c.kind, DsptCommand::WriteMbr);
}

TEST(DsptArgumentsTest, RejectsEverythingElse) {
  std::vector<std::vector<std::wstring>> bad = {
      {},       {L"0"},   {L"-1", L"/mbr", L"/noback", L"/y"}, {L"x", L"/act:1"}, {L"12345", L"/act:1"},
      {L"0", L"/act:0"},  {L"0", L"/act:"}, {L"0", L"/act:-1"}, {L"0", L"/act:129"}, {L"0", L"/act:1x"},
      {L"0", L"/mbr"},    {L"0", L"/mbr", L"/noback"}, {L"0", L"/mbr", L"/mbr", L"/y"},
      {L"0", L"/mbr", L"/noback", L"/y", L"/z"}, {L"0", L"/act:1", L"/y"}, {L"0", L"/clean"}};
  for (const auto& args : bad) {
    DsptCommand c;
    std::wstring error;
    EXPECT_FALSE(ParseDsptArguments(args, c, error)) << args.size();
    EXPECT_NE(error.find(L"usage: dspt"), std::wstring::npos);
  }
}

struct Entry {
  int64_t offset;
  uint32_t number;
  bool active;
  uint8_t type;
};

std::vector<uint8_t> Layout(uint32_t style, const std::vector<Entry>& entries) {
  std::vector<uint8_t> b(kLayoutHeaderSize + 128 * kLayoutEntrySize, 0);
  uint32_t count = static_cast<uint32_t>(entries.size());
  std::memcpy(b.data(), &style, 4);
  std::memcpy(b.data() + 4, &count, 4);
  for (size_t i = 0; i < entries.size(); ++i) {
    PARTITION_INFORMATION_EX e = {};
    e.PartitionStyle = static_cast<PARTITION_STYLE>(style);
    e.StartingOffset.QuadPart = entries[i].offset;
    e.PartitionLength.QuadPart = entries[i].number ? (1LL << 30) : 0;
    e.PartitionNumber = entries[i].number;
    e.Mbr.PartitionType = entries[i].type;
    e.Mbr.BootIndicator = entries[i].active ? TRUE : FALSE;
    std::memcpy(b.data() + kLayoutHeaderSize + i * kLayoutEntrySize, &e, sizeof(e));
  }
  return b;
}

PARTITION_INFORMATION_EX At(const std::vector<uint8_t>& b, size_t i) {
  PARTITION_INFORMATION_EX e;
  std::memcpy(&e, b.data() + kLayoutHeaderSize + i * kLayoutEntrySize, sizeof(e));
  return e;
}

// Primary slots out of offset order, an extended container, two logical drives.
std::vector<Entry> MixedDisk() {
  return {{100LL << 30, 2, false, 0x07},  // position 3
          {1LL << 20, 1, true, 0x07},     // position 1, active
          {20LL << 30, 0, false, 0x0F},   // extended container, not counted
          {0, 0, false, 0},               // empty slot
          {21LL << 30, 5, false, 0x07},   // logical, position 2
          {0, 0, false, 0}, {0, 0, false, 0}, {0, 0, false, 0},
          {200LL << 30, 6, false, 0x07},  // logical, position 4
          {0, 0, false, 0}, {0, 0, false, 0}, {0, 0, false, 0}};
}

TEST(ActivateTest, MarksThePartitionAtThePositionAndClearsTheOthers) {
  std::vector<uint8_t> layout = Layout(PARTITION_STYLE_MBR, MixedDisk());
  bool changed = false;
  std::wstring error;
  ASSERT_TRUE(ActivateInLayout(layout, 3, changed, error)) << error.c_str();
  EXPECT_TRUE(changed);
  EXPECT_TRUE(At(layout, 0).Mbr.BootIndicator);
  EXPECT_TRUE(At(layout, 0).RewritePartition);
  EXPECT_FALSE(At(layout, 1).Mbr.BootIndicator);
  EXPECT_TRUE(At(layout, 1).RewritePartition);
  EXPECT_FALSE(At(layout, 2).RewritePartition);
  EXPECT_FALSE(At(layout, 4).RewritePartition);
  EXPECT_EQ(At(layout, 0).StartingOffset.QuadPart, 100LL << 30);  // nothing else moves
  EXPECT_EQ(LayoutRequestSize(layout), kLayoutHeaderSize + 12 * kLayoutEntrySize);
}

TEST(ActivateTest, AnActivePartitionNeedsNoChange) {
  std::vector<uint8_t> layout = Layout(PARTITION_STYLE_MBR, MixedDisk());
  std::vector<uint8_t> before = layout;
  bool changed = true;
  std::wstring error;
  ASSERT_TRUE(ActivateInLayout(layout, 1, changed, error));
  EXPECT_FALSE(changed);
  EXPECT_EQ(layout, before);
}

TEST(ActivateTest, RefusalsLeaveTheLayoutAlone) {
  struct Case { uint32_t style; uint32_t position; const wchar_t* says; } cases[] = {
      {PARTITION_STYLE_MBR, 0, L"no partition 0"},
      {PARTITION_STYLE_MBR, 5, L"no partition 5"},
      {PARTITION_STYLE_MBR, 2, L"logical drive"},
      {PARTITION_STYLE_MBR, 4, L"logical drive"},
      {PARTITION_STYLE_GPT, 1, L"not partitioned in the MBR style"},
      {PARTITION_STYLE_RAW, 1, L"not partitioned in the MBR style"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> layout = Layout(c.style, MixedDisk());
    std::vector<uint8_t> before = layout;
    bool changed = true;
    std::wstring error;
    EXPECT_FALSE(ActivateInLayout(layout, c.position, changed, error)) << c.position;
    EXPECT_FALSE(changed);
    EXPECT_EQ(layout, before);
    EXPECT_NE(error.find(c.says), std::wstring::npos) << c.position;
  }
}

std::vector<uint8_t> BootCode() {
  std::vector<uint8_t> code(kMbrBootCodeSize);
  for (size_t i = 0; i < code.size(); ++i) code[i] = static_cast<uint8_t>(0xA0 + i % 7);
  return code;
}

void MbrSector(uint8_t (&sector)[kMbrSectorSize], uint8_t firstType) {
  for (size_t i = 0; i < kMbrSectorSize; ++i) sector[i] = static_cast<uint8_t>(i * 13);
  sector[446 + 4] = firstType;
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

TEST(MbrTest, ReplacesTheBootCodeAndKeepsSignatureAndTable) {
  uint8_t sector[kMbrSectorSize];
  MbrSector(sector, 0x07);
  uint8_t before[kMbrSectorSize];
  std::memcpy(before, sector, sizeof(sector));
  std::wstring error;
  std::vector<uint8_t> code = BootCode();
  ASSERT_TRUE(ApplyMbrBootCode(sector, code, error));
  EXPECT_EQ(std::memcmp(sector, code.data(), kMbrBootCodeSize), 0);
  EXPECT_EQ(std::memcmp(sector + 440, before + 440, 72), 0);
}

TEST(MbrTest, RefusalsLeaveTheSectorAlone) {
  struct Case { const char* name; uint8_t type; bool signature; size_t codeSize; const wchar_t* says; } cases[] = {
      {"stand-in code", 0x07, true, 200, L"no MBR boot code"},
      {"code too long", 0x07, true, 446, L"no MBR boot code"},
      {"no signature", 0x07, false, kMbrBootCodeSize, L"55 AA"},
      {"GPT protective MBR", 0xEE, true, kMbrBootCodeSize, L"GPT"},
  };
  for (const Case& c : cases) {
    uint8_t sector[kMbrSectorSize];
    MbrSector(sector, c.type);
    if (!c.signature) sector[511] = 0;
    uint8_t before[kMbrSectorSize];
    std::memcpy(before, sector, sizeof(sector));
    std::vector<uint8_t> code(c.codeSize, 0x90);
    std::wstring error;
    EXPECT_FALSE(ApplyMbrBootCode(sector, code, error)) << c.name;
    EXPECT_EQ(std::memcmp(sector, before, kMbrSectorSize), 0) << c.name;
    EXPECT_NE(error.find(c.says), std::wstring::npos) << c.name;
  }
}

}  // namespace
