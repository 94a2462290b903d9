// The one rule for the file name of a downloaded image. The program checks it before it asks anything or
// deletes anything, and the download engine refuses a task whose name breaks it, so the two never disagree.
#pragma once
#include <cstddef>
#include <string>

// Room left in a 255-unit name for the engine's longest suffix (".vlstate").
constexpr size_t kMaxImageFileNameLength = 240;

// A name the system stores as given and opens as a file: not empty, at most kMaxImageFileNameLength units,
// no control characters, no folder separators or characters Windows forbids in names, not "." or "..", not
// ending in a dot or a blank (the system would drop them), and not a device name (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, CONIN$, CONOUT$), alone or with an extension ("CON.gho").
bool IsUsableFileName(const std::wstring& name);

// True when the part of name before its first dot, without trailing blanks, is a device name.
bool IsDeviceName(const std::wstring& name);
