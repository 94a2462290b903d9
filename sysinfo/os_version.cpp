#include "sysinfo/os_version.h"

#include "base/late_bound.h"

namespace {

const wchar_t* const kDisplayNames[15] = {
    L"Windows 2000",     L"Windows XP",      L"Windows 2003",    L"Windows VISTA",
    L"Windows 2008",     L"Windows 7 32位",  L"Windows 7 64位",  L"Windows 2012",
    L"Windows 8 32位",   L"Windows 8 64位",  L"Windows 8.1 32位", L"Windows 8.1 64位",
    L"Windows 10 32位",  L"Windows 10 64位", L"Windows 其他",
};

int32_t ByBitness(bool wow64, int32_t x86, int32_t x64) { return wow64 ? x64 : x86; }

int32_t ClassifyVersion6(DWORD minor, bool workstation, Wow64Query isWow64) {
  switch (minor) {
    case 0: return workstation ? OsWinVista : OsWin2008;
    case 1: return workstation ? ByBitness(isWow64(), OsWin7x86, OsWin7x64) : OsWin2008;
    case 2: return workstation ? ByBitness(isWow64(), OsWin8x86, OsWin8x64) : OsWin2012;
    case 3: return workstation ? ByBitness(isWow64(), OsWin81x86, OsWin81x64) : OsWin2012;
    case 4: return ByBitness(isWow64(), OsWin10x86, OsWin10x64);
    default: return OsOther;
  }
}

}  // namespace

int32_t ClassifyOs(DWORD major, DWORD minor, WORD productType, WORD processorArchitecture,
                   Wow64Query isWow64) {
  if (major == 5) {
    if (minor == 0) return OsWin2000;
    if (minor == 1) return OsWinXP;
    if (minor == 2) return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? OsWinXP : OsWin2003;
    return OsOther;
  }
  if (major == 6) return ClassifyVersion6(minor, productType == VER_NT_WORKSTATION, isWow64);
  if (major == 10) return ByBitness(isWow64(), OsWin10x86, OsWin10x64);
  return OsOther;
}

const wchar_t* OsDisplayName(int32_t osIndex) {
  if (osIndex < 0 || osIndex > OsOther) return kDisplayNames[OsOther];
  return kDisplayNames[osIndex];
}

const wchar_t* RecommendedSystem(int32_t osIndex) {
  switch (osIndex) {
    case OsWin7x64: return L"Windows7 64位";
    case OsWin8x86: return L"Windows8 32位";
    case OsWin8x64: return L"Windows8 64位";
    case OsWin10x64: return L"Windows7 64位";
    default: return L"Windows7 32位";
  }
}

bool IsWow64() { return RunsUnderWow64(); }

int32_t DetectOsIndex() {
  SYSTEM_INFO si = {};
  GetSystemInfo(&si);
  OSVERSIONINFOEXW vi = {};
  vi.dwOSVersionInfoSize = sizeof(vi);
  GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&vi));

  DWORD major = 0, minor = 0, build = 0;
  if (!NtVersionNumbers(major, minor, build)) return OsOther;
  return ClassifyOs(major, minor, vi.wProductType, si.wProcessorArchitecture, &IsWow64);
}
