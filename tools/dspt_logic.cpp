#include "tools/dspt_logic.h"

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "base/text_format.h"

namespace {

static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kLayoutHeaderSize, "layout header");
static_assert(sizeof(PARTITION_INFORMATION_EX) == kLayoutEntrySize, "layout entry");

constexpr uint32_t kMaxDiskNumber = 9999;
constexpr uint32_t kMaxPosition = 128;
constexpr size_t kPrimarySlots = 4;  // the first four layout entries are the MBR's own table
constexpr uint8_t kGptProtectiveType = 0xEE;

// A decimal number of at most 4 digits, nothing else.
bool ParseNumber(const std::wstring& text, uint32_t& value) {
  if (text.empty() || text.size() > 4) return false;
  value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    value = value * 10 + static_cast<uint32_t>(c - L'0');
  }
  return true;
}

template <typename T>
T Read(const std::vector<uint8_t>& b, size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof(T));
  return v;
}

PARTITION_INFORMATION_EX EntryAt(const std::vector<uint8_t>& layout, size_t index) {
  return Read<PARTITION_INFORMATION_EX>(layout, kLayoutHeaderSize + index * kLayoutEntrySize);
}

void StoreEntry(std::vector<uint8_t>& layout, size_t index, const PARTITION_INFORMATION_EX& e) {
  std::memcpy(layout.data() + kLayoutHeaderSize + index * kLayoutEntrySize, &e, sizeof(e));
}

size_t EntriesInBuffer(const std::vector<uint8_t>& layout) {
  if (layout.size() < kLayoutHeaderSize) return 0;
  size_t room = (layout.size() - kLayoutHeaderSize) / kLayoutEntrySize;
  size_t count = Read<uint32_t>(layout, offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount));
  return std::min(room, count);
}

}  // namespace

bool ParseDsptArguments(const std::vector<std::wstring>& args, DsptCommand& command, std::wstring& error) {
  const wchar_t* usage = L"usage: dspt DISK /act:PARTITION | dspt DISK /mbr /noback /y";
  if (args.size() < 2) {
    error = usage;
    return false;
  }
  DsptCommand c;
  if (!ParseNumber(args[0], c.disk) || c.disk > kMaxDiskNumber) {
    error = L"bad disk number \"" + args[0] + L"\"; " + usage;
    return false;
  }
  std::wstring first = Lower(args[1]);
  if (args.size() == 2 && first.compare(0, 5, L"/act:") == 0) {
    if (!ParseNumber(first.substr(5), c.partition) || c.partition < 1 || c.partition > kMaxPosition) {
      error = L"bad partition number \"" + args[1].substr(5) + L"\"; " + usage;
      return false;
    }
    c.kind = DsptCommand::Activate;
    command = c;
    return true;
  }
  std::vector<std::wstring> switches;
  for (size_t i = 1; i < args.size(); ++i) switches.push_back(Lower(args[i]));
  std::sort(switches.begin(), switches.end());
  if (switches != std::vector<std::wstring>{L"/mbr", L"/noback", L"/y"}) {
    error = L"unknown arguments; " + std::wstring(usage);
    return false;
  }
  c.kind = DsptCommand::WriteMbr;
  command = c;
  return true;
}

bool ActivateInLayout(std::vector<uint8_t>& layout, uint32_t position, bool& changed, std::wstring& error) {
  changed = false;
  if (layout.size() < kLayoutHeaderSize) {
    error = L"the disk layout could not be read";
    return false;
  }
  if (Read<uint32_t>(layout, 0) != PARTITION_STYLE_MBR) {
    error = L"the disk is not partitioned in the MBR style (GPT or raw); nothing changed";
    return false;
  }
  // Numbered partitions by start offset, as the program counts them.
  struct Counted { int64_t offset; size_t index; };
  std::vector<Counted> counted;
  size_t entries = std::min(EntriesInBuffer(layout), kLayoutEntriesCounted);
  for (size_t i = 0; i < entries; ++i) {
    PARTITION_INFORMATION_EX e = EntryAt(layout, i);
    if (e.PartitionNumber != 0) counted.push_back({e.StartingOffset.QuadPart, i});
  }
  std::stable_sort(counted.begin(), counted.end(),
                   [](const Counted& a, const Counted& b) { return a.offset < b.offset; });
  if (position < 1 || position > counted.size()) {
    error = L"the disk has no partition " + std::to_wstring(position) + L" (it has " +
            std::to_wstring(counted.size()) + L"); nothing changed";
    return false;
  }
  size_t target = counted[position - 1].index;
  if (target >= kPrimarySlots) {
    error = L"partition " + std::to_wstring(position) + L" is a logical drive and cannot be active; nothing changed";
    return false;
  }
  std::vector<uint8_t> updated = layout;
  size_t primaries = std::min(EntriesInBuffer(updated), kPrimarySlots);
  for (size_t i = 0; i < primaries; ++i) {
    PARTITION_INFORMATION_EX e = EntryAt(updated, i);
    BOOLEAN wanted = i == target ? TRUE : FALSE;
    e.RewritePartition = FALSE;
    if ((e.Mbr.BootIndicator != FALSE) != (wanted != FALSE)) {
      e.Mbr.BootIndicator = wanted;
      e.RewritePartition = TRUE;
      changed = true;
    }
    StoreEntry(updated, i, e);
  }
  for (size_t i = primaries; i < EntriesInBuffer(updated); ++i) {
    PARTITION_INFORMATION_EX e = EntryAt(updated, i);
    e.RewritePartition = FALSE;
    StoreEntry(updated, i, e);
  }
  layout.swap(updated);
  return true;
}

size_t LayoutRequestSize(const std::vector<uint8_t>& layout) {
  return kLayoutHeaderSize + EntriesInBuffer(layout) * kLayoutEntrySize;
}

bool ApplyMbrBootCode(uint8_t (&sector)[kMbrSectorSize], const std::vector<uint8_t>& code, std::wstring& error) {
  if (code.size() != kMbrBootCodeSize) {
    error = L"no MBR boot code is built into this tool; nothing changed";
    return false;
  }
  if (sector[510] != 0x55 || sector[511] != 0xAA) {
    error = L"the disk has no master boot record (no 55 AA signature); nothing changed";
    return false;
  }
  for (size_t i = 0; i < 4; ++i) {
    if (sector[446 + i * 16 + 4] == kGptProtectiveType) {
      error = L"the disk is a GPT disk; nothing changed";
      return false;
    }
  }
  std::memcpy(sector, code.data(), kMbrBootCodeSize);
  return true;
}
