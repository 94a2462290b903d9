// Classification of the installed Windows release and bitness into OsIndex.
#pragma once
#include <windows.h>

#include <cstdint>

enum OsIndexValue : int32_t {
  OsWin2000 = 0,
  OsWinXP = 1,
  OsWin2003 = 2,
  OsWinVista = 3,
  OsWin2008 = 4,
  OsWin7x86 = 5,
  OsWin7x64 = 6,
  OsWin2012 = 7,
  OsWin8x86 = 8,
  OsWin8x64 = 9,
  OsWin81x86 = 10,
  OsWin81x64 = 11,
  OsWin10x86 = 12,
  OsWin10x64 = 13,
  OsOther = 14,
};

// Answers whether this 32-bit process runs under WOW64; consulted only where bitness matters.
using Wow64Query = bool (*)();

// The classification rule on given numbers (major.minor from the kernel, product type and processor
// architecture from the system).
int32_t ClassifyOs(DWORD major, DWORD minor, WORD productType, WORD processorArchitecture,
                   Wow64Query isWow64);

// Display text of an OsIndex ("Windows 7 64位"); the text of 14 for values outside 0 to 14.
const wchar_t* OsDisplayName(int32_t osIndex);
// Recommended system image text for an OsIndex ("Windows7 32位").
const wchar_t* RecommendedSystem(int32_t osIndex);

// True when this 32-bit process runs under WOW64 (IsWow64Process resolved at run time).
bool IsWow64();
// Reads the kernel's version numbers and classifies them.
int32_t DetectOsIndex();
