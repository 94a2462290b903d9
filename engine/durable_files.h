// The engine's durable writes and their order, in one place behind a small file layer so that a test can
// watch the order through a recording layer: a state never claims bytes that are not on disk, and only
// data that is on disk gets its final name.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "engine/state_file.h"

class FileLayer {
 public:
  virtual ~FileLayer() = default;
  // Writes size bytes at offset; false with *error set (a short write reads as a full disk).
  virtual bool WriteAt(HANDLE file, int64_t offset, const void* data, DWORD size, DWORD* error) = 0;
  virtual bool Flush(HANDLE file) = 0;
  // Sets the file's size; false with *error set.
  virtual bool SetSize(HANDLE file, int64_t size, DWORD* error) = 0;
  // Gives from the name to, replacing a file of that name; false with *error set.
  virtual bool Replace(const std::wstring& from, const std::wstring& to, DWORD* error) = 0;
  virtual void Remove(const std::wstring& path) = 0;
};

// The system's files.
FileLayer& SystemFiles();

// Saves a state into its slot (by its sequence number) and flushes it. Every byte the state claims was
// written before the call: the data is flushed first, so the state never claims bytes that are not on disk.
bool SaveStateAfterData(FileLayer& files, HANDLE data, HANDLE stateFile, const DownloadState& state);

// A complete download before its final name: the data cut to its size and flushed, then the state saved as
// complete, so that the data stays resumable whatever happens to the rename. False when the data could not
// be made durable.
bool MakeCompleteDurable(FileLayer& files, HANDLE data, HANDLE stateFile, const DownloadState& complete);

// Gives the complete data (its handles closed) the final name, then removes the state. 0 on success; when
// the final name cannot be given (a read-only file or one in use has it), the data and its state stay under
// their own names and the answer is the failure code.
int32_t GiveFinalName(FileLayer& files, const std::wstring& temp, const std::wstring& final,
                      const std::wstring& state);

// The largest file a FAT file system holds.
constexpr int64_t kMaxFatFileSize = 0xFFFFFFFFLL;

// True when a file of size bytes cannot exist on the named file system ("FAT", "FAT16", "FAT32").
bool TooLargeForFileSystem(int64_t size, const std::wstring& fileSystem);

// The failure code for a reservation of size bytes that the system refused with error: a size beyond the
// FAT limit that fails for any reason but a full disk cannot be held by that volume.
int32_t ReservationFailureCode(int64_t size, DWORD error, const std::wstring& fileSystem);

// The file system of the volume holding folder ("NTFS", "FAT32", ...); empty when it cannot be told.
std::wstring FileSystemOf(const std::wstring& folder);
