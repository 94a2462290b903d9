// What the flows ask of this machine before anything is downloaded or written: whether a one-time boot can
// work here at all, and whether a drive lies on the system partition. The rules are plain functions in
// app/flow_rules.h; this gathers their facts.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "app/flow_rules.h"

// Why no one-time boot can be prepared on this machine now, if it cannot.
PreparationBlock MachineBlock();
// Shows the message of MachineBlock (caption "提示") and answers true when this machine is refused.
bool RefusedOnThisMachine(HWND window);
// Whether a drive is the system drive or lies on the system partition (the disk table as last built).
bool DriveOnSystemPartition(wchar_t drive);
// Bytes free to the caller on the drive of a path ("D:\..."); false when the query fails.
bool FreeBytesOnDriveOf(const std::wstring& path, uint64_t& freeBytes);
// Size of a file in bytes; 0 when it is missing or not a file.
uint64_t FileBytes(const std::wstring& path);
