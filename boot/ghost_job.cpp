#include "boot/ghost_job.h"

#include <windows.h>

#include <functional>

#include "base/text_format.h"
#include "boot/command_runner.h"
#include "boot/file_writes.h"
#include "boot/job_identity.h"
#include "sysinfo/disk_table.h"

namespace {

constexpr wchar_t kBackupTemplate[] =
    L"Ghost.exe -nousb -clone,mode=pdump,src=\"%s\",dst=\"%s\" -sure -rb -crcignore -fro -z3 -auto "
    L"-afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";
constexpr wchar_t kRestoreTemplate[] =
    L"Ghost.exe -nousb -clone,mode=pload,src=\"%s:1\",dst=\"%s\" -fro -crcignore -sure -rb -fx "
    L"-afile=\"GHOSTERR.TXT\"\r\nrestart\r\n";

std::wstring RootPath(wchar_t drive, const wchar_t* name) { return Format(L"%c:\\%s", drive, name); }

bool WritePayload(wchar_t drive, const wchar_t* name, uint16_t id) {
  return WriteResourceToFile(RootPath(drive, name), id, TheBootConfig.payloadType);
}

// The job, its identity file and the start record, settled before anything is written.
struct JobFiles {
  std::string job;
  bool identityKnown = false;  // false: the disks' facts are unknown; no identity file is written
  std::string identity;
};

// Settles the identity bytes: false only when the known identity cannot be written as a file.
bool SettleIdentity(bool known, const JobIdentity& identity, JobFiles& files) {
  files.identityKnown = known;
  return !known || JobIdentityBytes(identity, files.identity);
}

// Writes the job, then the identity file (or removes a stale one of an earlier job, which would name
// another job's partitions), then a fresh start record.
bool WriteJobSet(wchar_t drive, const wchar_t* jobName, const wchar_t* identityName, const wchar_t* recordName,
                 const JobFiles& files) {
  if (!WriteWholeFile(RootPath(drive, jobName), files.job)) return false;
  std::wstring identityPath = RootPath(drive, identityName);
  if (files.identityKnown) {
    if (!WriteWholeFile(identityPath, files.identity)) return false;
  } else if (!DeleteFileW(identityPath.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    return false;
  }
  return WriteWholeFile(RootPath(drive, recordName), StartRecordBytes());
}

PartitionIdentity IdentityOf(const PartitionPlace& place) {
  PartitionIdentity p;
  p.diskSignature = place.diskSignature;
  p.diskSize = static_cast<uint64_t>(place.diskSize);
  p.partitionStart = static_cast<uint64_t>(place.start);
  p.partitionLength = static_cast<uint64_t>(place.length);
  return p;
}

// The identity of a job reading sourceDrive and writing targetDrive, with the image's path inside its
// partition; false when a partition's facts are unknown.
bool IdentityOfDrives(bool backup, wchar_t sourceDrive, wchar_t targetDrive, const std::wstring& imagePath,
                      JobIdentity& identity) {
  PartitionPlace source, target;
  if (!GetPartitionPlace(sourceDrive, source) || !GetPartitionPlace(targetDrive, target)) return false;
  if (imagePath.size() < 3) return false;
  identity.backup = backup;
  identity.image = imagePath.substr(2);
  identity.source = IdentityOf(source);
  identity.target = IdentityOf(target);
  return true;
}

bool PrepareJob(const std::function<bool(BootStyle)>& writer) {
  UnhideBootFiles();
  BootStyle style;
  bool written = BootStyleForOsIndex(TheBootConfig.osIndex, style) && writer(style);
  HideBootFiles();
  return written;
}

}  // namespace

std::wstring BackupJobText(const std::wstring& sourceAddress, const std::wstring& destinationFile) {
  return Format(kBackupTemplate, sourceAddress.c_str(), destinationFile.c_str());
}

std::wstring RestoreJobText(const std::wstring& imageFile, const std::wstring& targetAddress) {
  return Format(kRestoreTemplate, imageFile.c_str(), targetAddress.c_str());
}

bool JobFileBytes(const std::wstring& text, bool trailingZero, std::string& bytes) {
  bytes.clear();
  if (!text.empty()) {
    int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    bytes.resize(static_cast<size_t>(n));
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, &bytes[0], n, nullptr, &lossy) != n ||
        lossy)
      return false;
  }
  if (trailingZero) bytes.push_back('\0');
  return true;
}

std::wstring GhostFileName(const std::wstring& path, wchar_t referenceDrive) {
  if (path.empty()) return L"";
  std::wstring address = GetGhostAddress(path[0], referenceDrive);
  if (address.empty()) return L"";
  return address + (path.size() > 2 ? path.substr(2) : std::wstring());
}

bool BackupIdentity(wchar_t sourceDrive, const std::wstring& destination, JobIdentity& identity) {
  if (destination.empty()) return false;
  return IdentityOfDrives(true, sourceDrive, destination[0], destination, identity);
}

bool RestoreIdentity(const std::wstring& image, wchar_t targetDrive, JobIdentity& identity) {
  if (image.empty()) return false;
  return IdentityOfDrives(false, image[0], targetDrive, image, identity);
}

bool PrepareBackupJob(const std::wstring& destination) {
  return PrepareJob([&](BootStyle style) {
    return WriteBackupJob(TheBootConfig.systemDrive, destination, style);
  });
}

bool PrepareRestoreJob(const std::wstring& image) {
  return PrepareJob([&](BootStyle style) {
    return WriteRestoreJob(image, style, TheBootConfig.systemDrive);
  });
}

bool WriteBackupJob(wchar_t sourceDrive, const std::wstring& destination, BootStyle style) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  std::wstring src = GetGhostAddress(sourceDrive, s);
  if (src.empty()) return false;
  std::wstring dst = GhostFileName(destination, s);
  if (dst.empty()) return false;
  JobFiles files;
  if (!JobFileBytes(BackupJobText(src, dst), false, files.job)) return false;
  JobIdentity identity;
  if (!SettleIdentity(BackupIdentity(sourceDrive, destination, identity), identity, files)) return false;
  if (!WritePayload(s, c.backupSetNames[0], c.backupSetIds[0])) return false;
  if (!WritePayload(s, c.backupSetNames[1], c.backupSetIds[1])) return false;
  if (!WriteJobSet(s, c.backupJobName, c.backupIdentityName, c.backupStartRecordName, files)) return false;
  if (style == BootStyleBcd && !WritePayload(s, c.backupSetNames[2], c.backupSetIds[2])) return false;
  return true;
}

bool WriteRestoreJob(const std::wstring& image, BootStyle style, wchar_t targetDrive) {
  const BootConfig& c = TheBootConfig;
  wchar_t s = c.systemDrive;
  std::wstring src = GhostFileName(image, s);
  if (src.empty()) return false;
  std::wstring dst = GetGhostAddress(targetDrive, s);
  if (dst.empty()) return false;
  JobFiles files;
  if (!JobFileBytes(RestoreJobText(src, dst), true, files.job)) return false;
  JobIdentity identity;
  if (!SettleIdentity(RestoreIdentity(image, targetDrive, identity), identity, files)) return false;
  if (!WritePayload(s, c.reinstallSetNames[0], c.reinstallSetIds[0])) return false;
  if (!WritePayload(s, c.reinstallSetNames[1], c.reinstallSetIds[1])) return false;
  if (!WriteJobSet(s, c.reinstallJobName, c.reinstallIdentityName, c.reinstallStartRecordName, files))
    return false;
  if (style == BootStyleBcd && !WritePayload(s, c.reinstallSetNames[2], c.reinstallSetIds[2])) return false;
  return true;
}
