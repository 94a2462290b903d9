#include "image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <memory>
#include <thread>

#include "base/sha256.h"

namespace vorlane {
namespace {

const char kMagic[8] = {'V', 'R', 'L', 'N', 'I', 'M', 'G', '1'};
const char kTrailerMagic[8] = {'V', 'R', 'L', 'N', 'E', 'N', 'D', '1'};
const char kBlockMagic[4] = {'V', 'B', 'L', 'K'};
constexpr uint32_t kVersion = 1;
constexpr uint32_t kMethodStored = 0;
constexpr uint32_t kMethodDeflate = 1;

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
uint32_t Crc(const unsigned char* data, size_t size) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(size)));
}
void PutText(unsigned char* p, size_t room, const std::string& text) {
    std::memset(p, 0, room);
    std::memcpy(p, text.data(), std::min(text.size(), room - 1));
}
std::string GetText(const unsigned char* p, size_t room) {
    size_t n = 0;
    while (n < room && p[n]) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

bool ReadFully(int fd, void* data, size_t size, uint64_t offset) {
    unsigned char* p = static_cast<unsigned char*>(data);
    while (size) {
        ssize_t n = pread(fd, p, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n; size -= static_cast<size_t>(n); offset += static_cast<uint64_t>(n);
    }
    return true;
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) close(fd_); }
    int get() const { return fd_; }
private:
    int fd_;
};

void EncodeHeader(const ImageInfo& info, unsigned char h[kImageHeaderSize]) {
    std::memset(h, 0, kImageHeaderSize);
    std::memcpy(h, kMagic, 8);
    Put32(h + 8, kVersion);
    Put32(h + 12, kImageHeaderSize);
    Put32(h + 16, kImageBlockSize);
    Put32(h + 20, info.level ? kMethodDeflate : kMethodStored);
    Put32(h + 24, info.level);
    Put64(h + 32, info.partitionBytes);
    Put64(h + 40, info.partitionStart);
    PutText(h + 64, 16, info.streamKind);
    PutText(h + 80, 16, info.fileSystem);
    Put64(h + 96, info.usedBytes);
    Put64(h + 104, info.createdUnix);
    Put32(h + 508, Crc(h, 508));
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
    if (Get32(h + 8) != kVersion || Get32(h + 12) != kImageHeaderSize || Get32(h + 16) != kImageBlockSize) {
        error = "the image was written by an unknown version of the format";
        return false;
    }
    info.level = Get32(h + 24);
    info.partitionBytes = Get64(h + 32);
    info.partitionStart = Get64(h + 40);
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

bool ReadHeaderAndTrailer(int fd, uint64_t fileSize, ImageInfo& info, unsigned char trailer[kImageTrailerSize],
                          std::string& error) {
    unsigned char header[kImageHeaderSize];
    if (fileSize < kImageHeaderSize + kImageTrailerSize || !ReadFully(fd, header, kImageHeaderSize, 0)) {
        error = "the image file is too short to be an image";
        return false;
    }
    if (!DecodeHeader(header, info, error)) return false;
    if (!ReadFully(fd, trailer, kImageTrailerSize, fileSize - kImageTrailerSize)) {
        error = "the image file cannot be read";
        return false;
    }
    return DecodeTrailer(trailer, info, error);
}

// Walks every block of an image, checking it, and hands the raw bytes to sink when there is one.
bool WalkImage(const std::string& path, ImageInfo& info, bool checkAll,
               const std::function<bool(const unsigned char*, size_t)>* sink, const ProgressFn& progress,
               std::string& error) {
    Fd fd(open(path.c_str(), O_RDONLY));
    if (fd.get() < 0) {
        error = "the image file cannot be opened (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    off_t end = lseek(fd.get(), 0, SEEK_END);
    unsigned char trailer[kImageTrailerSize];
    if (!ReadHeaderAndTrailer(fd.get(), end > 0 ? static_cast<uint64_t>(end) : 0, info, trailer, error)) return false;
    uint64_t fileSize = static_cast<uint64_t>(end);
    uint64_t offset = kImageHeaderSize;
    uint64_t trailerAt = fileSize - kImageTrailerSize;
    Sha256 sha;
    std::vector<unsigned char> stored, raw(kImageBlockSize);
    uint64_t rawTotal = 0;
    for (uint64_t block = 0; block < info.blockCount; ++block) {
        unsigned char bh[kImageBlockHeaderSize];
        if (offset + kImageBlockHeaderSize > trailerAt || !ReadFully(fd.get(), bh, sizeof bh, offset)) {
            error = "the image is truncated (block " + std::to_string(block + 1) + " of " +
                    std::to_string(info.blockCount) + " is missing)";
            return false;
        }
        uint32_t method = Get32(bh + 4), storedSize = Get32(bh + 8), rawSize = Get32(bh + 12);
        if (std::memcmp(bh, kBlockMagic, 4) != 0 || rawSize == 0 || rawSize > kImageBlockSize ||
            storedSize > compressBound(kImageBlockSize) || (method != kMethodStored && method != kMethodDeflate) ||
            (method == kMethodStored && storedSize != rawSize)) {
            error = "the image is damaged (bad block header at block " + std::to_string(block + 1) + ")";
            return false;
        }
        if (offset + kImageBlockHeaderSize + storedSize > trailerAt) {
            error = "the image is truncated (block " + std::to_string(block + 1) + " is cut short)";
            return false;
        }
        stored.resize(storedSize);
        if (!ReadFully(fd.get(), stored.data(), storedSize, offset + kImageBlockHeaderSize)) {
            error = "the image file cannot be read at block " + std::to_string(block + 1);
            return false;
        }
        sha.Update(bh, sizeof bh);
        sha.Update(stored.data(), storedSize);
        if (Crc(stored.data(), storedSize) != Get32(bh + 16)) {
            error = "the image is damaged (checksum mismatch in block " + std::to_string(block + 1) + ")";
            return false;
        }
        const unsigned char* data = stored.data();
        if (method == kMethodDeflate && (checkAll || sink)) {
            uLongf outSize = kImageBlockSize;
            if (uncompress(raw.data(), &outSize, stored.data(), storedSize) != Z_OK || outSize != rawSize) {
                error = "the image is damaged (block " + std::to_string(block + 1) + " does not decompress)";
                return false;
            }
            data = raw.data();
        }
        if ((checkAll || sink) && Crc(data, rawSize) != Get32(bh + 20)) {
            error = "the image is damaged (content checksum mismatch in block " + std::to_string(block + 1) + ")";
            return false;
        }
        if (sink && !(*sink)(data, rawSize)) {
            error = "the image could not be written out";
            return false;
        }
        offset += kImageBlockHeaderSize + storedSize;
        rawTotal += rawSize;
        if (progress) progress(offset);
    }
    if (offset != trailerAt) {
        error = "the image has unexpected data after its last block";
        return false;
    }
    if (rawTotal != info.streamBytes) {
        error = "the image's sizes do not agree (header, blocks and end record differ)";
        return false;
    }
    uint8_t digest[32];
    sha.Final(digest);
    if (std::memcmp(digest, trailer + 24, 32) != 0) {
        error = "the image is damaged (SHA-256 mismatch)";
        return false;
    }
    info.sha256 = Sha256::Hex(digest);
    return true;
}

}  // namespace

ImageWriter::~ImageWriter() {
    if (fd_ >= 0) close(fd_);
    delete static_cast<Sha256*>(sha_);
}

bool ImageWriter::WriteOut(const void* data, size_t size, std::string& error) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size) {
        ssize_t n = write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = "the image file cannot be written (" + std::string(n < 0 ? std::strerror(errno) : "no room") + ")";
            return false;
        }
        p += n; size -= static_cast<size_t>(n);
    }
    return true;
}

bool ImageWriter::Append(const void* data, size_t size, std::string& error) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    out_.insert(out_.end(), p, p + size);
    return out_.size() < (4u << 20) || FlushOutput(false, error);
}

bool ImageWriter::FlushOutput(bool all, std::string& error) {
    constexpr uint64_t kAlign = 1u << 20;
    uint64_t end = outStart_ + out_.size();
    uint64_t cut = all ? end : end / kAlign * kAlign;
    if (cut <= outStart_) return true;
    size_t count = static_cast<size_t>(cut - outStart_);
    if (!WriteOut(out_.data(), count, error)) return false;
    out_.erase(out_.begin(), out_.begin() + static_cast<std::ptrdiff_t>(count));
    outStart_ = cut;
    return true;
}

bool ImageWriter::Create(const std::string& path, const ImageInfo& info, std::string& error) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        error = "the image file cannot be created (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    path_ = path;
    return Attach(fd, info, error);
}

bool ImageWriter::Attach(int fd, const ImageInfo& info, std::string& error) {
    fd_ = fd;
    info_ = info;
    info_.streamBytes = 0;
    info_.blockCount = 0;
    info_.createdUnix = static_cast<uint64_t>(std::time(nullptr));
    if (info_.level > 9) info_.level = 9;
    sha_ = new Sha256();
    unsigned char header[kImageHeaderSize];
    EncodeHeader(info_, header);
    offset_ = 0;
    outStart_ = 0;
    out_.reserve(8u << 20);
    raw_.reserve(kImageBlockSize);
    unsigned cores = std::thread::hardware_concurrency();
    batch_ = cores < 1 ? 1 : cores > 8 ? 8 : cores;
    if (!Append(header, sizeof header, error)) return false;
    offset_ = kImageHeaderSize;
    return true;
}

// Deflates a block unless a trial on its start shows it will not shrink (already compressed data).
void PackBlock(const std::vector<unsigned char>& raw, std::vector<unsigned char>& packed, bool& deflated, int level) {
    deflated = false;
    if (level <= 0) return;
    size_t trial = std::min<size_t>(raw.size(), 64 * 1024);
    if (raw.size() > 2 * trial) {
        std::vector<unsigned char> probe(compressBound(static_cast<uLong>(trial)));
        uLongf probeSize = probe.size();
        if (compress2(probe.data(), &probeSize, raw.data(), trial, 1) == Z_OK && probeSize > trial * 98 / 100) return;
    }
    packed.resize(compressBound(static_cast<uLong>(raw.size())));
    uLongf packedSize = packed.size();
    if (compress2(packed.data(), &packedSize, raw.data(), raw.size(), level) == Z_OK && packedSize < raw.size()) {
        packed.resize(packedSize);
        deflated = true;
    }
}

bool ImageWriter::FlushBlock(std::string& error) {
    if (!raw_.empty()) {
        pending_.push_back(Pending{});
        pending_.back().raw.swap(raw_);
        raw_.reserve(kImageBlockSize);
    }
    if (pending_.size() >= batch_) return WriteBatch(error);
    return true;
}

bool ImageWriter::WriteBatch(std::string& error) {
    int level = static_cast<int>(info_.level);
    std::vector<std::thread> workers;
    for (size_t i = 1; i < pending_.size(); ++i)
        workers.emplace_back([this, i, level] { PackBlock(pending_[i].raw, pending_[i].packed, pending_[i].deflated, level); });
    if (!pending_.empty()) PackBlock(pending_[0].raw, pending_[0].packed, pending_[0].deflated, level);
    for (std::thread& worker : workers) worker.join();
    for (Pending& block : pending_) {
        const std::vector<unsigned char>& data = block.deflated ? block.packed : block.raw;
        unsigned char bh[kImageBlockHeaderSize];
        std::memcpy(bh, kBlockMagic, 4);
        Put32(bh + 4, block.deflated ? kMethodDeflate : kMethodStored);
        Put32(bh + 8, static_cast<uint32_t>(data.size()));
        Put32(bh + 12, static_cast<uint32_t>(block.raw.size()));
        Put32(bh + 16, Crc(data.data(), data.size()));
        Put32(bh + 20, block.deflated ? Crc(block.raw.data(), block.raw.size()) : Get32(bh + 16));
        if (!Append(bh, sizeof bh, error) || !Append(data.data(), data.size(), error)) return false;
        Sha256* sha = static_cast<Sha256*>(sha_);
        sha->Update(bh, sizeof bh);
        sha->Update(data.data(), data.size());
        offset_ += sizeof bh + data.size();
        info_.streamBytes += block.raw.size();
        info_.blockCount += 1;
    }
    pending_.clear();
    return true;
}

bool ImageWriter::Write(const void* data, size_t size, std::string& error) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size) {
        size_t take = std::min(size, static_cast<size_t>(kImageBlockSize) - raw_.size());
        raw_.insert(raw_.end(), p, p + take);
        p += take; size -= take;
        if (raw_.size() == kImageBlockSize && !FlushBlock(error)) return false;
    }
    return true;
}

bool ImageWriter::Finish(ImageInfo& result, std::string& error) {
    if (!FlushBlock(error) || !WriteBatch(error)) return false;
    if (info_.blockCount == 0) {
        error = "the partition stream was empty";
        return false;
    }
    uint8_t digest[32];
    static_cast<Sha256*>(sha_)->Final(digest);
    unsigned char trailer[kImageTrailerSize] = {};
    std::memcpy(trailer, kTrailerMagic, 8);
    Put64(trailer + 8, info_.blockCount);
    Put64(trailer + 16, info_.streamBytes);
    std::memcpy(trailer + 24, digest, 32);
    Put32(trailer + 60, Crc(trailer, 60));
    if (!Append(trailer, sizeof trailer, error) || !FlushOutput(true, error)) return false;
    offset_ += sizeof trailer;
    struct stat st;
    if (fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && fsync(fd_) != 0) {
        error = "the image file could not be flushed to disk (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) {
        error = "the image file could not be closed (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    info_.sha256 = Sha256::Hex(digest);
    result = info_;
    return true;
}

void ImageWriter::Abandon() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    if (!path_.empty()) unlink(path_.c_str());
}

bool ReadImageHeader(const std::string& path, ImageInfo& info, std::string& error) {
    Fd fd(open(path.c_str(), O_RDONLY));
    if (fd.get() < 0) {
        error = "the image file cannot be opened (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    off_t end = lseek(fd.get(), 0, SEEK_END);
    unsigned char trailer[kImageTrailerSize];
    return ReadHeaderAndTrailer(fd.get(), end > 0 ? static_cast<uint64_t>(end) : 0, info, trailer, error);
}

bool VerifyImage(const std::string& path, ImageInfo& info, const ProgressFn& progress, std::string& error) {
    return WalkImage(path, info, true, nullptr, progress, error);
}

bool ReadImageStream(const std::string& path, const std::function<bool(const unsigned char*, size_t)>& sink,
                     const ProgressFn& progress, std::string& error) {
    ImageInfo info;
    return WalkImage(path, info, false, &sink, progress, error);
}

}  // namespace vorlane
