// Writing the files the loader and the imaging environment read: always complete, never compressed.
#pragma once
#include <cstddef>
#include <string>

// Creates path anew (an existing file is replaced), turns NTFS compression off on it (the loader cannot
// read compressed files; on FAT the request fails harmlessly), writes size bytes and checks that the file
// holds exactly that many and is neither compressed nor sparse. On any failure a file this call created
// or truncated is removed, so no short file is left behind.
bool WriteWholeFile(const std::wstring& path, const void* data, size_t size);
inline bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  return WriteWholeFile(path, bytes.data(), bytes.size());
}

// The whole content of a file; false when it cannot be opened or read.
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
