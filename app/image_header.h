// The cheap check of an image file the program runs before it prepares a restore: the header and the end
// record of our container (docs/image-format.md), the file size against the block count, the file system,
// and the size of the partition the image was taken from against the partition it is to be written to.
// The full pass over every block is the imaging environment's; this only refuses what cannot work.
// A split image (on FAT, volumes below 4 GiB) is checked through its first volume, the file a job names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct ImageSummary {
  uint32_t version = 0;
  uint64_t partitionBytes = 0;  // size of the partition the image was taken from
  uint64_t blockCount = 0;
  uint64_t streamBytes = 0;
  std::string fileSystem;       // "ntfs", "fat"
};

enum class ImageFault {
  None,
  NotAFile,          // missing, a folder, or unreadable
  TooShort,          // shorter than a header and an end record
  UnknownFormat,     // not our magic
  DamagedHeader,     // header checksum or fixed fields wrong
  UnknownVersion,    // a version this program cannot read
  Unfinished,        // the end record is missing or damaged
  SizeMismatch,      // the file size does not fit the block count and stream length
  UnknownFileSystem, // a file system the imaging environment cannot write
  LargerThanTarget,  // taken from a partition larger than the target
};

// Bytes a check needs from the start of the file (the largest header of any known version).
constexpr size_t kImageHeadBytes = 512;
// Bytes a check needs from the end of the file (the largest end record of any known version).
constexpr size_t kImageTailBytes = 64;

// A split image's volume size in its header: 0 (one file), or within these bounds.
constexpr uint64_t kImageSmallestVolume = 1u << 20;
constexpr uint64_t kImageLargestVolume = 0xFFFFFFFFull;

// The file of volume index (0 the first) of an image whose first volume is first: "BAKSYS.GHO", then
// "BAKSYS.001", "BAKSYS.002", ...
std::wstring ImageVolumePath(const std::wstring& first, unsigned index);

// Checks the first kImageHeadBytes and the last kImageTailBytes of a file of fileSize bytes (fewer when the
// file is shorter) against a target partition of targetBytes (0: no target check). Fills summary as far as
// it was read.
ImageFault CheckImageBytes(const uint8_t* head, size_t headSize, const uint8_t* tail, size_t tailSize,
                           uint64_t fileSize, uint64_t targetBytes, ImageSummary& summary);
// The same on a file, or on the set of volumes a split image's first volume begins (fileSize then counts
// them all).
ImageFault CheckImageFile(const std::wstring& path, uint64_t targetBytes, ImageSummary& summary);
// The message shown for a fault (caption "提示"); empty for None.
std::wstring ImageFaultMessage(ImageFault fault, const ImageSummary& summary, uint64_t targetBytes);
