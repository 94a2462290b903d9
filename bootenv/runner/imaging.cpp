#include "imaging.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "progress.h"
#include "system.h"
#include "text.h"

namespace vorlane {
namespace {

const char* kCloneLog = "/tmp/partclone.log";

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
    std::string tool = CloneToolFor(request.fileSystem);
    ImageInfo info;
    info.partitionBytes = request.partitionBytes;
    info.partitionStart = request.partitionStart;
    info.usedBytes = request.usedBytes;
    info.level = static_cast<uint32_t>(request.level);
    info.streamKind = "partclone";
    info.fileSystem = request.fileSystem;
    ImageWriter writer;
    bool open = request.outputFd >= 0 ? writer.Attach(request.outputFd, info, error)
                                      : writer.Create(request.imagePath, info, error);
    if (!open) {
        writer.Abandon();
        return false;
    }
    if (tool.empty()) {
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
    unlink(kCloneLog);
    pid_t pid = StartProgram({tool, "-c", "-a0", "-q", "-s", request.device, "-o", "-", "-L", kCloneLog}, -1,
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
    std::vector<char> buffer(1 << 20);
    uint64_t done = 0;
    bool ok = true;
    double waiting = 0, packing = 0;
    for (;;) {
        double before = SteadySeconds();
        ssize_t n = read(pipeFds[0], buffer.data(), buffer.size());
        double after = SteadySeconds();
        waiting += after - before;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "reading from the imaging tool failed";
            ok = false;
            break;
        }
        if (n == 0) break;
        if (!writer.Write(buffer.data(), static_cast<size_t>(n), error)) {
            ok = false;
            break;
        }
        done += static_cast<uint64_t>(n);
        double now = SteadySeconds();
        packing += now - after;
        if (meter.Due(now)) {
            SayProgress(meter.Line(done > expected ? expected : done, now), false);
            meter.Shown(now);
        }
    }
    close(pipeFds[0]);
    int code = WaitProgram(pid);
    if (ok && code != 0) {
        error = "the imaging tool failed (exit " + std::to_string(code) + "): " + LastLines(kCloneLog, 3);
        ok = false;
    }
    if (!ok) {
        writer.Abandon();
        return false;
    }
    if (!writer.Finish(result, error)) {
        writer.Abandon();
        return false;
    }
    double now = SteadySeconds();
    SayProgress(meter.Line(expected, now), true);
    double seconds = meter.Elapsed(now);
    Say("Saved " + FormatBytes(static_cast<double>(done)) + " of partition data in " + FormatDuration(seconds) +
        " (" + FormatBytes(seconds > 0 ? done / seconds : 0) + "/s); image file " +
        FormatBytes(static_cast<double>(writer.FileBytes())) + ".");
    char split[96];
    std::snprintf(split, sizeof split, "Time waiting for the partition data %.1f s, packing and writing %.1f s.", waiting,
                  packing);
    Say(split);
    return true;
}

bool LoadPartition(const LoadRequest& request, ImageInfo& info, bool& targetWritten, std::string& error) {
    targetWritten = false;
    if (!ReadImageHeader(request.imagePath, info, error)) return false;
    if (!ImageFitsTarget(info, request.partitionBytes, error)) return false;
    // First pass: every checksum of the whole image, before the target is touched.
    uint64_t fileSize = 0;
    {
        int probe = open(request.imagePath.c_str(), O_RDONLY);
        if (probe >= 0) {
            off_t end = lseek(probe, 0, SEEK_END);
            fileSize = end > 0 ? static_cast<uint64_t>(end) : 0;
            close(probe);
        }
    }
    ProgressMeter checkMeter("Checking", fileSize, SteadySeconds());
    ProgressFn checkProgress = [&](uint64_t done) {
        double now = SteadySeconds();
        if (checkMeter.Due(now)) {
            SayProgress(checkMeter.Line(done, now), false);
            checkMeter.Shown(now);
        }
    };
    if (!VerifyImage(request.imagePath, info, checkProgress, error)) return false;
    SayProgress(checkMeter.Line(fileSize, SteadySeconds()), true);
    Say("The image is complete and undamaged (SHA-256 " + info.sha256.substr(0, 16) + "...).");

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        error = "no pipe for the imaging tool";
        return false;
    }
    unlink(kCloneLog);
    std::string tool = CloneToolFor(info.fileSystem);
    pid_t pid = StartProgram({tool, "-r", "-q", "-s", "-", "-o", request.device, "-L", kCloneLog}, pipeFds[0], -1,
                             "/tmp/partclone.err");
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
    bool streamed = ReadImageStream(request.imagePath, sink, nullptr, error);
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
