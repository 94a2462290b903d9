// Public interface of the download engine xldl.dll: the two records it exchanges with its caller and its
// seventeen exported calls (all __stdcall, exported under their plain names).
//
// A task downloads one URL over HTTP or HTTPS into "<folder>\<name>". While it runs, the bytes go to
// "<name>.vltmp" in that folder and the progress to "<name>.vlstate" beside it; the final name appears only
// when every byte is on disk. Creating a task again for the same URL, name and folder continues where the
// last one stopped (after XL_StopTask, a crash or a restart of the program).
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>

#define XLDL_CALL __stdcall

#pragma pack(push, 1)

// The task description handed to XL_CreateTask and XL_DelTempFile: exactly 26,564 bytes, little-endian.
// Strings are NUL-terminated UTF-16 and must end within their field.
struct XlTaskParams {
  int32_t reserved0;                 // 0
  wchar_t url[8264];                 // 4: URL of the file (http:// or https://)
  wchar_t fileName[520];             // 16532: name to save under (no folder part)
  wchar_t saveFolder[262];           // 17572: folder to save into, without a trailing "\"
  int32_t setting18096;              // 18096: the program writes 0; not used by the engine
  uint8_t reserved18100[256];
  int32_t setting18356;              // 18356: 0 from the program; not used
  int32_t setting18360;              // 18360: 5 from the program; not used
  int32_t setting18364;              // 18364: 0 from the program; not used
  int32_t setting18368;              // 18368: 1 from the program; not used
  uint8_t reserved18372[8192];
};

// The task state written by XL_QueryTaskInfoEx: exactly 1,429 bytes, members without gaps.
struct XlTaskInfo {
  int32_t status;                    // 0: one of XlTaskStatus
  int32_t failCode;                  // 4: one of XlFailCode (or an HTTP status) when status is failed
  wchar_t fileName[520];             // 8: name of the file as the engine saves it (the final name)
  int64_t totalSize;                 // 1048: size of the file in bytes, 0 while unknown
  int64_t downloadedSize;            // 1056: bytes on disk so far
  float progress;                    // 1064: downloadedSize / totalSize, 0.0 to 1.0
  uint8_t reserved1068[84];
  int32_t speed;                     // 1152: bytes per second over the last few seconds
  uint8_t reserved1156[8];
  uint8_t flag1164;                  // 1164: left as the caller set it
  float value1165;                   // 1165: left as the caller set it (unaligned)
  uint8_t reserved1169[260];
};

#pragma pack(pop)

static_assert(sizeof(XlTaskParams) == 26564, "XlTaskParams is 26,564 bytes");
static_assert(offsetof(XlTaskParams, url) == 4, "url at 4");
static_assert(offsetof(XlTaskParams, fileName) == 16532, "fileName at 16532");
static_assert(offsetof(XlTaskParams, saveFolder) == 17572, "saveFolder at 17572");
static_assert(offsetof(XlTaskParams, setting18096) == 18096, "integer at 18096");
static_assert(offsetof(XlTaskParams, setting18356) == 18356, "integer at 18356");
static_assert(offsetof(XlTaskParams, setting18360) == 18360, "integer at 18360");
static_assert(offsetof(XlTaskParams, setting18364) == 18364, "integer at 18364");
static_assert(offsetof(XlTaskParams, setting18368) == 18368, "integer at 18368");
static_assert(sizeof(XlTaskInfo) == 1429, "XlTaskInfo is 1,429 bytes");
static_assert(offsetof(XlTaskInfo, failCode) == 4, "failCode at 4");
static_assert(offsetof(XlTaskInfo, fileName) == 8, "fileName at 8");
static_assert(offsetof(XlTaskInfo, totalSize) == 1048, "totalSize at 1048");
static_assert(offsetof(XlTaskInfo, downloadedSize) == 1056, "downloadedSize at 1056");
static_assert(offsetof(XlTaskInfo, progress) == 1064, "progress at 1064");
static_assert(offsetof(XlTaskInfo, speed) == 1152, "speed at 1152");
static_assert(offsetof(XlTaskInfo, flag1164) == 1164, "byte at 1164");
static_assert(offsetof(XlTaskInfo, value1165) == 1165, "float at 1165");

// XlTaskInfo::status.
enum XlTaskStatus : int32_t {
  kXlStatusCreated = 0,    // created, never started
  kXlStatusFailed = 1,     // ended without the file; failCode says why
  kXlStatusRunning = 2,    // downloading (also while connecting and between retries)
  kXlStatusStopped = 3,    // stopped by XL_StopTask; XL_StartTask continues it
  kXlStatusCompleted = 4,  // the file is complete under its final name
};

// XlTaskInfo::failCode when the status is failed. Values from 400 to 599 are the HTTP status that ended it.
enum XlFailCode : int32_t {
  kXlFailNone = 0,
  kXlFailBadParams = 1,       // URL not http(s), empty or unusable file name or folder
  kXlFailCreatePath = 2,      // the folder or the temporary file cannot be created
  kXlFailDiskFull = 3,        // not enough free space, or a write failed for lack of it
  kXlFailWrite = 4,           // another write or file error
  kXlFailNetwork = 5,         // the server stayed unreachable (retries exhausted)
  kXlFailBadResponse = 6,     // the server's answers stayed inconsistent (wrong Content-Range, size)
  kXlFailInternet = 7,        // WinINet could not be initialised
  kXlFailFinalName = 8,       // the complete file could not be given its final name (a read-only file or
                              // one in use has it): the data stays under the temporary name with its state,
                              // and a task created again for it completes without downloading
  kXlFailTooLarge = 9,        // the file is larger than the folder's file system holds (FAT: 4 GiB - 1)
};

extern "C" {

// Prepares the engine; nonzero when ready. Calls nest: each XL_Init needs one XL_UnInit.
BOOL XLDL_CALL XL_Init(void);
// Undoes one XL_Init; the last one stops every task (their state is kept for a later resume).
BOOL XLDL_CALL XL_UnInit(void);
// Creates a task from the URL, file name and folder of params (the other fields are ignored). Answers an
// opaque handle, or 0 when the engine is not initialised, params is null, or the parameters are invalid:
// a URL other than http(s), a folder that is not absolute, a file name that breaks IsUsableFileName
// (base/file_name_rule.h). A task created is a task the engine accepted.
HANDLE XLDL_CALL XL_CreateTask(XlTaskParams* params);
// Stops the task if it runs and forgets it; its temporary files stay for a later resume.
BOOL XLDL_CALL XL_DeleteTask(HANDLE task);
// Starts or continues the task in the background.
BOOL XLDL_CALL XL_StartTask(HANDLE task);
// Stops the task, keeping what is downloaded; returns once the state is on disk.
BOOL XLDL_CALL XL_StopTask(HANDLE task);
// Same as XL_QueryTaskInfoEx.
BOOL XLDL_CALL XL_QueryTaskInfo(HANDLE task, XlTaskInfo* info);
// Writes status, failure code, final file name, sizes, progress and speed into info; the other bytes of
// info are left as they are. FALSE for an unknown task.
BOOL XLDL_CALL XL_QueryTaskInfoEx(HANDLE task, XlTaskInfo* info);
// Limits the download speed of all tasks together, in KiB per second; 0 or less removes the limit.
BOOL XLDL_CALL XL_SetSpeedLimit(INT32 kibPerSecond);
// The engine never uploads: answers FALSE.
BOOL XLDL_CALL XL_SetUploadSpeedLimit(INT32 kibPerSecond);
// Removes the temporary and state files of the name params->fileName in the folder params->saveFolder
// (the other fields are ignored). TRUE when none of them is left.
BOOL XLDL_CALL XL_DelTempFile(XlTaskParams* params);
// Proxy for tasks started afterwards: null or "" uses the system's settings, "direct" none, otherwise a
// WinINet proxy list such as "127.0.0.1:3128"; bypass is a WinINet bypass list or null.
BOOL XLDL_CALL XL_SetProxy(const wchar_t* proxy, const wchar_t* bypass);
// User agent for tasks started afterwards; null or "" restores the engine's own.
BOOL XLDL_CALL XL_SetUserAgent(const wchar_t* userAgent);
// Asks the server for the size of the file at url (following redirects). TRUE with *size set when known.
BOOL XLDL_CALL XL_GetFileSizeWithUrl(const wchar_t* url, INT64* size);
// Not supported: answers FALSE and leaves an empty text in out (when capacity allows).
BOOL XLDL_CALL XL_ParseThunderPrivateUrl(const wchar_t* url, wchar_t* out, INT32 capacity);
// Not supported: answers FALSE.
BOOL XLDL_CALL XL_SetAdditionInfo(HANDLE task, const wchar_t* info);
// Not supported: answers FALSE.
BOOL XLDL_CALL XL_SetFileIdAndSize(HANDLE task, const char* fileId, INT64 size);

}  // extern "C"
