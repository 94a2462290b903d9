#include "image_file.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <sys/uio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <thread>
#include <vector>

#include "base/sha256.h"
#include "block_queue.h"
#include "files.h"
#include "image_sha256.h"
#include "text.h"

namespace vorlane {
namespace {

const char kMagic[8] = {'V', 'R', 'L', 'N', 'I', 'M', 'G', '1'};
const char kTrailerMagic[8] = {'V', 'R', 'L', 'N', 'E', 'N', 'D', '1'};
const char kBlockMagic[4] = {'V', 'B', 'L', 'K'};
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflate = 1;
constexpr uint32_t kMethodZstd = 2;
constexpr uint32_t kSmallestBlock = 64u << 10;
constexpr uint32_t kLargestBlock = 16u << 20;
constexpr uint64_t kWriteBehind = 32u << 20;

void Put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint32_t Get32(const unsigned char* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
uint64_t Get64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
// libdeflate's CRC-32 (same polynomial as zlib's) uses carry-less multiplication: several times faster.
uint32_t Crc(const unsigned char* data, size_t size) { return libdeflate_crc32(0, data, size); }
void PutText(unsigned char* p, size_t room, const std::string& text) {
    std::memset(p, 0, room);
    std::memcpy(p, text.data(), std::min(text.size(), room - 1));
}
std::string GetText(const unsigned char* p, size_t room) {
    size_t n = 0;
    while (n < room && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}
std::string BlockName(uint64_t index) { return "block " + std::to_string(index + 1); }

unsigned WorkerCount() {
    unsigned cores = std::thread::hardware_concurrency();
    return cores < 1 ? 1 : cores > 4 ? 4 : cores;
}

uint32_t MethodFor(uint32_t version, uint32_t level) {
    if (level == 0) return kMethodStored;
    return version == 1 ? kMethodDeflate : kMethodZstd;
}

// The largest stored size a block of blockSize raw bytes may have under method.
size_t StoredBound(uint32_t method, uint32_t blockSize) {
    if (method == kMethodDeflate) return compressBound(blockSize);
    if (method == kMethodZstd) return ZSTD_compressBound(blockSize);
    return blockSize;
}

void EncodeHeader(const ImageInfo& info, unsigned char h[kImageHeaderSize]) {
    std::memset(h, 0, kImageHeaderSize);
    std::memcpy(h, kMagic, 8);
    Put32(h + 8, info.version);
    Put32(h + 12, kImageHeaderSize);
    Put32(h + 16, info.blockSize);
    Put32(h + 20, MethodFor(info.version, info.level));
    Put32(h + 24, info.level);
    Put64(h + 32, info.partitionBytes);
    Put64(h + 40, info.partitionStart);
    Put64(h + 48, info.volumeBytes);
    PutText(h + 64, 16, info.streamKind);
    PutText(h + 80, 16, info.fileSystem);
    Put64(h + 96, info.usedBytes);
    Put64(h + 104, info.createdUnix);
    Put32(h + 508, Crc(h, 508));
}

bool KnownLayout(uint32_t version, uint32_t blockSize, uint32_t method) {
    if (version == 1) return blockSize == kImageBlockSizeV1 && (method == kMethodStored || method == kMethodDeflate);
    if (version != 2) return false;
    bool powerOfTwo = (blockSize & (blockSize - 1)) == 0;
    return powerOfTwo && blockSize >= kSmallestBlock && blockSize <= kLargestBlock &&
           (method == kMethodStored || method == kMethodZstd);
}

bool DecodeHeader(const unsigned char h[kImageHeaderSize], ImageInfo& info, std::string& error) {
    if (std::memcmp(h, kMagic, 8) != 0) {
        error = "it is not an image of this program (unknown header)";
        return false;
    }
    if (Get32(h + 508) != Crc(h, 508)) {
        error = "the image header is damaged (checksum mismatch)";
        return false;
    }
    if (Get32(h + 12) != kImageHeaderSize || !KnownLayout(Get32(h + 8), Get32(h + 16), Get32(h + 20))) {
        error = "the image was written by an unknown version of the format";
        return false;
    }
    info.version = Get32(h + 8);
    info.blockSize = Get32(h + 16);
    info.level = Get32(h + 24);
    info.partitionBytes = Get64(h + 32);
    info.partitionStart = Get64(h + 40);
    info.volumeBytes = Get64(h + 48);
    if (info.volumeBytes != 0 && (info.volumeBytes < kSmallestVolume || info.volumeBytes > kLargestVolume)) {
        error = "the image header is damaged (impossible volume size)";
        return false;
    }
    info.streamKind = GetText(h + 64, 16);
    info.fileSystem = GetText(h + 80, 16);
    info.usedBytes = Get64(h + 96);
    info.createdUnix = Get64(h + 104);
    return true;
}

// The end record carries the totals; without it the image was never finished.
bool DecodeTrailer(const unsigned char t[kImageTrailerSize], ImageInfo& info, std::string& error) {
    if (std::memcmp(t, kTrailerMagic, 8) != 0 || Get32(t + 60) != Crc(t, 60)) {
        error = "the image is incomplete or damaged (its end record is missing)";
        return false;
    }
    info.blockCount = Get64(t + 8);
    info.streamBytes = Get64(t + 16);
    if (info.blockCount == 0 || info.streamBytes == 0) {
        error = "the image holds no data";
        return false;
    }
    return true;
}

bool ReadAt(int fd, void* data, size_t size, uint64_t offset) {
    unsigned char* p = static_cast<unsigned char*>(data);
    while (size) {
        ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n; size -= static_cast<size_t>(n); offset += static_cast<uint64_t>(n);
    }
    return true;
}

// Reads exactly size bytes; answers the count read before the end (size when complete), -1 on an error.
ssize_t ReadExact(ImageSource& source, void* data, size_t size) {
    unsigned char* p = static_cast<unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        ssize_t n = source.Read(p + done, size - done);
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) close(fd_); }
    int get() const { return fd_; }
private:
    int fd_;
};

uint64_t FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// The volume size a file's header names (0: one file, or no readable header).
uint64_t VolumeBytesOf(int fd) {
    unsigned char header[kImageHeaderSize];
    ImageInfo info;
    std::string ignored;
    if (!ReadAt(fd, header, sizeof header, 0) || !DecodeHeader(header, info, ignored)) return 0;
    return info.volumeBytes;
}

// A file, or the volumes of a split image one after the other.
class FileSource : public ImageSource {
public:
    explicit FileSource(const std::string& path) : path_(path) {}
    ~FileSource() override { if (fd_ >= 0) close(fd_); }
    bool Open(std::string& error) override {
        if (!OpenVolume(path_, error)) return false;
        volumes_ = ImageVolumes(path_, VolumeBytesOf(fd_));
        next_ = 1;
        size_ = 0;
        for (const std::string& volume : volumes_) size_ += FileSize(volume);
        return true;
    }
    ssize_t Read(void* data, size_t size) override {
        for (;;) {
            ssize_t n = ReadRetrying(fd_, data, size);
            if (n != 0 || next_ >= volumes_.size()) return n;
            close(fd_);
            fd_ = -1;
            std::string ignored;
            if (!OpenVolume(volumes_[next_++], ignored)) return -1;
        }
    }
    bool Close(bool, std::string&) override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return true;
    }
    uint64_t Size() const override { return size_; }

private:
    bool OpenVolume(const std::string& path, std::string& error) {
        fd_ = open(path.c_str(), O_RDONLY);
        if (fd_ < 0) {
            error = "the image file cannot be opened (" + std::string(std::strerror(errno)) + ")";
            return false;
        }
        posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
        return true;
    }

    std::string path_;
    std::vector<std::string> volumes_;
    size_t next_ = 1;
    int fd_ = -1;
    uint64_t size_ = 0;
};

// Writes the pieces whole, in one call where the descriptor takes them.
bool WriteAll(int fd, const unsigned char* first, size_t firstSize, const unsigned char* second, size_t secondSize,
              std::string& error) {
    iovec pieces[2] = {{const_cast<unsigned char*>(first), firstSize}, {const_cast<unsigned char*>(second), secondSize}};
    int index = firstSize ? 0 : 1;
    while (index < 2 && pieces[index].iov_len) {
        ssize_t n = writev(fd, pieces + index, 2 - index);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "the image file cannot be written (" + std::string(n < 0 ? std::strerror(errno) : "no room") + ")";
            return false;
        }
        size_t done = static_cast<size_t>(n);
        while (index < 2 && done >= pieces[index].iov_len) {
            done -= pieces[index].iov_len;
            ++index;
        }
        if (index < 2) {
            pieces[index].iov_base = static_cast<unsigned char*>(pieces[index].iov_base) + done;
            pieces[index].iov_len -= done;
        }
    }
    return true;
}

// A block on its way through a pipeline: its raw bytes, its stored bytes and its header.
struct Block {
    uint64_t sequence = 0;
    uint64_t endOffset = 0;               // file offset just after the block (progress)
    std::vector<unsigned char> raw;       // raw bytes (capacity: one block)
    size_t rawSize = 0;
    std::vector<unsigned char> packed;    // compressed bytes, when the block is stored compressed
    size_t packedSize = 0;
    uint32_t method = kMethodStored;
    unsigned char header[kImageBlockHeaderSize] = {};
    const unsigned char* Stored() const { return method == kMethodStored ? raw.data() : packed.data(); }
    size_t StoredSize() const { return method == kMethodStored ? rawSize : packedSize; }
};

// Compression and decompression state of one worker, reused for every block it handles.
class Codec {
public:
    Codec() : compress_(ZSTD_createCCtx()), decompress_(ZSTD_createDCtx()) {}
    ~Codec() {
        ZSTD_freeCCtx(compress_);
        ZSTD_freeDCtx(decompress_);
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    // Packs block->raw into its stored form and fills in its header.
    void Pack(Block& block, uint32_t version, int level) {
        block.method = kMethodStored;
        if (level > 0 && version == 1) Deflate(block, level);
        if (level > 0 && version != 1) Zstd(block, level);
        unsigned char* h = block.header;
        std::memcpy(h, kBlockMagic, 4);
        Put32(h + 4, block.method);
        Put32(h + 8, static_cast<uint32_t>(block.StoredSize()));
        Put32(h + 12, static_cast<uint32_t>(block.rawSize));
        uint32_t storedCrc = Crc(block.Stored(), block.StoredSize());
        Put32(h + 16, storedCrc);
        // zstd frames carry their own content checksum, checked as they decompress.
        uint32_t rawCrc = block.method == kMethodDeflate ? Crc(block.raw.data(), block.rawSize)
                        : block.method == kMethodZstd   ? 0
                                                         : storedCrc;
        Put32(h + 20, rawCrc);
    }

    // Restores block->raw from the stored bytes in block->packed; what says why it failed.
    bool Unpack(Block& block, std::string& what) {
        size_t capacity = block.raw.size();
        if (block.method == kMethodDeflate) {
            uLongf size = static_cast<uLongf>(capacity);
            if (uncompress(block.raw.data(), &size, block.packed.data(), static_cast<uLong>(block.packedSize)) != Z_OK ||
                size != block.rawSize) {
                what = "does not decompress";
                return false;
            }
            if (Crc(block.raw.data(), block.rawSize) != Get32(block.header + 20)) {
                what = "content checksum mismatch";
                return false;
            }
            return true;
        }
        size_t size = ZSTD_decompressDCtx(decompress_, block.raw.data(), capacity, block.packed.data(), block.packedSize);
        if (ZSTD_isError(size)) {
            what = ZSTD_getErrorCode(size) == ZSTD_error_checksum_wrong ? "content checksum mismatch"
                                                                         : "does not decompress";
            return false;
        }
        if (size != block.rawSize) {
            what = "does not decompress to its size";
            return false;
        }
        return true;
    }

private:
    // Deflate unless a quick trial on the block's start shows it will not shrink (compressed data).
    void Deflate(Block& block, int level) {
        size_t trial = std::min<size_t>(block.rawSize, 64 * 1024);
        if (block.rawSize > 2 * trial) {
            std::vector<unsigned char> probe(compressBound(static_cast<uLong>(trial)));
            uLongf probeSize = probe.size();
            if (compress2(probe.data(), &probeSize, block.raw.data(), trial, 1) == Z_OK && probeSize > trial * 98 / 100)
                return;
        }
        block.packed.resize(compressBound(static_cast<uLong>(block.rawSize)));
        uLongf size = block.packed.size();
        if (compress2(block.packed.data(), &size, block.raw.data(), block.rawSize, level) == Z_OK && size < block.rawSize) {
            block.packedSize = size;
            block.method = kMethodDeflate;
        }
    }
    // zstd gives up quickly on data that does not compress; the block stays raw when it did not shrink.
    void Zstd(Block& block, int level) {
        block.packed.resize(ZSTD_compressBound(block.raw.size()));
        ZSTD_CCtx_reset(compress_, ZSTD_reset_session_and_parameters);
        ZSTD_CCtx_setParameter(compress_, ZSTD_c_compressionLevel, level);
        ZSTD_CCtx_setParameter(compress_, ZSTD_c_checksumFlag, 1);
        size_t size = ZSTD_compress2(compress_, block.packed.data(), block.packed.size(), block.raw.data(), block.rawSize);
        if (!ZSTD_isError(size) && size < block.rawSize) {
            block.packedSize = size;
            block.method = kMethodZstd;
        }
    }

    ZSTD_CCtx* compress_;
    ZSTD_DCtx* decompress_;
};

}  // namespace

// ---- Writing ------------------------------------------------------------------------------------------
//
// The caller fills blocks from a fixed pool; workers pack them (any order); the writer thread writes them
// in order; the hash thread adds what was written to the SHA-256 and gives the block back to the pool.

struct ImageWriter::State {
    int fd = -1;
    std::string path;
    std::vector<std::string> volumes;  // files begun, when writing into files
    uint64_t fileOffset = 0;           // bytes in the current file
    ImageInfo info;
    std::vector<std::unique_ptr<Block>> pool;
    BlockQueues<Block> queues;
    std::deque<Block*> free, toPack, toHash;
    std::map<uint64_t, Block*> packed;
    uint64_t submitted = 0;      // blocks handed to the workers
    bool ending = false;         // no more blocks will be submitted
    bool written = false;        // the writer thread is done
    std::vector<std::thread> threads;
    Block* current = nullptr;    // the block the caller is filling
    std::atomic<uint64_t> offset{0};
    bool regularFile = false;
    uint64_t flushedTo = 0;      // writing back was started up to here (writer thread)
    ImageSha256 sha;

    bool WriteOut(const unsigned char* first, size_t firstSize, const unsigned char* second, size_t secondSize,
                  std::string& error);
    bool NextVolume(std::string& error);
    void Worker();
    void Writer();
    void Hasher();
    bool Submit(std::string& error);
    bool Current(std::string& error);
    void StopThreads();
};

// Writes the pieces whole; a split image goes on in the next volume where one is full.
bool ImageWriter::State::WriteOut(const unsigned char* first, size_t firstSize, const unsigned char* second,
                                  size_t secondSize, std::string& error) {
    if (info.volumeBytes == 0) {
        fileOffset += firstSize + secondSize;
        return WriteAll(fd, first, firstSize, second, secondSize, error);
    }
    const unsigned char* parts[2] = {first, second};
    size_t sizes[2] = {firstSize, secondSize};
    for (int i = 0; i < 2; ++i) {
        const unsigned char* p = parts[i];
        size_t left = sizes[i];
        while (left) {
            if (fileOffset == info.volumeBytes && !NextVolume(error)) return false;
            size_t take = static_cast<size_t>(std::min<uint64_t>(left, info.volumeBytes - fileOffset));
            if (!WriteAll(fd, p, take, nullptr, 0, error)) return false;
            p += take;
            left -= take;
            fileOffset += take;
        }
    }
    return true;
}

// Closes a full volume (flushed to disk) and begins the next one.
bool ImageWriter::State::NextVolume(std::string& error) {
    if (volumes.size() >= 1000) {
        error = "the image would need more than 1000 volumes";
        return false;
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        fd = -1;
        error = "a volume of the image could not be flushed to disk (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    std::string next = VolumePath(path, static_cast<unsigned>(volumes.size()));
    fd = open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        error = "the image's volume " + BaseName(next) + " cannot be created (" + std::strerror(errno) + ")";
        return false;
    }
    volumes.push_back(next);
    fileOffset = 0;
    flushedTo = 0;
    return true;
}

void ImageWriter::State::Worker() {
    Codec codec;
    int level = static_cast<int>(info.level);
    while (Block* block = queues.Take(toPack, &ending)) {
        codec.Pack(*block, info.version, level);
        queues.PutReady(packed, block->sequence, block);
    }
}

void ImageWriter::State::Writer() {
    for (uint64_t next = 0;; ++next) {
        Block* block = queues.TakeInOrder(packed, next, [&] { return ending && next >= submitted; });
        if (!block) break;
        std::string error;
        if (!WriteOut(block->header, sizeof block->header, block->Stored(), block->StoredSize(), error)) {
            queues.Fail(error);
            return;
        }
        offset += sizeof block->header + block->StoredSize();
        // Into a file, the disk starts writing behind us: the flush at the end then has little left to do.
        if (regularFile && fileOffset - flushedTo >= kWriteBehind) {
            sync_file_range(fd, static_cast<off_t>(flushedTo), static_cast<off_t>(fileOffset - flushedTo),
                            SYNC_FILE_RANGE_WRITE);
            flushedTo = fileOffset;
        }
        queues.Put(toHash, block);
    }
    queues.Update([&] { written = true; });
}

void ImageWriter::State::Hasher() {
    while (Block* block = queues.Take(toHash, &written)) {
        sha.Update(block->header, sizeof block->header);
        sha.Update(block->Stored(), block->StoredSize());
        info.streamBytes += block->rawSize;
        info.blockCount += 1;
        block->rawSize = 0;
        queues.Put(free, block);
    }
}

bool ImageWriter::State::Current(std::string& error) {
    if (current) return true;
    current = queues.Take(free, nullptr);
    if (!current) error = queues.Error().empty() ? "the image writer was stopped" : queues.Error();
    return current != nullptr;
}

bool ImageWriter::State::Submit(std::string& error) {
    if (!current || current->rawSize == 0) return true;
    if (queues.Failed()) {
        error = queues.Error();
        return false;
    }
    Block* block = current;
    current = nullptr;
    queues.Update([&] {
        block->sequence = submitted++;
        toPack.push_back(block);
    });
    return true;
}

void ImageWriter::State::StopThreads() {
    if (threads.empty()) return;
    queues.Stop();
    for (std::thread& thread : threads) thread.join();
    threads.clear();
}

ImageWriter::ImageWriter() : state_(new State) {}

ImageWriter::~ImageWriter() {
    state_->StopThreads();
    if (state_->fd >= 0) close(state_->fd);
}

uint64_t ImageWriter::FileBytes() const { return state_->offset; }

unsigned ImageWriter::Volumes() const { return static_cast<unsigned>(state_->volumes.size()); }

bool ImageWriter::Create(const std::string& path, const ImageInfo& info, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        error = "the image file cannot be created (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    state_->path = path;
    state_->volumes.assign(1, path);
    return Attach(fd, info, error);
}

bool ImageWriter::Attach(int fd, const ImageInfo& info, std::string& error) {
    State& s = *state_;
    s.fd = fd;
    s.info = info;
    if (info.volumeBytes != 0 && (s.path.empty() || info.volumeBytes < kSmallestVolume || info.volumeBytes > kLargestVolume)) {
        error = "an image is split into volumes only in files, of 1 MiB to 4 GiB";
        return false;
    }
    s.info.version = info.version == 1 ? 1 : kImageVersion;
    s.info.blockSize = s.info.version == 1 ? kImageBlockSizeV1 : kImageBlockSize;
    s.info.streamBytes = 0;
    s.info.blockCount = 0;
    s.info.createdUnix = static_cast<uint64_t>(std::time(nullptr));
    if (s.info.level > 9) s.info.level = 9;
    unsigned char header[kImageHeaderSize];
    EncodeHeader(s.info, header);
    if (!s.WriteOut(header, sizeof header, nullptr, 0, error)) return false;
    struct stat st;
    s.regularFile = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    s.offset = kImageHeaderSize;
    unsigned workers = WorkerCount();
    for (unsigned i = 0; i < workers + 4; ++i) {
        s.pool.emplace_back(new Block);
        s.pool.back()->raw.resize(s.info.blockSize);
        s.free.push_back(s.pool.back().get());
    }
    for (unsigned i = 0; i < workers; ++i) s.threads.emplace_back([&s] { s.Worker(); });
    s.threads.emplace_back([&s] { s.Writer(); });
    s.threads.emplace_back([&s] { s.Hasher(); });
    return true;
}

bool ImageWriter::Write(const void* data, size_t size, std::string& error) {
    State& s = *state_;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size) {
        if (!s.Current(error)) return false;
        Block& block = *s.current;
        size_t take = std::min(size, s.info.blockSize - block.rawSize);
        std::memcpy(block.raw.data() + block.rawSize, p, take);
        block.rawSize += take;
        p += take; size -= take;
        if (block.rawSize == s.info.blockSize && !s.Submit(error)) return false;
    }
    return true;
}

bool ImageWriter::WriteFrom(int fd, uint64_t& bytes, const ProgressFn& progress, std::string& error) {
    State& s = *state_;
    bytes = 0;
    for (;;) {
        if (!s.Current(error)) return false;
        Block& block = *s.current;
        ssize_t n = read(fd, block.raw.data() + block.rawSize, s.info.blockSize - block.rawSize);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "reading the partition data failed (" + std::string(std::strerror(errno)) + ")";
            return false;
        }
        if (n == 0) return true;
        block.rawSize += static_cast<size_t>(n);
        bytes += static_cast<uint64_t>(n);
        if (progress) progress(bytes);
        if (block.rawSize == s.info.blockSize && !s.Submit(error)) return false;
    }
}

bool ImageWriter::Finish(ImageInfo& result, std::string& error) {
    State& s = *state_;
    if (!s.Submit(error)) return false;
    s.queues.Update([&] { s.ending = true; });
    for (std::thread& thread : s.threads) thread.join();
    s.threads.clear();
    if (s.queues.Failed()) {
        error = s.queues.Error();
        return false;
    }
    if (s.info.blockCount == 0) {
        error = "the partition stream was empty";
        return false;
    }
    uint8_t digest[32];
    s.sha.Final(digest);
    unsigned char trailer[kImageTrailerSize] = {};
    std::memcpy(trailer, kTrailerMagic, 8);
    Put64(trailer + 8, s.info.blockCount);
    Put64(trailer + 16, s.info.streamBytes);
    std::memcpy(trailer + 24, digest, 32);
    Put32(trailer + 60, Crc(trailer, 60));
    if (!s.WriteOut(trailer, sizeof trailer, nullptr, 0, error)) return false;
    s.offset += sizeof trailer;
    struct stat st;
    if (fstat(s.fd, &st) == 0 && S_ISREG(st.st_mode) && fsync(s.fd) != 0) {
        error = "the image file could not be flushed to disk (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    int fd = s.fd;
    s.fd = -1;
    if (close(fd) != 0) {
        error = "the image file could not be closed (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    s.info.sha256 = Sha256::Hex(digest);
    s.info.fileBytes = s.offset;
    result = s.info;
    return true;
}

void ImageWriter::Abandon() {
    state_->StopThreads();
    if (state_->fd >= 0) {
        close(state_->fd);
        state_->fd = -1;
    }
    for (const std::string& volume : state_->volumes) unlink(volume.c_str());
}

// ---- Reading ------------------------------------------------------------------------------------------
//
// A reader thread takes blocks off the source in order and checks their headers; workers check each
// block's stored bytes (and decompress it when the stream is wanted); the caller's thread takes the
// blocks back in order for the SHA-256 or the sink.

namespace {

class ImageWalk {
public:
    ImageWalk(ImageSource& source, bool unpack) : source_(source), unpack_(unpack) {}
    bool Run(ImageInfo& info, const StreamSink* sink, const ProgressFn& progress, std::string& error);

private:
    void Reader();
    void Worker();
    bool ReadBlock(Block& block, bool& atEnd);
    bool Consume(Block& block, const StreamSink* sink);

    ImageSource& source_;
    bool unpack_;
    ImageInfo info_;
    std::vector<std::unique_ptr<Block>> pool_;
    BlockQueues<Block> queues_;
    std::deque<Block*> free_, toCheck_;
    std::map<uint64_t, Block*> checked_;
    uint64_t readCount_ = 0;   // blocks read, final once readDone_
    bool readDone_ = false;
    bool sourceEnded_ = false;  // the source ended or failed before the end record: its own reason counts
    unsigned char trailer_[kImageTrailerSize] = {};
    uint64_t offset_ = kImageHeaderSize;  // reader thread's position in the file
    ImageSha256 sha_;
    uint64_t rawTotal_ = 0;
};

bool ImageWalk::ReadBlock(Block& block, bool& atEnd) {
    unsigned char* h = block.header;
    ssize_t got = ReadExact(source_, h, kImageBlockHeaderSize);
    std::string where = BlockName(readCount_);
    if (got < 0) {
        sourceEnded_ = true;
        queues_.Fail("the image file cannot be read at " + where);
        return false;
    }
    if (got >= 8 && std::memcmp(h, kTrailerMagic, 8) == 0) {
        std::memcpy(trailer_, h, static_cast<size_t>(got));
        ssize_t rest = got == kImageBlockHeaderSize ? ReadExact(source_, trailer_ + got, kImageTrailerSize - got) : 0;
        unsigned char extra;
        if (got != kImageBlockHeaderSize || rest != static_cast<ssize_t>(kImageTrailerSize - got) ||
            ReadExact(source_, &extra, 1) != 0) {
            sourceEnded_ = rest != static_cast<ssize_t>(kImageTrailerSize - got);
            queues_.Fail(got == kImageBlockHeaderSize && rest == static_cast<ssize_t>(kImageTrailerSize - got)
                             ? "the image has unexpected data after its end record"
                             : "the image is incomplete or damaged (its end record is cut short)");
            return false;
        }
        atEnd = true;
        return true;
    }
    if (got < static_cast<ssize_t>(kImageBlockHeaderSize)) {
        sourceEnded_ = true;
        queues_.Fail(got == 0 ? "the image is incomplete or damaged (its end record is missing)"
                              : "the image is truncated (" + where + " is cut short)");
        return false;
    }
    uint32_t method = Get32(h + 4), storedSize = Get32(h + 8), rawSize = Get32(h + 12);
    bool methodKnown = method == kMethodStored || method == (info_.version == 1 ? kMethodDeflate : kMethodZstd);
    if (std::memcmp(h, kBlockMagic, 4) != 0 || !methodKnown || rawSize == 0 || rawSize > info_.blockSize ||
        storedSize > StoredBound(method, info_.blockSize) || (method == kMethodStored && storedSize != rawSize)) {
        queues_.Fail("the image is damaged (bad block header at " + where + ")");
        return false;
    }
    block.method = method;
    block.rawSize = rawSize;
    block.packedSize = storedSize;
    // Stored blocks are read straight into the raw buffer: nothing to unpack.
    unsigned char* target = block.raw.data();
    if (method != kMethodStored) {
        if (block.packed.size() < storedSize) block.packed.resize(StoredBound(method, info_.blockSize));
        target = block.packed.data();
    }
    got = ReadExact(source_, target, storedSize);
    if (got != static_cast<ssize_t>(storedSize)) {
        sourceEnded_ = true;
        queues_.Fail(got < 0 ? "the image file cannot be read at " + where
                             : "the image is truncated (" + where + " is cut short)");
        return false;
    }
    offset_ += kImageBlockHeaderSize + storedSize;
    block.endOffset = offset_;
    return true;
}

void ImageWalk::Reader() {
    for (;;) {
        Block* block = queues_.Take(free_, nullptr);
        if (!block) return;
        bool atEnd = false;
        if (!ReadBlock(*block, atEnd)) return;
        if (atEnd) {
            queues_.Update([&] { readDone_ = true; });
            return;
        }
        queues_.Update([&] {
            block->sequence = readCount_++;
            toCheck_.push_back(block);
        });
    }
}

void ImageWalk::Worker() {
    Codec codec;
    while (Block* block = queues_.Take(toCheck_, &readDone_)) {
        std::string where = BlockName(block->sequence);
        if (Crc(block->Stored(), block->StoredSize()) != Get32(block->header + 16)) {
            queues_.Fail("the image is damaged (checksum mismatch in " + where + ")");
            return;
        }
        std::string what;
        if (unpack_ && block->method == kMethodStored && Get32(block->header + 20) != Get32(block->header + 16)) {
            queues_.Fail("the image is damaged (content checksum mismatch in " + where + ")");
            return;
        }
        if (unpack_ && block->method != kMethodStored && !codec.Unpack(*block, what)) {
            queues_.Fail("the image is damaged (" + where + " " + what + ")");
            return;
        }
        queues_.PutReady(checked_, block->sequence, block);
    }
}

bool ImageWalk::Consume(Block& block, const StreamSink* sink) {
    if (sink) {
        if (!(*sink)(block.raw.data(), block.rawSize)) {
            queues_.Fail("the image could not be written out");
            return false;
        }
    } else {
        sha_.Update(block.header, sizeof block.header);
        sha_.Update(block.Stored(), block.StoredSize());
    }
    rawTotal_ += block.rawSize;
    return true;
}

bool ImageWalk::Run(ImageInfo& info, const StreamSink* sink, const ProgressFn& progress, std::string& error) {
    if (!source_.Open(error)) return false;
    unsigned char header[kImageHeaderSize];
    ssize_t got = ReadExact(source_, header, kImageHeaderSize);
    if (got != static_cast<ssize_t>(kImageHeaderSize)) {
        error = got < 0 ? "the image file cannot be read" : "the image file is too short to be an image";
        source_.Close(true, error);
        return false;
    }
    if (!DecodeHeader(header, info_, error)) {
        std::string ignored;
        source_.Close(false, ignored);
        return false;
    }
    unsigned workers = WorkerCount();
    for (unsigned i = 0; i < workers + 3; ++i) {
        pool_.emplace_back(new Block);
        pool_.back()->raw.resize(info_.blockSize);
        free_.push_back(pool_.back().get());
    }
    std::vector<std::thread> threads;
    threads.emplace_back([this] { Reader(); });
    for (unsigned i = 0; i < workers; ++i) threads.emplace_back([this] { Worker(); });
    uint64_t count = 0;
    for (;; ++count) {
        Block* block = queues_.TakeInOrder(checked_, count, [&] { return readDone_ && count >= readCount_; });
        if (!block) break;
        bool ok = Consume(*block, sink);
        if (ok && progress) progress(block->endOffset);
        queues_.Put(free_, block);
        if (!ok) break;
    }
    queues_.Stop();
    for (std::thread& thread : threads) thread.join();
    bool complete = readDone_ && !queues_.Failed() && count == readCount_;
    std::string closeError;
    bool closed = source_.Close(complete || sourceEnded_, closeError);
    if (queues_.Failed()) {
        // A helper that could not read the file explains a short image better than its shortness.
        error = sourceEnded_ && !closed ? closeError : queues_.Error();
        return false;
    }
    if (!complete) {
        error = "the image could not be read to its end";
        return false;
    }
    if (!closed) {
        error = closeError;
        return false;
    }
    std::string trailerError;
    if (!DecodeTrailer(trailer_, info_, trailerError)) {
        error = trailerError;
        return false;
    }
    if (info_.blockCount != count || rawTotal_ != info_.streamBytes) {
        error = "the image's sizes do not agree (header, blocks and end record differ)";
        return false;
    }
    if (!sink) {
        uint8_t digest[32];
        sha_.Final(digest);
        if (std::memcmp(digest, trailer_ + 24, 32) != 0) {
            error = "the image is damaged (SHA-256 mismatch)";
            return false;
        }
        info_.sha256 = Sha256::Hex(digest);
    }
    info_.fileBytes = offset_ + kImageTrailerSize;
    info = info_;
    return true;
}

}  // namespace

std::string VolumePath(const std::string& first, unsigned index) {
    if (index == 0) return first;
    const std::string partial = ".partial";
    std::string name = first, ending;
    if (name.size() > partial.size() && name.compare(name.size() - partial.size(), partial.size(), partial) == 0) {
        name.resize(name.size() - partial.size());
        ending = partial;
    }
    size_t slash = name.rfind('/');
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)) name.resize(dot);
    char number[16];
    std::snprintf(number, sizeof number, ".%03u", index);
    return name + number + ending;
}

std::vector<std::string> ImageVolumes(const std::string& first, uint64_t volumeBytes) {
    std::vector<std::string> volumes(1, first);
    if (volumeBytes == 0) return volumes;
    size_t slash = first.rfind('/');
    std::string dir = slash == std::string::npos ? "." : first.substr(0, slash);
    for (unsigned index = 1; index < 1000 && FileSize(volumes.back()) == volumeBytes; ++index) {
        // Windows names ignore case: the next volume may have been copied as "baksys.001".
        std::optional<std::string> real = FindEntryNoCase(dir, BaseName(VolumePath(first, index)));
        if (!real) break;
        volumes.push_back(dir + "/" + *real);
    }
    return volumes;
}

std::unique_ptr<ImageSource> FileImageSource(const std::string& path) {
    return std::unique_ptr<ImageSource>(new FileSource(path));
}

bool ReadImageHeader(const std::string& path, ImageInfo& info, std::string& error) {
    Fd fd(open(path.c_str(), O_RDONLY));
    if (fd.get() < 0) {
        error = "the image file cannot be opened (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    off_t end = lseek(fd.get(), 0, SEEK_END);
    uint64_t fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
    unsigned char header[kImageHeaderSize], trailer[kImageTrailerSize];
    if (fileSize < kImageHeaderSize + kImageTrailerSize || !ReadAt(fd.get(), header, kImageHeaderSize, 0)) {
        error = "the image file is too short to be an image";
        return false;
    }
    if (!DecodeHeader(header, info, error)) return false;
    // The end record ends the last volume (and may begin in the one before it).
    std::vector<std::string> volumes = ImageVolumes(path, info.volumeBytes);
    size_t need = kImageTrailerSize;
    fileSize = 0;
    for (size_t i = volumes.size(); i-- > 0;) {
        uint64_t size = FileSize(volumes[i]);
        fileSize += size;
        if (need == 0) continue;
        size_t take = static_cast<size_t>(std::min<uint64_t>(need, size));
        Fd volume(open(volumes[i].c_str(), O_RDONLY));
        if (volume.get() < 0 || !ReadAt(volume.get(), trailer + need - take, take, size - take)) {
            error = "the image file cannot be read";
            return false;
        }
        need -= take;
    }
    if (need != 0 || fileSize < kImageHeaderSize + kImageTrailerSize) {
        error = "the image file is too short to be an image";
        return false;
    }
    info.fileBytes = fileSize;
    return DecodeTrailer(trailer, info, error);
}

bool ReadImageHeader(ImageSource& source, ImageInfo& info, std::string& error) {
    if (!source.Open(error)) return false;
    unsigned char header[kImageHeaderSize];
    ssize_t got = ReadExact(source, header, kImageHeaderSize);
    if (got != static_cast<ssize_t>(kImageHeaderSize)) {
        error = got < 0 ? "the image file cannot be read" : "the image file is too short to be an image";
        source.Close(true, error);  // a helper's own reason replaces the message
        return false;
    }
    std::string ignored;
    source.Close(false, ignored);
    info.fileBytes = source.Size();
    return DecodeHeader(header, info, error);
}

bool VerifyImage(ImageSource& source, ImageInfo& info, const ProgressFn& progress, std::string& error) {
    ImageWalk walk(source, false);
    return walk.Run(info, nullptr, progress, error);
}

bool VerifyImage(const std::string& path, ImageInfo& info, const ProgressFn& progress, std::string& error) {
    std::unique_ptr<ImageSource> source = FileImageSource(path);
    return VerifyImage(*source, info, progress, error);
}

bool ReadImageStream(ImageSource& source, const StreamSink& sink, const ProgressFn& progress, std::string& error) {
    ImageWalk walk(source, true);
    ImageInfo info;
    return walk.Run(info, &sink, progress, error);
}

bool ReadImageStream(const std::string& path, const StreamSink& sink, const ProgressFn& progress,
                     std::string& error) {
    std::unique_ptr<ImageSource> source = FileImageSource(path);
    return ReadImageStream(*source, sink, progress, error);
}

}  // namespace vorlane
