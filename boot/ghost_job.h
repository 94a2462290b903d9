// The Ghost job files that the boot side picks up from the system drive's root, and the operations that
// write a payload set together with its job.
#pragma once
#include <string>

#include "boot/boot_config.h"

// The job texts with their two lines (Ghost command, "restart"), each ended by CR LF.
std::wstring BackupJobText(const std::wstring& sourceAddress, const std::wstring& destinationFile);
std::wstring RestoreJobText(const std::wstring& imageFile, const std::wstring& targetAddress);
// A text converted to the system's ANSI code page, optionally followed by one zero byte (the restore job).
// False when a character has no form in that code page: the boot side could not find such a path.
bool JobFileBytes(const std::wstring& text, bool trailingZero, std::string& bytes);
// The Ghost name of a file: the address of its drive followed by the path after "X:" ("1:2\VRLN\a.GHO");
// empty when the drive has no address.
std::wstring GhostFileName(const std::wstring& path, wchar_t referenceDrive);

// Unhide, write the backup (or restore) set and job when the release is prepared at all, hide; always true.
bool PrepareBackupJob(const std::wstring& destination);
bool PrepareRestoreJob(const std::wstring& image);
// Write one set and its job into the root of the system drive; false at the first failing step, leaving
// what was written so far. The addresses and the job text are settled before anything is written.
bool WriteBackupJob(wchar_t sourceDrive, const std::wstring& destination, BootStyle style);
bool WriteRestoreJob(const std::wstring& image, BootStyle style, wchar_t targetDrive);
