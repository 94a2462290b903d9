// Our image container (".GHO" by the program's naming): a 512-byte header, the partition stream in
// checksummed blocks (each compressed or stored), and a trailer with the totals and the SHA-256 of all
// blocks. It is written strictly in order, so it can go through a pipe, and it is read strictly in order,
// so it can come from one. Version 2 (written now) packs blocks of 4 MiB with zstd; version 1 files
// (1 MiB blocks, deflate) stay readable. The layout is documented in docs/image-format.md.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vorlane {

constexpr uint32_t kImageHeaderSize = 512;
constexpr uint32_t kImageTrailerSize = 64;
constexpr uint32_t kImageBlockHeaderSize = 24;
constexpr uint32_t kImageVersion = 2;               // the version written
constexpr uint32_t kImageBlockSize = 4u << 20;      // raw bytes per block in version 2
constexpr uint32_t kImageBlockSizeV1 = 1u << 20;    // raw bytes per block in version 1
// Volumes of a split image: on FAT, where no file reaches 4 GiB, an image is cut into files of this size.
constexpr uint64_t kFatVolumeBytes = (4ull << 30) - (1u << 20);
constexpr uint64_t kSmallestVolume = 1u << 20;
constexpr uint64_t kLargestVolume = (4ull << 30) - 1;

struct ImageInfo {
    uint32_t version = 0;         // 0 when writing: the current version
    uint64_t partitionBytes = 0;  // size of the partition the image was taken from
    uint64_t partitionStart = 0;  // its start on its disk, in bytes (for information)
    uint64_t streamBytes = 0;     // raw stream length
    uint64_t blockCount = 0;
    uint64_t usedBytes = 0;       // bytes in use on the file system when it was taken
    uint64_t createdUnix = 0;
    uint64_t fileBytes = 0;       // size of the image file (of all its volumes)
    uint64_t volumeBytes = 0;     // a split image's volume size; 0: one file
    uint32_t level = 0;           // compression level, 0 = stored
    uint32_t blockSize = 0;       // raw bytes per block
    std::string streamKind;       // "partclone"
    std::string fileSystem;       // "ntfs", "fat"
    std::string sha256;           // hex, of all blocks
};

// The file of volume index (0 the first) of an image whose first volume is first: the first keeps its name,
// the others replace its extension by .001, .002, ... ("BAKSYS.GHO", "BAKSYS.001"). A name ending in
// ".partial" (being written) keeps that ending: "BAKSYS.GHO.partial", "BAKSYS.001.partial".
std::string VolumePath(const std::string& first, unsigned index);
// The files of an image as they lie on the disk: the first, then the next one as long as the last was full
// (volumeBytes long) and the next exists. Just the first when volumeBytes is 0.
std::vector<std::string> ImageVolumes(const std::string& first, uint64_t volumeBytes);

using ProgressFn = std::function<void(uint64_t bytesDone)>;
using StreamSink = std::function<bool(const unsigned char*, size_t)>;

// Writes an image. Blocks are packed by a fixed pool of worker threads while the caller keeps writing;
// one thread writes them out in order and another computes the SHA-256 of what was written.
class ImageWriter {
public:
    ImageWriter();
    ~ImageWriter();
    ImageWriter(const ImageWriter&) = delete;
    ImageWriter& operator=(const ImageWriter&) = delete;
    // Creates the file (replacing one). info's size fields describe the source; the rest is filled in.
    // info.version 1 writes the old layout (tests of the reader use it). With info.volumeBytes the image
    // is split into volumes of that size (VolumePath names them; each replaces a file of its name).
    bool Create(const std::string& path, const ImageInfo& info, std::string& error);
    // Writes into an open descriptor instead (a pipe to a helper that stores the file); takes it over.
    bool Attach(int fd, const ImageInfo& info, std::string& error);
    bool Write(const void* data, size_t size, std::string& error);
    // Reads fd to its end into the image (no intermediate copy); bytes counts what was read.
    bool WriteFrom(int fd, uint64_t& bytes, const ProgressFn& progress, std::string& error);
    // Writes the last block, the trailer and the final header, and flushes the file to disk.
    bool Finish(ImageInfo& result, std::string& error);
    void Abandon();  // stops, closes and deletes a partly written file (every volume written)
    uint64_t FileBytes() const;
    unsigned Volumes() const;  // volumes begun so far

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where an image's bytes come from, front to back: a file, or a helper program's output.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual bool Open(std::string& error) = 0;
    // Up to size bytes; 0 at the end, negative on a read error.
    virtual ssize_t Read(void* data, size_t size) = 0;
    // Ends the read; complete tells whether everything was read (a helper stopped early is no failure).
    virtual bool Close(bool complete, std::string& error) = 0;
    virtual uint64_t Size() const = 0;  // 0 when not known in advance
};

// An image file, or the volumes of a split one named by the first (its header says it is split).
std::unique_ptr<ImageSource> FileImageSource(const std::string& path);

// Reads the header and the end record only (cheap): for the size check before the full verification.
bool ReadImageHeader(const std::string& path, ImageInfo& info, std::string& error);
// The header only, from any source.
bool ReadImageHeader(ImageSource& source, ImageInfo& info, std::string& error);

// Reads the whole image and checks everything that was stored: header, every block header and the
// checksum of its stored bytes, block count, stream length, trailer and the SHA-256 of all blocks.
// Nothing is decompressed here (the stored bytes are proven to be those written); decompression and the
// content checksums come once, while the stream is written out.
bool VerifyImage(const std::string& path, ImageInfo& info, const ProgressFn& progress, std::string& error);
bool VerifyImage(ImageSource& source, ImageInfo& info, const ProgressFn& progress, std::string& error);

// Streams the raw partition stream to sink (which answers false to stop). Checks each block again and
// its content after decompression.
bool ReadImageStream(const std::string& path, const StreamSink& sink, const ProgressFn& progress,
                     std::string& error);
bool ReadImageStream(ImageSource& source, const StreamSink& sink, const ProgressFn& progress, std::string& error);

}  // namespace vorlane
