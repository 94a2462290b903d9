// The Ghost job files that the boot side picks up from the system drive's root, and the operations that
// write a payload set together with its job.
#pragma once
#include <string>

#include "boot/boot_config.h"
#include "boot/job_identity.h"

// The job texts with their two lines (Ghost command, "restart"), each ended by CR LF.
std::wstring BackupJobText(const std::wstring& sourceAddress, const std::wstring& destinationFile);
std::wstring RestoreJobText(const std::wstring& imageFile, const std::wstring& targetAddress);
// A text converted to the system's ANSI code page, optionally followed by one zero byte (the restore job).
// False when a character has no form in that code page: the boot side could not find such a path.
bool JobFileBytes(const std::wstring& text, bool trailingZero, std::string& bytes);
// The Ghost name of a file: the address of its drive followed by the path after "X:" ("1:2\VRLN\a.GHO");
// empty when the drive has no address.
std::wstring GhostFileName(const std::wstring& path, wchar_t referenceDrive);

// The identity of a backup job (the system partition to the destination's) and of a restore job (the
// image's partition to the target drive's), from TheDiskTable; false when a partition's disk facts are
// unknown (the job is then written without an identity file).
bool BackupIdentity(wchar_t sourceDrive, const std::wstring& destination, JobIdentity& identity);
bool RestoreIdentity(const std::wstring& image, wchar_t targetDrive, JobIdentity& identity);

// Unhide, write the backup (or restore) set and job when the release is prepared at all, hide; true when
// everything was written (nothing is taken back: PrepareBackup and PrepareReinstall of boot/preparation.h
// do that).
bool PrepareBackupJob(const std::wstring& destination);
bool PrepareRestoreJob(const std::wstring& image);
// Write one set, its job, the job's identity file and the loader's start record into the root of the
// system drive; false at the first failing step, leaving what was written so far. The addresses, the job
// text and the identity are settled before anything is written.
bool WriteBackupJob(wchar_t sourceDrive, const std::wstring& destination, BootStyle style);
bool WriteRestoreJob(const std::wstring& image, BootStyle style, wchar_t targetDrive);
