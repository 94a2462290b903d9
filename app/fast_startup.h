// Fast startup (hybrid shutdown) of Windows 8 and 8.1 leaves the system volume hibernated at a restart
// started from the shut-down menu, and the imaging environment then refuses to touch it. So while a job is
// pending the program turns it off, remembering the previous setting, and puts that back at its next start
// once the job is gone.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// Where the setting and the remembered copy live (the system's own places unless a test names others).
struct FastStartupKeys {
  HKEY root = HKEY_LOCAL_MACHINE;
  std::wstring powerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Power";
  std::wstring value = L"HiberbootEnabled";
  std::wstring savedKey = L"SOFTWARE\\Vorlane";
  std::wstring savedValue = L"SavedHiberbootEnabled";
};

// The releases that have fast startup: Windows 8 and 8.1 (OsIndex 8 to 11; Server 2012 has none).
bool ReleaseHasFastStartup(int32_t osIndex);
// Whether a job waits for the next start: a job file in the system drive's root ("X:\").
bool JobPending(const std::wstring& systemRoot);

// After a job was prepared: on a release with fast startup that has it on, remembers the setting (unless a
// copy from an earlier job is kept, which is the user's own) and turns it off. True when it is off now.
bool TurnOffFastStartupForJob(int32_t osIndex, const FastStartupKeys& keys = FastStartupKeys());
// At start-up: when a remembered setting is kept and no job is pending, puts it back and forgets it.
// True when it put a setting back.
bool PutBackFastStartup(bool jobPending, const FastStartupKeys& keys = FastStartupKeys());
