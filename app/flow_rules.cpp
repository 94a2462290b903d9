#include "app/flow_rules.h"

#include <cwctype>

#include "base/text_format.h"
#include "sysinfo/os_version.h"

const wchar_t kImageExistsQuestion[] = L"当前镜像文件已存在，是否覆盖？";
const wchar_t kAbandonQuestion[] = L"是否确定返回主界面重新选择操作系统?";
const wchar_t kDownloadFailedMessage[] = L"下载文件出错,请检查网络链接后重启软件！";
const wchar_t kImageMissingMessage[] = L"下载文件文件不存在";
const wchar_t kImageTooSmallMessage[] = L"下载文件小于100MB，可能已下载文件不正确！建议重启软件再试！";
const wchar_t kPartitionErrorMessage[] = L"读取分区发生错误。";
const wchar_t kPartitionError1Message[] = L"读取分区发生错误1。";
const wchar_t kPartitionError2Message[] = L"读取分区发生错误2。";
const wchar_t kBackupImageMissingMessage[] = L"备份文件不存在,请先使用备份系统功能";
const wchar_t kImageHashMismatchMessage[] = L"镜像文件校验失败，请重新下载！";
const wchar_t kVerifyingText[] = L"校验中";
const wchar_t kKeepPartialQuestion[] =
    L"是否保留已下载的部分？\r\n保留\"是\"，下次下载该系统时从中断处继续；删除\"否\"。";
const wchar_t kTooLargeForFat32Message[] = L"下载目录所在分区为FAT32格式，无法保存大于4GB的文件。";

std::wstring FinalNameHeldMessage(const std::wstring& imagePath, bool readOnly) {
  const wchar_t* why = readOnly ? L"是只读文件" : L"正被其他程序使用";
  const wchar_t* how = readOnly ? L"去掉它的只读属性" : L"关闭使用它的程序";
  return Format(L"镜像已下载完成，但同名的文件\u201C%s\u201D%s，无法替换。已下载的数据已保留，%s后再次安装此系统即可完成。",
                imagePath.c_str(), why, how);
}

std::wstring ImageNameInvalidMessage(const std::wstring& fileName) {
  return Format(L"镜像文件名\u201C%s\u201D无效，无法下载。", fileName.c_str());
}
const char kRestartCommand[] = "cmd /c shutdown -r -t 0";

bool ImageLargeEnough(int64_t sizeInBytes) { return sizeInBytes / 1024 / 1024 >= 100; }

std::wstring ReinstallQuestion(const std::wstring& source, const std::wstring& target) {
  return Format(L"一键重装已经准备就绪，是否立刻重启安装系统？（无操作10秒后自动重启）【%s-%s】\r\n"
                L"立刻重启\"是\"，稍后重启\"否\"",
                source.c_str(), target.c_str());
}

std::wstring SystemBackupQuestion(const std::wstring& source, const std::wstring& destination) {
  return Format(L"备份工作已经准备就绪，是否继续？【%s-%s】\r\n"
                L"立刻重启备份\"是\"，手动重启备份\"否\"，取消本次操作\"取消\"\r\n",
                source.c_str(), destination.c_str());
}

std::wstring SystemRestoreQuestion(const std::wstring& source, const std::wstring& destination) {
  return Format(L"还原工作已经准备就绪，是否继续？【%s-%s】\r\n"
                L"立刻重启还原\"是\"，手动重启还原\"否\"，取消本次操作\"取消\"\r\n",
                source.c_str(), destination.c_str());
}

PreparationBlock CheckPreparation(int32_t osIndex, bool uefiFirmware) {
  if (osIndex < OsWin2000 || osIndex >= OsWin10x86) return PreparationBlock::UnsupportedRelease;
  if (uefiFirmware) return PreparationBlock::UefiFirmware;
  return PreparationBlock::None;
}

std::wstring PreparationFailedMessage(PreparationKind kind, const std::wstring& failure, bool undone) {
  const wchar_t* what = kind == PreparationKind::Backup ? L"备份" : kind == PreparationKind::Restore ? L"还原" : L"重装";
  const wchar_t* after = undone ? L"系统未作任何更改。" : L"部分更改未能撤销，请检查系统盘根目录的启动文件和启动配置。";
  return Format(L"准备%s环境失败：%s。%s", what, failure.c_str(), after);
}

const wchar_t* PreparationBlockMessage(PreparationBlock block) {
  switch (block) {
    case PreparationBlock::UnsupportedRelease: return L"当前系统暂不支持该功能。";
    case PreparationBlock::UefiFirmware: return L"当前电脑为UEFI启动模式，暂不支持该功能。";
    case PreparationBlock::TooLittleMemory: return L"内存不足：重装环境至少需要256MB内存，暂不支持该功能。";
    case PreparationBlock::BitLockerVolume:
      return L"系统分区已启用BitLocker加密，重装环境无法读写该分区，暂不支持该功能。请先关闭BitLocker。";
    case PreparationBlock::NoBcdboot:
      return L"系统分区不是活动分区，而当前系统没有bcdboot工具，无法建立启动项，暂不支持该功能。";
    default: return L"";
  }
}

PreparationBlock CheckMachine(const MachineFacts& f) {
  PreparationBlock block = CheckPreparation(f.osIndex, f.uefiFirmware);
  if (block != PreparationBlock::None) return block;
  if (f.memoryKnown && f.memoryBytes < (kLeastMemoryMiB << 20)) return PreparationBlock::TooLittleMemory;
  if (f.bitLockerSystemVolume) return PreparationBlock::BitLockerVolume;
  if (f.driveStorePath && !f.hasBcdboot) return PreparationBlock::NoBcdboot;
  return PreparationBlock::None;
}

bool TakesDriveStorePath(int32_t osIndex, int32_t systemBootFlag) {
  return osIndex >= OsWinVista && osIndex <= OsWin81x64 && systemBootFlag == 0;
}

const wchar_t kNoImagePartitionMessage[] = L"需要一个系统分区以外、剩余空间足够的分区来存放系统镜像。";
const wchar_t kRestoreFromSystemMessage[] =
    L"所选镜像位于系统分区，无法还原：请先把它复制到系统分区以外的分区，再从那里还原。";
const wchar_t kDownloadedImageInvalidMessage[] = L"下载的文件不是有效的系统镜像，请重新下载！";

bool OnSystemPartition(wchar_t drive, wchar_t systemDrive, const std::wstring& driveAddress,
                       const std::wstring& systemAddress) {
  if (drive != 0 && towupper(drive) == towupper(systemDrive)) return true;
  return !driveAddress.empty() && driveAddress == systemAddress;
}

uint64_t CatalogueImageBytes(const std::wstring& sizeText) {
  std::wstring t = Trim(sizeText);
  size_t i = 0;
  uint64_t whole = 0;
  uint64_t fraction = 0;
  uint64_t fractionScale = 1;
  bool digits = false;
  for (; i < t.size() && t[i] >= L'0' && t[i] <= L'9'; ++i) {
    if (whole > (UINT64_C(1) << 40)) return UINT64_MAX;  // past any disk
    whole = whole * 10 + (t[i] - L'0');
    digits = true;
  }
  if (i < t.size() && t[i] == L'.') {
    for (++i; i < t.size() && t[i] >= L'0' && t[i] <= L'9'; ++i) {
      if (fractionScale >= 1000000) continue;  // further digits change nothing that matters
      fraction = fraction * 10 + (t[i] - L'0');
      fractionScale *= 10;
      digits = true;
    }
  }
  if (!digits) return 0;
  while (i < t.size() && t[i] == L' ') ++i;
  std::wstring unit = Lower(t.substr(i));
  if (!unit.empty() && unit.back() == L'b') unit.pop_back();
  uint64_t scale = 0;
  if (unit.empty()) scale = 1;
  else if (unit == L"k") scale = UINT64_C(1) << 10;
  else if (unit == L"m") scale = UINT64_C(1) << 20;
  else if (unit == L"g") scale = UINT64_C(1) << 30;
  else if (unit == L"t") scale = UINT64_C(1) << 40;
  else return 0;
  // whole.fraction units, rounded up by one unit of the last digit given; a figure past any disk saturates.
  if (whole >= UINT64_MAX / scale - 1) return UINT64_MAX;
  return whole * scale + (fraction + 1) * scale / fractionScale;
}

StorageBlock CheckDownloadRoom(uint64_t imageBytes, uint64_t freeBytes, uint64_t heldBytes) {
  if (imageBytes == 0) return StorageBlock::None;
  uint64_t available = freeBytes + heldBytes < freeBytes ? UINT64_MAX : freeBytes + heldBytes;
  return available < imageBytes ? StorageBlock::NoRoom : StorageBlock::None;
}

const wchar_t* StorageBlockMessage(StorageBlock block) {
  return block == StorageBlock::None ? L"" : kNoImagePartitionMessage;
}
