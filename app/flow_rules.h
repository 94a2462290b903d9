// Rules and texts of the reinstall, system backup and system restore flows, as plain functions.
#pragma once
#include <cstdint>
#include <string>

// A downloaded image passes the size check when it holds at least 100 MiB (size divided by 1024 twice,
// truncating): 104,857,600 bytes pass, one byte less fails.
bool ImageLargeEnough(int64_t sizeInBytes);

// The ready question of a reinstall, with the image's and the system's Ghost addresses.
std::wstring ReinstallQuestion(const std::wstring& source, const std::wstring& target);
// The questions of the system backup and restore commands.
std::wstring SystemBackupQuestion(const std::wstring& source, const std::wstring& destination);
std::wstring SystemRestoreQuestion(const std::wstring& source, const std::wstring& destination);

// Why a one-time boot cannot be prepared on this machine, if it cannot.
enum class PreparationBlock {
  None,
  UnsupportedRelease,  // Windows 10 and unrecognised releases: nothing would be prepared
  UefiFirmware,        // a boot-sector entry cannot start on UEFI firmware
  TooLittleMemory,     // the imaging environment would not start or not finish
  BitLockerVolume,     // the imaging environment cannot read or write an encrypted system volume
  NoBcdboot,           // the system partition is not active and the system has no bcdboot to make it bootable
};
PreparationBlock CheckPreparation(int32_t osIndex, bool uefiFirmware);

// The least physical memory, as Windows reports it, with which the imaging environment restores an image
// (measured under QEMU, with a margin: docs/flows.md).
constexpr uint64_t kLeastMemoryMiB = 256;

// What decides whether a one-time boot can work on this machine.
struct MachineFacts {
  int32_t osIndex = 14;
  bool uefiFirmware = false;
  bool memoryKnown = false;      // an unknown size is not refused
  uint64_t memoryBytes = 0;
  bool bitLockerSystemVolume = false;
  bool driveStorePath = false;   // a BCD release whose system partition is not active (bcdboot makes it bootable)
  bool hasBcdboot = false;       // the system's own bcdboot.exe is there
};
// The first reason, in this order: release, firmware, memory, BitLocker, bcdboot.
PreparationBlock CheckMachine(const MachineFacts& facts);
// Whether the BCD path through the store on the system drive would be taken: a BCD release (3 to 11) whose
// system partition has the boot flag 0 (GetPartitionBootFlag).
bool TakesDriveStorePath(int32_t osIndex, int32_t systemBootFlag);
// The message shown for a block (caption "提示"); empty for None.
const wchar_t* PreparationBlockMessage(PreparationBlock block);

// Which preparation failed, for the words of its message.
enum class PreparationKind { Reinstall, Backup, Restore };
// The message of a preparation that failed and was taken back (caption "错误"):
// "准备重装环境失败：" + what failed + "。系统未作任何更改。" ("备份", "还原" for the other kinds). When not
// every change could be taken back, the last sentence says so instead.
std::wstring PreparationFailedMessage(PreparationKind kind, const std::wstring& failure, bool undone);
// Where an image is stored or read: on a partition of its own, or where the imaging environment cannot use
// it (it cannot read and write one partition at once, and a download needs room for the whole image).
enum class StorageBlock {
  None,
  OnSystemPartition,  // the image's drive is the system drive, or lies on the system partition
  NoRoom,             // the drive lacks room for the image
};
// Whether a drive holds the system partition: the same letter, or the same Ghost address when both are known.
bool OnSystemPartition(wchar_t drive, wchar_t systemDrive, const std::wstring& driveAddress,
                       const std::wstring& systemAddress);
// Bytes an image of the catalogue's size text may take ("800M", "3.5G", "700MB", "4.2 GB"): the figure plus
// one unit of its last digit, because the text is rounded down. 0 when the text gives no size.
uint64_t CatalogueImageBytes(const std::wstring& sizeText);
// Room for a download: imageBytes (0: unknown, never refused) against what the drive can give: its free
// bytes and the bytes already held by the image's earlier files (a partial download, an image replaced).
StorageBlock CheckDownloadRoom(uint64_t imageBytes, uint64_t freeBytes, uint64_t heldBytes);
// The message shown for a block of a download or a backup (caption "提示"); empty for None.
const wchar_t* StorageBlockMessage(StorageBlock block);
extern const wchar_t kNoImagePartitionMessage[];   // "需要一个系统分区以外、剩余空间足够的分区来存放系统镜像。"
extern const wchar_t kRestoreFromSystemMessage[];  // a restore image on the system partition
extern const wchar_t kDownloadedImageInvalidMessage[];  // a downloaded image that is not one of ours

// Why a complete image could not take its name, with the path of the file that holds it: read-only, or
// in use by another program. The downloaded data is kept and the text says how to finish.
std::wstring FinalNameHeldMessage(const std::wstring& imagePath, bool readOnly);
// The message for a catalogue file name that breaks the shared file-name rule.
std::wstring ImageNameInvalidMessage(const std::wstring& fileName);

// Messages of the flows.
extern const wchar_t kImageExistsQuestion[];       // "当前镜像文件已存在，是否覆盖？"
extern const wchar_t kAbandonQuestion[];           // "是否确定返回主界面重新选择操作系统?"
extern const wchar_t kDownloadFailedMessage[];     // "下载文件出错,请检查网络链接后重启软件！"
extern const wchar_t kImageMissingMessage[];       // "下载文件文件不存在"
extern const wchar_t kImageTooSmallMessage[];      // "下载文件小于100MB，可能已下载文件不正确！建议重启软件再试！"
extern const wchar_t kPartitionErrorMessage[];     // "读取分区发生错误。"
extern const wchar_t kPartitionError1Message[];    // "读取分区发生错误1。"
extern const wchar_t kPartitionError2Message[];    // "读取分区发生错误2。"
extern const wchar_t kBackupImageMissingMessage[]; // "备份文件不存在,请先使用备份系统功能"
extern const wchar_t kImageHashMismatchMessage[];  // "镜像文件校验失败，请重新下载！"
extern const wchar_t kVerifyingText[];             // "校验中"
extern const wchar_t kKeepPartialQuestion[];       // abandoning: keep the partial file for a later resume?
extern const wchar_t kTooLargeForFat32Message[];   // "下载目录所在分区为FAT32格式，无法保存大于4GB的文件。"
extern const char kRestartCommand[];               // "cmd /c shutdown -r -t 0"
