// Our image container (".GHO" by the program's naming): a 512-byte header, the partition stream in
// checksummed blocks (each deflate-compressed or stored), and a trailer with the totals and the SHA-256
// of all blocks. It is written strictly in order, so it can go through a pipe.
// The layout is documented in docs/image-format.md.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorlane {

constexpr uint32_t kImageHeaderSize = 512;
constexpr uint32_t kImageTrailerSize = 64;
constexpr uint32_t kImageBlockHeaderSize = 24;
constexpr uint32_t kImageBlockSize = 1u << 20;  // raw bytes per block

struct ImageInfo {
    uint64_t partitionBytes = 0;  // size of the partition the image was taken from
    uint64_t partitionStart = 0;  // its start on its disk, in bytes (for information)
    uint64_t streamBytes = 0;     // raw stream length
    uint64_t blockCount = 0;
    uint64_t usedBytes = 0;       // bytes in use on the file system when it was taken
    uint64_t createdUnix = 0;
    uint32_t level = 0;           // deflate level, 0 = stored
    std::string streamKind;       // "partclone"
    std::string fileSystem;       // "ntfs", "fat"
    std::string sha256;           // hex, of all blocks
};

using ProgressFn = std::function<void(uint64_t bytesDone)>;

class ImageWriter {
public:
    ~ImageWriter();
    // Creates the file (replacing one). info's size fields describe the source; the rest is filled in.
    bool Create(const std::string& path, const ImageInfo& info, std::string& error);
    // Writes into an open descriptor instead (a pipe to a helper that stores the file); takes it over.
    bool Attach(int fd, const ImageInfo& info, std::string& error);
    bool Write(const void* data, size_t size, std::string& error);
    // Writes the last block, the trailer and the final header, and flushes the file to disk.
    bool Finish(ImageInfo& result, std::string& error);
    void Abandon();  // closes and deletes a partly written file
    uint64_t FileBytes() const { return offset_; }

private:
    struct Pending {
        std::vector<unsigned char> raw;
        std::vector<unsigned char> packed;
        bool deflated = false;
    };
    bool FlushBlock(std::string& error);   // closes the current block and writes full batches
    bool WriteBatch(std::string& error);   // packs the pending blocks in parallel and writes them in order
    bool WriteOut(const void* data, size_t size, std::string& error);
    // Output goes through a buffer written in large pieces aligned to 1 MiB of the file: file systems
    // served by a helper process (ntfs-3g) write whole clusters much faster than scattered pieces.
    bool Append(const void* data, size_t size, std::string& error);
    bool FlushOutput(bool all, std::string& error);
    int fd_ = -1;
    std::string path_;
    ImageInfo info_;
    std::vector<unsigned char> raw_;
    std::vector<Pending> pending_;
    size_t batch_ = 1;
    uint64_t offset_ = 0;       // logical end of the file
    std::vector<unsigned char> out_;
    uint64_t outStart_ = 0;     // file offset of out_[0]
    void* sha_ = nullptr;
};

// Reads the header and the end record only (cheap): for the size check before the full verification.
bool ReadImageHeader(const std::string& path, ImageInfo& info, std::string& error);

// Reads the whole image and checks everything: header, every block's checksums and decompression,
// block count, stream length, trailer and SHA-256. Writes nothing anywhere.
bool VerifyImage(const std::string& path, ImageInfo& info, const ProgressFn& progress, std::string& error);

// Streams the raw partition stream to sink (which answers false to stop). Checks each block again.
bool ReadImageStream(const std::string& path, const std::function<bool(const unsigned char*, size_t)>& sink,
                     const ProgressFn& progress, std::string& error);

}  // namespace vorlane
