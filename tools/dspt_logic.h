// The partition tool's rules, on plain values: its arguments, the activation of one partition in a drive
// layout, and the boot code written into a master boot record.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DsptCommand {
  enum Kind { Activate, WriteMbr } kind = Activate;
  uint32_t disk = 0;
  uint32_t partition = 0;  // 1-based position in start-offset order (Activate only)
};

// Exit codes.
constexpr int kDsptOk = 0;
constexpr int kDsptBadArguments = 1;
constexpr int kDsptDeviceError = 2;
constexpr int kDsptRefused = 3;

constexpr size_t kMbrSectorSize = 512;
constexpr size_t kMbrBootCodeSize = 440;  // bytes 440-511 hold the disk signature and partition table
constexpr size_t kLayoutHeaderSize = 48;  // DRIVE_LAYOUT_INFORMATION_EX up to its first entry
constexpr size_t kLayoutEntrySize = 144;  // PARTITION_INFORMATION_EX
constexpr size_t kLayoutEntriesCounted = 30;

// "N /act:P" or "N /mbr /noback /y" (switches in any order and case). False with a message otherwise.
bool ParseDsptArguments(const std::vector<std::wstring>& args, DsptCommand& command, std::wstring& error);

// Marks the partition at 1-based position (numbered partitions of the first 30 entries, by ascending start
// offset) active and clears the flag on the other primary partitions, flagging changed entries for
// rewriting. The layout must be an MBR one and the partition a primary one. changed tells whether any entry
// changed. False with a message, the buffer untouched, otherwise.
bool ActivateInLayout(std::vector<uint8_t>& layout, uint32_t position, bool& changed, std::wstring& error);
// The size of the layout as the set request expects it: header and PartitionCount entries.
size_t LayoutRequestSize(const std::vector<uint8_t>& layout);

// Replaces bytes 0-439 of an MBR sector with boot code, keeping the disk signature and partition table.
// Refuses (false, sector untouched) a code of another size, a sector without the 55 AA signature and the
// protective MBR of a GPT disk.
bool ApplyMbrBootCode(uint8_t (&sector)[kMbrSectorSize], const std::vector<uint8_t>& code, std::wstring& error);
