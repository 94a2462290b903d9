#include "app/image_header.h"

#include <windows.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "base/text_format.h"
#include "base/unique_handle.h"

namespace {

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Get64(const uint8_t* p) { return static_cast<uint64_t>(Get32(p)) | static_cast<uint64_t>(Get32(p + 4)) << 32; }

uint32_t Crc(const uint8_t* p, size_t n) {
  return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), p, static_cast<uInt>(n)));
}

std::string TextField(const uint8_t* p, size_t room) {
  size_t n = 0;
  while (n < room && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

// One version of the container: its fixed sizes and the block sizes and compressions its header may name.
// A later version adds a row to kFormats.
struct ImageFormat {
  uint32_t version;
  uint64_t headerSize;
  uint64_t trailerSize;
  uint64_t blockHeaderSize;
  uint32_t smallestBlock;  // block sizes are powers of two in [smallestBlock, largestBlock]
  uint32_t largestBlock;
  uint32_t compression;    // the one compression besides 0 (stored) this version uses
};

bool KnownBlockSize(const ImageFormat& f, uint32_t blockSize) {
  bool powerOfTwo = blockSize != 0 && (blockSize & (blockSize - 1)) == 0;
  return powerOfTwo && blockSize >= f.smallestBlock && blockSize <= f.largestBlock;
}

// Header, end record and the file size against the block count; the layout is the same in every version.
ImageFault CheckLayout(const ImageFormat& f, const uint8_t* h, const uint8_t* t, uint64_t fileSize,
                       ImageSummary& s) {
  if (Get32(h + 508) != Crc(h, 508)) return ImageFault::DamagedHeader;
  uint32_t blockSize = Get32(h + 16);
  uint32_t compression = Get32(h + 20);
  if (Get32(h + 12) != f.headerSize || !KnownBlockSize(f, blockSize)) return ImageFault::DamagedHeader;
  if (compression != 0 && compression != f.compression) return ImageFault::DamagedHeader;
  uint64_t volumeBytes = Get64(h + 48);
  if (volumeBytes != 0 && (volumeBytes < kImageSmallestVolume || volumeBytes > kImageLargestVolume))
    return ImageFault::DamagedHeader;
  s.partitionBytes = Get64(h + 32);
  s.fileSystem = TextField(h + 80, 16);
  if (std::memcmp(t, "VRLNEND1", 8) != 0 || Get32(t + 60) != Crc(t, 60)) return ImageFault::Unfinished;
  s.blockCount = Get64(t + 8);
  s.streamBytes = Get64(t + 16);
  uint64_t n = s.blockCount;
  // Every block but the last is full; each is stored in 1 to its raw size bytes after its own header.
  if (n == 0 || n > fileSize / f.blockHeaderSize) return ImageFault::SizeMismatch;
  if (s.streamBytes > n * blockSize || s.streamBytes <= (n - 1) * blockSize) return ImageFault::SizeMismatch;
  uint64_t fixed = f.headerSize + f.trailerSize + n * f.blockHeaderSize;
  if (fileSize < fixed + n || fileSize > fixed + s.streamBytes) return ImageFault::SizeMismatch;
  return ImageFault::None;
}

// Version 1: blocks of 1 MiB, deflate. Version 2: blocks of 64 KiB to 16 MiB (4 MiB written), zstd.
const ImageFormat kFormats[] = {
    {1, 512, 64, 24, 1u << 20, 1u << 20, 1},
    {2, 512, 64, 24, 1u << 16, 1u << 24, 2},
};

// Reads size bytes at offset of a file; false when it cannot.
bool ReadAt(const std::wstring& path, uint64_t offset, uint8_t* data, DWORD size) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  DWORD read = 0;
  return SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) && ReadFile(file.Get(), data, size, &read, nullptr) &&
         read == size;
}

// The size of a file that exists and is no folder.
bool SizeOfFile(const std::wstring& path, uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return false;
  size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
  return true;
}

struct Volume {
  std::wstring path;
  uint64_t size;
};

// The files of a split image after its first: the next one as long as the last was full and the next exists.
void FindMoreVolumes(const std::wstring& first, uint64_t volumeBytes, std::vector<Volume>& volumes) {
  for (unsigned index = 1; index < 1000 && volumes.back().size == volumeBytes; ++index) {
    Volume next = {ImageVolumePath(first, index), 0};
    if (!SizeOfFile(next.path, next.size)) return;
    volumes.push_back(next);
  }
}

}  // namespace

std::wstring ImageVolumePath(const std::wstring& first, unsigned index) {
  if (index == 0) return first;
  size_t slash = first.find_last_of(L"\\/:");
  size_t dot = first.rfind(L'.');
  std::wstring stem = first;
  if (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash + 1)) stem.resize(dot);
  return stem + Format(L".%03u", index);
}

ImageFault CheckImageBytes(const uint8_t* head, size_t headSize, const uint8_t* tail, size_t tailSize,
                           uint64_t fileSize, uint64_t targetBytes, ImageSummary& summary) {
  summary = ImageSummary();
  if (headSize < 12 || fileSize < 12) return ImageFault::TooShort;
  if (std::memcmp(head, "VRLNIMG", 7) != 0) return ImageFault::UnknownFormat;
  uint32_t version = Get32(head + 8);
  summary.version = version;
  for (const ImageFormat& f : kFormats) {
    if (f.version != version) continue;
    if (headSize < f.headerSize || tailSize < f.trailerSize || fileSize < f.headerSize + f.trailerSize)
      return ImageFault::TooShort;
    ImageFault fault = CheckLayout(f, head, tail + (tailSize - f.trailerSize), fileSize, summary);
    if (fault != ImageFault::None) return fault;
    if (summary.fileSystem != "ntfs" && summary.fileSystem != "fat") return ImageFault::UnknownFileSystem;
    if (targetBytes != 0 && summary.partitionBytes > targetBytes) return ImageFault::LargerThanTarget;
    return ImageFault::None;
  }
  return ImageFault::UnknownVersion;
}

ImageFault CheckImageFile(const std::wstring& path, uint64_t targetBytes, ImageSummary& summary) {
  summary = ImageSummary();
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return ImageFault::NotAFile;
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file.Get(), &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return ImageFault::NotAFile;
  uint64_t size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  uint8_t head[kImageHeadBytes] = {};
  uint8_t tail[kImageTailBytes] = {};
  DWORD headRead = 0;
  if (!ReadFile(file.Get(), head, sizeof(head), &headRead, nullptr)) return ImageFault::NotAFile;
  file.Reset();
  // A split image (docs/image-format.md): the header names the volume size; the end record ends the last
  // volume and may begin in the one before it.
  std::vector<Volume> volumes(1, Volume{path, size});
  uint64_t volumeBytes = headRead >= kImageHeadBytes ? Get64(head + 48) : 0;
  if (volumeBytes >= kImageSmallestVolume && volumeBytes <= kImageLargestVolume)
    FindMoreVolumes(path, volumeBytes, volumes);
  uint64_t total = 0;
  for (const Volume& v : volumes) total += v.size;
  DWORD need = total >= sizeof(tail) ? static_cast<DWORD>(sizeof(tail)) : 0;
  DWORD tailRead = need;
  for (size_t i = volumes.size(); i-- > 0 && need > 0;) {
    DWORD take = volumes[i].size < need ? static_cast<DWORD>(volumes[i].size) : need;
    if (take > 0 && !ReadAt(volumes[i].path, volumes[i].size - take, tail + need - take, take)) return ImageFault::NotAFile;
    need -= take;
  }
  return CheckImageBytes(head, headRead, tail, tailRead, total, targetBytes, summary);
}

std::wstring ImageFaultMessage(ImageFault fault, const ImageSummary& summary, uint64_t targetBytes) {
  switch (fault) {
    case ImageFault::None: return L"";
    case ImageFault::LargerThanTarget:
      return Format(L"所选镜像来自%.2lfGB的分区，大于系统分区（%.2lfGB），无法还原。",
                    static_cast<double>(summary.partitionBytes) / 1073741824.0,
                    static_cast<double>(targetBytes) / 1073741824.0);
    case ImageFault::UnknownVersion: return L"所选镜像的格式版本过新，本程序无法使用。";
    default: return L"所选文件不是有效的系统镜像。";
  }
}
