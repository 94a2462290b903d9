#include "ui/skin_archive.h"

#include <windows.h>

#include <cstring>
#include <cwctype>
#include <vector>

#include <unzip.h>

#include "ui/ui_types.h"

namespace DuiLib {

namespace {

// minizip reads the archive through these callbacks from a block of memory.
struct MemoryStream {
  const unsigned char* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
};

voidpf ZCALLBACK MemOpen(voidpf opaque, const char*, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_WRITE) != 0) return nullptr;
  auto* src = static_cast<MemoryStream*>(opaque);
  auto* s = new MemoryStream(*src);
  s->pos = 0;
  return s;
}

uLong ZCALLBACK MemRead(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<MemoryStream*>(stream);
  size_t left = s->size - s->pos;
  size_t n = size < left ? size : left;
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return static_cast<uLong>(n);
}

uLong ZCALLBACK MemWrite(voidpf, voidpf, const void*, uLong) { return 0; }

long ZCALLBACK MemTell(voidpf, voidpf stream) { return static_cast<long>(static_cast<MemoryStream*>(stream)->pos); }

long ZCALLBACK MemSeek(voidpf, voidpf stream, uLong offset, int origin) {
  auto* s = static_cast<MemoryStream*>(stream);
  size_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
  }
  if (offset > s->size || base > s->size - offset) return -1;
  s->pos = base + offset;
  return 0;
}

int ZCALLBACK MemClose(voidpf, voidpf stream) {
  delete static_cast<MemoryStream*>(stream);
  return 0;
}

int ZCALLBACK MemError(voidpf, voidpf) { return 0; }

std::wstring KeyOf(const std::wstring& name) {
  std::wstring k = NormalizeEntryName(name);
  for (wchar_t& c : k) c = static_cast<wchar_t>(towlower(c));
  return k;
}

// Entry names are UTF-8 when the archive says so (flag bit 11); otherwise taken as UTF-8 as well when
// valid, else as the system's ANSI code page.
std::wstring DecodeName(const char* raw, bool utf8Flag) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, raw, -1, nullptr, 0);
  UINT cp = CP_UTF8;
  if (n <= 0 && !utf8Flag) {
    cp = CP_ACP;
    n = MultiByteToWideChar(cp, 0, raw, -1, nullptr, 0);
  }
  if (n <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, raw, -1, &out[0], n);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

}  // namespace

bool CSkinArchive::Open(const void* data, size_t size) {
  open_ = false;
  entries_.clear();
  if (data == nullptr || size == 0) return false;
  MemoryStream source;
  source.data = static_cast<const unsigned char*>(data);
  source.size = size;
  zlib_filefunc_def funcs = {};
  funcs.zopen_file = MemOpen;
  funcs.zread_file = MemRead;
  funcs.zwrite_file = MemWrite;
  funcs.ztell_file = MemTell;
  funcs.zseek_file = MemSeek;
  funcs.zclose_file = MemClose;
  funcs.zerror_file = MemError;
  funcs.opaque = &source;
  unzFile zip = unzOpen2("memory", &funcs);
  if (zip == nullptr) return false;
  bool ok = true;
  for (int r = unzGoToFirstFile(zip); r == UNZ_OK; r = unzGoToNextFile(zip)) {
    char rawName[512];
    unz_file_info info;
    if (unzGetCurrentFileInfo(zip, &info, rawName, sizeof(rawName), nullptr, 0, nullptr, 0) != UNZ_OK) {
      ok = false;
      break;
    }
    std::wstring name = DecodeName(rawName, (info.flag & (1u << 11)) != 0);
    if (name.empty() || name.back() == L'/' || name.back() == L'\\') continue;  // folders
    if (info.uncompressed_size > 64u * 1024 * 1024) continue;  // nothing a skin needs is that large
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
      ok = false;
      break;
    }
    std::string bytes(info.uncompressed_size, '\0');
    int got = bytes.empty() ? 0 : unzReadCurrentFile(zip, &bytes[0], static_cast<unsigned>(bytes.size()));
    int closed = unzCloseCurrentFile(zip);  // checks the CRC
    if (got != static_cast<int>(bytes.size()) || closed != UNZ_OK) {
      ok = false;
      break;
    }
    entries_[KeyOf(name)] = std::move(bytes);
  }
  unzClose(zip);
  if (!ok) {
    entries_.clear();
    return false;
  }
  open_ = true;
  return true;
}

bool CSkinArchive::Read(const std::wstring& name, std::string& bytes) const {
  auto it = entries_.find(KeyOf(name));
  if (it == entries_.end()) return false;
  bytes = it->second;
  return true;
}

}  // namespace DuiLib
