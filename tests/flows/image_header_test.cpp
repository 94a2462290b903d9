// The Windows-side check of an image file's header and end record, on images built here byte by byte.
#include "app/image_header.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <zlib.h>

#include <cstring>
#include <vector>

namespace {

constexpr uint64_t kMiB = 1u << 20;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Crc(const uint8_t* p, size_t n) { return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), p, n)); }

// An image's header, end record and file size as the container lays them out: blocks of raw bytes each,
// stored in storedPerBlock bytes.
struct Built {
  std::vector<uint8_t> head = std::vector<uint8_t>(512, 0);
  std::vector<uint8_t> tail = std::vector<uint8_t>(64, 0);
  uint64_t fileSize = 0;

  void SealHead() { Put32(head, 508, Crc(head.data(), 508)); }
  void SealTail() { Put32(tail, 60, Crc(tail.data(), 60)); }
};

Built MakeImage(uint64_t blocks, uint64_t lastRaw, uint64_t storedPerBlock, uint64_t partitionBytes,
                const char* fs = "ntfs", uint32_t version = 1, uint64_t blockSize = kMiB) {
  Built b;
  std::memcpy(b.head.data(), "VRLNIMG1", 8);
  Put32(b.head, 8, version);
  Put32(b.head, 12, 512);
  Put32(b.head, 16, static_cast<uint32_t>(blockSize));
  Put32(b.head, 20, version == 1 ? 1 : 2);
  Put32(b.head, 24, 3);
  Put64(b.head, 32, partitionBytes);
  std::memcpy(b.head.data() + 64, "partclone", 9);
  std::memcpy(b.head.data() + 80, fs, std::strlen(fs));
  b.SealHead();
  std::memcpy(b.tail.data(), "VRLNEND1", 8);
  Put64(b.tail, 8, blocks);
  Put64(b.tail, 16, (blocks - 1) * blockSize + lastRaw);
  b.SealTail();
  b.fileSize = 512 + blocks * (24 + storedPerBlock) + 64;
  return b;
}

ImageFault Check(const Built& b, uint64_t target, ImageSummary* out = nullptr) {
  ImageSummary s;
  ImageFault f = CheckImageBytes(b.head.data(), b.head.size(), b.tail.data(), b.tail.size(), b.fileSize, target, s);
  if (out != nullptr) *out = s;
  return f;
}

TEST(ImageHeader, AcceptsAFinishedImageThatFitsTheTarget) {
  ImageSummary s;
  Built b = MakeImage(100, kMiB, kMiB, 10ull << 30);
  EXPECT_EQ(Check(b, 60ull << 30, &s), ImageFault::None);
  EXPECT_EQ(s.version, 1u);
  EXPECT_EQ(s.partitionBytes, 10ull << 30);
  EXPECT_EQ(s.blockCount, 100u);
  EXPECT_EQ(s.fileSystem, "ntfs");
  // A compressed image is smaller than its stream; a FAT image is accepted as well.
  EXPECT_EQ(Check(MakeImage(100, 512, 4096, 1ull << 30, "fat"), 1ull << 30), ImageFault::None);
}

// Version 2 (zstd, 4 MiB blocks written, any power of two from 64 KiB to 16 MiB read): what the imaging
// environment writes today, so the program's restore must accept it and refuse its damage alike.
TEST(ImageHeader, ReadsVersionTwo) {
  ImageSummary s;
  EXPECT_EQ(Check(MakeImage(25, 4 * kMiB, 4 * kMiB, 10ull << 30, "ntfs", 2, 4 * kMiB), 60ull << 30, &s),
            ImageFault::None);
  EXPECT_EQ(s.version, 2u);
  EXPECT_EQ(s.blockCount, 25u);
  EXPECT_EQ(Check(MakeImage(3, 100, 50, 1ull << 30, "fat", 2, 1u << 16), 1ull << 30), ImageFault::None);
  EXPECT_EQ(Check(MakeImage(3, 100, 50, 1ull << 30, "fat", 2, 1u << 24), 1ull << 30), ImageFault::None);

  struct Case {
    const char* what;
    std::function<void(Built&)> damage;
    ImageFault expected;
  };
  const Case cases[] = {
      {"block size not a power of two", [](Built& b) { Put32(b.head, 16, 3u << 20); b.SealHead(); },
       ImageFault::DamagedHeader},
      {"block size too small", [](Built& b) { Put32(b.head, 16, 1u << 15); b.SealHead(); }, ImageFault::DamagedHeader},
      {"block size too large", [](Built& b) { Put32(b.head, 16, 1u << 25); b.SealHead(); }, ImageFault::DamagedHeader},
      {"deflate in version 2", [](Built& b) { Put32(b.head, 20, 1); b.SealHead(); }, ImageFault::DamagedHeader},
      // Cut below one stored byte per block (any size above it could be a well-compressed image).
      {"file cut short", [](Built& b) { b.fileSize = 512 + 64 + 25 * 24 + 10; }, ImageFault::SizeMismatch},
      {"stream longer than the blocks hold", [](Built& b) { Put64(b.tail, 16, 101 * kMiB); b.SealTail(); },
       ImageFault::SizeMismatch},
      {"end record damaged", [](Built& b) { b.tail[17] ^= 1; }, ImageFault::Unfinished},
  };
  for (const Case& c : cases) {
    Built b = MakeImage(25, 4 * kMiB, 4 * kMiB, 10ull << 30, "ntfs", 2, 4 * kMiB);
    c.damage(b);
    EXPECT_EQ(Check(b, 60ull << 30), c.expected) << c.what;
  }
  // Zstd is not a compression of version 1.
  Built v1 = MakeImage(100, kMiB, kMiB, 10ull << 30);
  Put32(v1.head, 20, 2);
  v1.SealHead();
  EXPECT_EQ(Check(v1, 60ull << 30), ImageFault::DamagedHeader);
}

TEST(ImageHeader, RefusesWhatCannotWork) {
  struct Case {
    const char* what;
    std::function<void(Built&)> damage;
    uint64_t target;
    ImageFault expected;
  };
  const Case cases[] = {
      {"foreign magic", [](Built& b) { b.head[0] = 'X'; }, 60ull << 30, ImageFault::UnknownFormat},
      {"header byte flipped", [](Built& b) { b.head[40] ^= 1; }, 60ull << 30, ImageFault::DamagedHeader},
      {"other block size", [](Built& b) { Put32(b.head, 16, 4096); b.SealHead(); }, 60ull << 30,
       ImageFault::DamagedHeader},
      {"unknown version", [](Built& b) { Put32(b.head, 8, 7); b.SealHead(); }, 60ull << 30,
       ImageFault::UnknownVersion},
      {"no end record", [](Built& b) { std::fill(b.tail.begin(), b.tail.end(), 0); }, 60ull << 30,
       ImageFault::Unfinished},
      {"end record damaged", [](Built& b) { b.tail[9] ^= 1; }, 60ull << 30, ImageFault::Unfinished},
      {"file cut short", [](Built& b) { b.fileSize -= 200 * kMiB; }, 60ull << 30, ImageFault::SizeMismatch},
      {"file longer than its stream", [](Built& b) { b.fileSize += kMiB; }, 60ull << 30, ImageFault::SizeMismatch},
      {"stream longer than the blocks hold", [](Built& b) { Put64(b.tail, 16, 101 * kMiB); b.SealTail(); },
       60ull << 30, ImageFault::SizeMismatch},
      {"no blocks", [](Built& b) { Put64(b.tail, 8, 0); b.SealTail(); }, 60ull << 30, ImageFault::SizeMismatch},
      {"file system unknown", [](Built& b) { std::memcpy(b.head.data() + 80, "ext4", 4); b.SealHead(); },
       60ull << 30, ImageFault::UnknownFileSystem},
      {"larger than the target", [](Built&) {}, (10ull << 30) - 1, ImageFault::LargerThanTarget},
  };
  for (const Case& c : cases) {
    Built b = MakeImage(100, kMiB, kMiB, 10ull << 30);
    c.damage(b);
    EXPECT_EQ(Check(b, c.target), c.expected) << c.what;
  }
}

TEST(ImageHeader, ShortInputIsTooShort) {
  Built b = MakeImage(1, 100, 100, 1 << 20);
  ImageSummary s;
  EXPECT_EQ(CheckImageBytes(b.head.data(), 5, b.tail.data(), 0, 5, 0, s), ImageFault::TooShort);
  EXPECT_EQ(CheckImageBytes(b.head.data(), 512, b.tail.data(), 64, 500, 0, s), ImageFault::TooShort);
}

TEST(ImageHeader, MessagesNameTheProblem) {
  ImageSummary s;
  s.partitionBytes = 20ull << 30;
  EXPECT_EQ(ImageFaultMessage(ImageFault::UnknownFormat, s, 0), L"所选文件不是有效的系统镜像。");
  EXPECT_EQ(ImageFaultMessage(ImageFault::LargerThanTarget, s, 10ull << 30),
            L"所选镜像来自20.00GB的分区，大于系统分区（10.00GB），无法还原。");
  EXPECT_EQ(ImageFaultMessage(ImageFault::None, s, 0), L"");
}

// The file edge: a folder, a 5-byte file and a real small image written to disk.
TEST(ImageHeader, FilesOnDisk) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring folder = std::wstring(dir) + L"vorlane-image-header-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  ImageSummary s;
  EXPECT_EQ(CheckImageFile(folder, 0, s), ImageFault::NotAFile);
  EXPECT_EQ(CheckImageFile(folder + L"\\missing.gho", 0, s), ImageFault::NotAFile);

  auto write = [&](const std::wstring& name, const std::vector<uint8_t>& bytes) {
    std::wstring path = folder + L"\\" + name;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(f);
    return path;
  };
  std::wstring tiny = write(L"tiny.gho", {'i', 'm', 'a', 'g', 'e'});
  EXPECT_EQ(CheckImageFile(tiny, 0, s), ImageFault::TooShort);

  // One block of 100 raw bytes stored as 100 bytes: 512 + 24 + 100 + 64 bytes.
  Built b = MakeImage(1, 100, 100, 1 << 20);
  std::vector<uint8_t> whole(b.head);
  whole.resize(512 + 24 + 100, 0);
  whole.insert(whole.end(), b.tail.begin(), b.tail.end());
  std::wstring good = write(L"good.gho", whole);
  EXPECT_EQ(CheckImageFile(good, 2 << 20, s), ImageFault::None);
  EXPECT_EQ(CheckImageFile(good, 1 << 19, s), ImageFault::LargerThanTarget);

  for (const wchar_t* name : {L"tiny.gho", L"good.gho"}) DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(ImageHeader, VolumeNamesKeepTheFirstAndNumberTheOthers) {
  EXPECT_EQ(ImageVolumePath(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO", 0), L"D:\\VRLN\\BackSystem\\BAKSYS.GHO");
  EXPECT_EQ(ImageVolumePath(L"D:\\VRLN\\BackSystem\\BAKSYS.GHO", 1), L"D:\\VRLN\\BackSystem\\BAKSYS.001");
  EXPECT_EQ(ImageVolumePath(L"D:\\x.y\\image", 12), L"D:\\x.y\\image.012");
}

// A split image on disk: its first volume is what a job names; the check reads the end record from the last
// volume (here it begins in the one before) and counts every volume's bytes.
TEST(ImageHeader, SplitImageThroughItsFirstVolume) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::wstring folder = std::wstring(dir) + L"vorlane-image-split-test";
  CreateDirectoryW(folder.c_str(), nullptr);
  auto write = [&](const std::wstring& name, const uint8_t* bytes, size_t size) {
    std::wstring path = folder + L"\\" + name;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, bytes, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(f);
  };
  const uint64_t volume = kMiB;
  const uint64_t total = 2 * volume + 30;
  const uint64_t stored = total - 512 - 24 - 64;  // one block stored as it is
  auto lay = [&](uint64_t volumeField) {
    Built b = MakeImage(1, stored, stored, 1ull << 30, "fat", 2, 4 * kMiB);
    Put64(b.head, 48, volumeField);
    b.SealHead();
    std::vector<uint8_t> whole(b.head);
    whole.resize(total - 64, 0x5A);
    whole.insert(whole.end(), b.tail.begin(), b.tail.end());
    write(L"BAKSYS.GHO", whole.data(), volume);
    write(L"BAKSYS.001", whole.data() + volume, volume);
    write(L"BAKSYS.002", whole.data() + 2 * volume, total - 2 * volume);
  };
  std::wstring first = folder + L"\\BAKSYS.GHO";
  ImageSummary s;
  lay(volume);
  EXPECT_EQ(CheckImageFile(first, 2ull << 30, s), ImageFault::None);
  EXPECT_EQ(s.blockCount, 1u);
  EXPECT_EQ(s.streamBytes, stored);
  EXPECT_EQ(CheckImageFile(first, 1ull << 29, s), ImageFault::LargerThanTarget);

  struct Case {
    const char* what;
    uint64_t volumeField;
    const wchar_t* removed;
    ImageFault expected;
  } cases[] = {
      {"the last volume missing", volume, L"BAKSYS.002", ImageFault::Unfinished},
      {"a middle volume missing", volume, L"BAKSYS.001", ImageFault::Unfinished},
      {"the header says one file", 0, nullptr, ImageFault::Unfinished},
      {"an impossible volume size", 4096, nullptr, ImageFault::DamagedHeader},
  };
  for (const Case& c : cases) {
    lay(c.volumeField);
    if (c.removed) DeleteFileW((folder + L"\\" + c.removed).c_str());
    EXPECT_EQ(CheckImageFile(first, 2ull << 30, s), c.expected) << c.what;
  }
  for (const wchar_t* name : {L"BAKSYS.GHO", L"BAKSYS.001", L"BAKSYS.002"}) DeleteFileW((folder + L"\\" + name).c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
