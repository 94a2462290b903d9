#include "imaging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "files.h"
#include "progress.h"
#include "system.h"
#include "text.h"

namespace vorlane {
namespace {

const char* kCloneLog = "/tmp/partclone.log";

// Pipes between the stages carry a megabyte at a time rather than the default 64 KiB.
void WidenPipe(int fd) { fcntl(fd, F_SETPIPE_SZ, 1 << 20); }

}  // namespace

std::string CloneToolFor(const std::string& fileSystem) {
    if (fileSystem == "ntfs") return "/bin/partclone.ntfs";
    if (fileSystem == "fat") return "/bin/partclone.fat";
    return "";
}

int CompressionLevel(int ghostLevel) {
    if (ghostLevel < 0) return 1;
    if (ghostLevel > 9) return 9;
    return ghostLevel;
}

uint64_t ImageVolumeBytes(const std::string& fileSystem, uint64_t splitBytes) {
    uint64_t volume = fileSystem == "fat" ? kFatVolumeBytes : 0;
    if (splitBytes == 0) return volume;
    splitBytes = std::max<uint64_t>(splitBytes, kSmallestVolume);
    return volume == 0 ? std::min<uint64_t>(splitBytes, kLargestVolume) : std::min(volume, splitBytes);
}

bool ImageFitsTarget(const ImageInfo& info, uint64_t targetBytes, std::string& error) {
    if (CloneToolFor(info.fileSystem).empty() || info.streamKind != "partclone") {
        error = "the image holds a file system this environment cannot write (" + info.fileSystem + ")";
        return false;
    }
    if (targetBytes < info.partitionBytes) {
        error = "the target partition (" + FormatBytes(static_cast<double>(targetBytes)) +
                ") is smaller than the partition in the image (" + FormatBytes(static_cast<double>(info.partitionBytes)) + ")";
        return false;
    }
    return true;
}

bool DumpPartition(const DumpRequest& request, ImageInfo& result, std::string& error) {
    std::string tool = request.cloneTool.empty() ? CloneToolFor(request.fileSystem) : request.cloneTool;
    ImageInfo info;
    info.partitionBytes = request.partitionBytes;
    info.partitionStart = request.partitionStart;
    info.usedBytes = request.usedBytes;
    info.level = static_cast<uint32_t>(request.level);
    info.streamKind = "partclone";
    info.fileSystem = request.fileSystem;
    info.volumeBytes = request.outputFd >= 0 ? 0 : request.volumeBytes;
    if (request.outputFd >= 0) WidenPipe(request.outputFd);
    ImageWriter writer;
    bool open = request.outputFd >= 0 ? writer.Attach(request.outputFd, info, error)
                                      : writer.Create(request.imagePath, info, error);
    if (!open) {
        writer.Abandon();
        return false;
    }
    if (CloneToolFor(request.fileSystem).empty()) {
        writer.Abandon();
        error = "this environment cannot image a partition of kind \"" + request.fileSystem + "\"";
        return false;
    }
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        writer.Abandon();
        error = "no pipe for the imaging tool";
        return false;
    }
    WidenPipe(pipeFds[0]);
    unlink(kCloneLog);
    pid_t pid = StartProgram({tool, "-c", "-a0", "-q", "-f", std::to_string(request.cloneTick), "-s", request.device, "-o",
                              "-", "-L", kCloneLog}, -1,
                             pipeFds[1], "/tmp/partclone.err");
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        writer.Abandon();
        error = "the imaging tool cannot be started";
        return false;
    }
    // The stream holds the used blocks plus partclone's header and bitmap.
    uint64_t expected = request.usedBytes + request.partitionBytes / 4096 / 8 + 4096;
    ProgressMeter meter("Saving", expected, SteadySeconds());
    ProgressFn progress = [&](uint64_t done) {
        double now = SteadySeconds();
        if (meter.Due(now)) {
            SayProgress(meter.Line(done > expected ? expected : done, now), false);
            meter.Shown(now);
        }
    };
    // Partclone's output goes straight into the image's blocks; packing, writing and hashing run behind.
    uint64_t done = 0;
    bool ok = writer.WriteFrom(pipeFds[0], done, progress, error);
    close(pipeFds[0]);
    int code = WaitProgram(pid);
    if (ok && code != 0) {
        error = "the imaging tool failed (exit " + std::to_string(code) + "): " + LastLines(kCloneLog, 3);
        ok = false;
    }
    if (!ok || !writer.Finish(result, error)) {
        writer.Abandon();
        return false;
    }
    double now = SteadySeconds();
    SayProgress(meter.Line(expected, now), true);
    double seconds = meter.Elapsed(now);
    Say("Saved " + FormatBytes(static_cast<double>(done)) + " of partition data in " + FormatDuration(seconds) +
        " (" + FormatBytes(seconds > 0 ? done / seconds : 0) + "/s); image file " +
        FormatBytes(static_cast<double>(writer.FileBytes())) + ".");
    return true;
}

namespace {

// Reads a file (or the volumes of a split image, one after the other) on an unmounted NTFS partition
// through the helper that uses ntfs-3g's library: one sequential read with no FUSE round trips.
class NtfsFileSource : public ImageSource {
public:
    NtfsFileSource(const std::string& device, const std::vector<std::string>& inside, uint64_t size)
        : device_(device), inside_(inside), size_(size) {}
    ~NtfsFileSource() override {
        std::string ignored;
        Close(false, ignored);
    }
    bool Open(std::string& error) override {
        next_ = 0;
        failure_.clear();
        return Start(error);
    }
    ssize_t Read(void* data, size_t size) override {
        for (;;) {
            ssize_t n = ReadRetrying(fd_, data, size);
            if (n != 0 || next_ >= inside_.size()) return n;
            // One volume read whole: its helper must have ended well before the next one starts.
            if (!Close(true, failure_) || !Start(failure_)) return -1;
        }
    }
    bool Close(bool complete, std::string& error) override {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        if (pid_ < 0) {
            if (complete && !failure_.empty()) error = failure_;
            return failure_.empty() || !complete;
        }
        int code = WaitProgram(pid_);  // stopped early, it ends on the closed pipe
        pid_ = -1;
        if (complete && code != 0) {
            error = "the image file could not be read: " + LastLines(kReadLog, 1);
            return false;
        }
        return true;
    }
    uint64_t Size() const override { return size_; }

private:
    static constexpr const char* kNtfsRead = "/bin/vorlane-ntfsread";
    static constexpr const char* kReadLog = "/tmp/ntfsread.log";

    bool Start(std::string& error) {
        if (next_ >= inside_.size()) {
            error = "no image file named";
            return false;
        }
        int fds[2];
        if (pipe(fds) != 0) {
            error = "no pipe for reading the image";
            return false;
        }
        WidenPipe(fds[0]);
        unlink(kReadLog);
        pid_ = StartProgram({kNtfsRead, device_, inside_[next_++]}, -1, fds[1], kReadLog);
        close(fds[1]);
        if (pid_ < 0) {
            close(fds[0]);
            error = "the program that reads the image cannot be started";
            return false;
        }
        fd_ = fds[0];
        return true;
    }

    std::string device_;
    std::vector<std::string> inside_;
    uint64_t size_;
    size_t next_ = 0;
    std::string failure_;  // why reading went wrong between two volumes
    int fd_ = -1;
    pid_t pid_ = -1;
};

std::unique_ptr<ImageSource> SourceFor(const LoadRequest& request) {
    if (!request.imageDevice.empty())
        return std::unique_ptr<ImageSource>(new NtfsFileSource(request.imageDevice, request.imageInside, request.imageBytes));
    return FileImageSource(request.imagePath);
}

}  // namespace

bool LoadPartition(const LoadRequest& request, ImageInfo& info, bool& targetWritten, std::string& error) {
    targetWritten = false;
    std::unique_ptr<ImageSource> source = SourceFor(request);
    bool header = request.imageDevice.empty() ? ReadImageHeader(request.imagePath, info, error)
                                              : ReadImageHeader(*source, info, error);
    if (!header || !ImageFitsTarget(info, request.partitionBytes, error)) return false;
    // First pass: every stored byte of the whole image against its checksums and the SHA-256, before the
    // target is touched.
    uint64_t fileSize = info.fileBytes ? info.fileBytes : request.imageBytes;
    ProgressMeter checkMeter("Checking", fileSize, SteadySeconds());
    ProgressFn checkProgress = [&](uint64_t done) {
        double now = SteadySeconds();
        if (checkMeter.Due(now)) {
            SayProgress(checkMeter.Line(done, now), false);
            checkMeter.Shown(now);
        }
    };
    if (!VerifyImage(*source, info, checkProgress, error)) return false;
    SayProgress(checkMeter.Line(fileSize, SteadySeconds()), true);
    Say("The image is complete and undamaged (SHA-256 " + info.sha256.substr(0, 16) + "...).");

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        error = "no pipe for the imaging tool";
        return false;
    }
    WidenPipe(pipeFds[1]);
    unlink(kCloneLog);
    std::string tool = request.cloneTool.empty() ? CloneToolFor(info.fileSystem) : request.cloneTool;
    // A file standing for a partition (tests, benchmarks) is one partclone must be told to overwrite.
    struct stat target;
    bool file = stat(request.device.c_str(), &target) == 0 && S_ISREG(target.st_mode);
    pid_t pid = StartProgram({tool, "-r", "-q", "-f", std::to_string(request.cloneTick), "-s", "-", file ? "-O" : "-o",
                              request.device, "-L", kCloneLog},
                             pipeFds[0], -1, "/tmp/partclone.err");
    close(pipeFds[0]);
    if (pid < 0) {
        close(pipeFds[1]);
        error = "the imaging tool cannot be started";
        return false;
    }
    targetWritten = true;
    ProgressMeter meter("Restoring", info.streamBytes, SteadySeconds());
    uint64_t done = 0;
    bool writeFailed = false;
    auto sink = [&](const unsigned char* data, size_t size) {
        size_t written = 0;
        while (written < size) {
            ssize_t n = write(pipeFds[1], data + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                writeFailed = true;
                return false;
            }
            written += static_cast<size_t>(n);
        }
        done += size;
        double now = SteadySeconds();
        if (meter.Due(now)) {
            SayProgress(meter.Line(done, now), false);
            meter.Shown(now);
        }
        return true;
    };
    // Second pass: each block decompressed once, its content checked, and streamed into partclone.
    bool streamed = ReadImageStream(*source, sink, nullptr, error);
    close(pipeFds[1]);
    int code = WaitProgram(pid);
    if (!streamed || code != 0) {
        std::string tail = LastLines(kCloneLog, 3);
        if (writeFailed || streamed) error = "the imaging tool failed (exit " + std::to_string(code) + "): " + tail;
        return false;
    }
    double now = SteadySeconds();
    SayProgress(meter.Line(info.streamBytes, now), true);
    double seconds = meter.Elapsed(now);
    Say("Restored " + FormatBytes(static_cast<double>(done)) + " in " + FormatDuration(seconds) + " (" +
        FormatBytes(seconds > 0 ? done / seconds : 0) + "/s).");
    return true;
}

}  // namespace vorlane
