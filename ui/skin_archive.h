// The skin package: a ZIP archive held in memory (the executable's "ZIPRES" resource), read with minizip.
#pragma once
#include <map>
#include <string>

namespace DuiLib {

class CSkinArchive {
 public:
  // Reads every file entry of the archive bytes; false (and an empty archive) when the bytes are not a
  // readable ZIP archive.
  bool Open(const void* data, size_t size);
  bool IsOpen() const { return open_; }
  // The bytes of an entry; names are matched without regard to case, with "\" and "/" alike.
  bool Read(const std::wstring& name, std::string& bytes) const;
  size_t Count() const { return entries_.size(); }

 private:
  bool open_ = false;
  std::map<std::wstring, std::string> entries_;  // lower-case normalized name -> bytes
};

}  // namespace DuiLib
