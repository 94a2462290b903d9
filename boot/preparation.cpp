#include "boot/preparation.h"

#include <windows.h>

#include "base/text_format.h"
#include "boot/bcd_entry.h"
#include "boot/boot_config.h"
#include "boot/command_runner.h"
#include "boot/file_writes.h"
#include "boot/ghost_job.h"
#include "boot/job_identity.h"
#include "boot/undo_log.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr wchar_t kNotPrepared[] = L"当前系统暂不支持该功能";
constexpr wchar_t kNoAddress[] = L"无法确定分区位置";
constexpr wchar_t kNotInCodePage[] = L"镜像路径中有系统代码页无法表示的字符";

struct PayloadFile {
  const wchar_t* name;
  uint16_t id;
};

// Everything one preparation writes into the root of the system drive, settled before the first write.
struct SetPlan {
  EntryKind kind = EntryReinstall;
  std::vector<PayloadFile> payloads;
  const wchar_t* jobName = L"";
  const wchar_t* identityName = L"";
  const wchar_t* recordName = L"";
  std::string job;
  bool identityKnown = false;
  std::string identity;
  std::string record;
};

bool Refuse(std::wstring& failure, const wchar_t* what) {
  failure = what;
  return false;
}

std::wstring RootPath(const wchar_t* name) { return Format(L"%c:\\%s", TheBootConfig.systemDrive, name); }

void AddPayloads(SetPlan& plan, const uint16_t (&ids)[3], const wchar_t* const (&names)[3], BootStyle style) {
  plan.payloads = {{names[0], ids[0]}, {names[1], ids[1]}};
  if (style == BootStyleBcd) plan.payloads.push_back({names[2], ids[2]});
}

bool SettleIdentity(bool known, const JobIdentity& identity, SetPlan& plan) {
  plan.identityKnown = known;
  return !known || JobIdentityBytes(identity, plan.identity);
}

// The set's files of the kind: payloads, job, identity file and a fresh start record.
void NameSet(SetPlan& plan, EntryKind kind, BootStyle style) {
  const BootConfig& c = TheBootConfig;
  bool backup = kind == EntryBackup;
  plan.kind = kind;
  AddPayloads(plan, backup ? c.backupSetIds : c.reinstallSetIds, backup ? c.backupSetNames : c.reinstallSetNames,
              style);
  plan.jobName = backup ? c.backupJobName : c.reinstallJobName;
  plan.identityName = backup ? c.backupIdentityName : c.reinstallIdentityName;
  plan.recordName = backup ? c.backupStartRecordName : c.reinstallStartRecordName;
  plan.record = StartRecordBytes();
}

bool SettleRestore(const std::wstring& image, BootStyle style, SetPlan& plan, std::wstring& failure) {
  const BootConfig& c = TheBootConfig;
  std::wstring src = GhostFileName(image, c.systemDrive);
  std::wstring dst = GetGhostAddress(c.systemDrive, c.systemDrive);
  if (src.empty() || dst.empty()) return Refuse(failure, kNoAddress);
  if (!JobFileBytes(RestoreJobText(src, dst), true, plan.job)) return Refuse(failure, kNotInCodePage);
  JobIdentity identity;
  if (!SettleIdentity(RestoreIdentity(image, c.systemDrive, identity), identity, plan))
    return Refuse(failure, kNotInCodePage);
  NameSet(plan, EntryReinstall, style);
  return true;
}

bool SettleBackup(const std::wstring& destination, BootStyle style, SetPlan& plan, std::wstring& failure) {
  const BootConfig& c = TheBootConfig;
  std::wstring src = GetGhostAddress(c.systemDrive, c.systemDrive);
  std::wstring dst = GhostFileName(destination, c.systemDrive);
  if (src.empty() || dst.empty()) return Refuse(failure, kNoAddress);
  if (!JobFileBytes(BackupJobText(src, dst), false, plan.job)) return Refuse(failure, kNotInCodePage);
  JobIdentity identity;
  if (!SettleIdentity(BackupIdentity(c.systemDrive, destination, identity), identity, plan))
    return Refuse(failure, kNotInCodePage);
  NameSet(plan, EntryBackup, style);
  return true;
}

uint64_t ExistingSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool RoomFor(const SetPlan& plan) {
  std::vector<FileNeed> files;
  for (const PayloadFile& p : plan.payloads)
    files.push_back({ResourceSize(p.id, TheBootConfig.payloadType), ExistingSize(RootPath(p.name))});
  files.push_back({plan.job.size(), ExistingSize(RootPath(plan.jobName))});
  files.push_back({plan.identity.size(), ExistingSize(RootPath(plan.identityName))});
  files.push_back({plan.record.size(), ExistingSize(RootPath(plan.recordName))});
  ULARGE_INTEGER available = {};
  std::wstring root = Format(L"%c:\\", TheBootConfig.systemDrive);
  if (!GetDiskFreeSpaceExW(root.c_str(), &available, nullptr, nullptr)) return false;
  return available.QuadPart >= BytesNeeded(files, kSystemDriveMargin);
}

std::wstring WriteFailed(const wchar_t* what, const wchar_t* name) {
  return Format(L"%s（%s）", what, RootPath(name).c_str());
}

// A file of the set: recorded for removal first, so that a write failing half-way is taken back too.
bool WriteSetFile(const wchar_t* name, const std::string& bytes, const wchar_t* what, PreparationLog& log) {
  std::wstring path = RootPath(name);
  log.undo.Add(RemoveFileStep(path));
  return WriteWholeFile(path, bytes) || log.Fail(WriteFailed(what, name));
}

bool WriteSet(const SetPlan& plan, PreparationLog& log) {
  for (const PayloadFile& p : plan.payloads) {
    std::wstring path = RootPath(p.name);
    log.undo.Add(RemoveFileStep(path));
    if (!WriteResourceToFile(path, p.id, TheBootConfig.payloadType))
      return log.Fail(WriteFailed(L"无法写入启动文件", p.name));
  }
  if (!WriteSetFile(plan.jobName, plan.job, L"无法写入任务文件", log)) return false;
  if (plan.identityKnown) {
    if (!WriteSetFile(plan.identityName, plan.identity, L"无法写入任务文件", log)) return false;
  } else {
    // An identity file of an earlier job would name another job's partitions.
    std::wstring stale = RootPath(plan.identityName);
    if (!DeleteFileW(stale.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND)
      return log.Fail(WriteFailed(L"无法删除旧的任务文件", plan.identityName));
  }
  return WriteSetFile(plan.recordName, plan.record, L"无法写入任务文件", log);
}

using Settler = bool (*)(const std::wstring& path, BootStyle style, SetPlan& plan, std::wstring& failure);

PreparationResult Prepare(const std::wstring& path, Settler settle) {
  PreparationResult result;
  BootStyle style;
  if (!BootStyleForOsIndex(TheBootConfig.osIndex, style)) {
    result.failure = kNotPrepared;
    return result;
  }
  SetPlan plan;
  if (!settle(path, style, plan, result.failure)) return result;
  if (!RoomFor(plan)) {
    result.failure = Format(L"无法写入启动文件（%c盘空间不足）", TheBootConfig.systemDrive);
    return result;
  }
  UnhideBootFiles();
  PreparationLog log;
  result.ok = WriteSet(plan, log) && MakeBootEntry(plan.kind, log);
  if (!result.ok) {
    result.failure = log.failure;
    result.undone = RunUndoPlan(log.undo.Plan());
  }
  HideBootFiles();
  return result;
}

}  // namespace

uint64_t BytesNeeded(const std::vector<FileNeed>& files, uint64_t margin) {
  uint64_t needed = margin;
  for (const FileNeed& f : files) needed += f.size > f.replacedSize ? f.size - f.replacedSize : 0;
  return needed;
}

PreparationResult PrepareReinstall(const std::wstring& image) { return Prepare(image, SettleRestore); }

PreparationResult PrepareBackup(const std::wstring& destination) { return Prepare(destination, SettleBackup); }
