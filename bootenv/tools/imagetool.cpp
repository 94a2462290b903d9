// vorlane-imagetool: image files on a development machine.
//   verify FILE                      check every block, the sizes and the SHA-256
//   info FILE                        print the header
//   pack FILE FS PARTITION_BYTES [LEVEL] < stream   write a stream (e.g. from partclone) into an image
//   unpack FILE > stream             write the stream out again
//   dump DEVICE FS FILE [LEVEL]      the runner's dump: partclone's stream of DEVICE into FILE
//   load FILE DEVICE                 the runner's restore: FILE checked whole, then written onto DEVICE
// DEVICE may be a partition or a file holding a file system; partclone comes from PATH.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "image_file.h"
#include "imaging.h"
#include "progress.h"
#include "system.h"
#include "text.h"

using namespace vorlane;

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: vorlane-imagetool verify|info|pack|unpack FILE [FS PARTITION_BYTES [LEVEL]]\n"
                 "       vorlane-imagetool dump DEVICE FS FILE [LEVEL]\n"
                 "       vorlane-imagetool load FILE DEVICE\n");
    return 2;
}

void PrintInfo(const ImageInfo& info) {
    std::printf("file system: %s (%s stream)\n", info.fileSystem.c_str(), info.streamKind.c_str());
    std::printf("partition: %llu bytes; in use: %llu bytes\n", static_cast<unsigned long long>(info.partitionBytes),
                static_cast<unsigned long long>(info.usedBytes));
    std::printf("format version %u, blocks of %u bytes, %s level %u\n", info.version, info.blockSize,
                info.version == 1 ? "deflate" : "zstd", info.level);
    std::printf("stream: %llu bytes in %llu blocks; image file %llu bytes\n",
                static_cast<unsigned long long>(info.streamBytes), static_cast<unsigned long long>(info.blockCount),
                static_cast<unsigned long long>(info.fileBytes));
    if (!info.sha256.empty()) std::printf("sha256: %s\n", info.sha256.c_str());
}

// The partclone program for a file system, found on PATH (the host's, not the environment's /bin).
std::string HostCloneTool(const std::string& fileSystem) {
    std::string name = "partclone." + fileSystem;
    const char* path = std::getenv("PATH");
    std::string dirs = std::string(path ? path : "") + ":/usr/sbin:/sbin";
    size_t at = 0;
    while (at <= dirs.size()) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(at, end - at) + "/" + name;
        if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return name;
}

int Dump(const std::string& device, const std::string& fileSystem, const std::string& file, int level) {
    DumpRequest request;
    request.device = device;
    request.fileSystem = fileSystem;
    request.partitionBytes = DeviceBytes(device);
    request.imagePath = file;
    request.level = level;
    request.cloneTool = HostCloneTool(fileSystem);
    request.cloneTick = 0;  // no waiting for partclone's next progress tick at the end (benchmarks)
    ImageInfo info;
    std::string error;
    if (!DumpPartition(request, info, error)) {
        std::fprintf(stderr, "dump failed: %s\n", error.c_str());
        return 1;
    }
    PrintInfo(info);
    return 0;
}

int Load(const std::string& file, const std::string& device) {
    LoadRequest request;
    request.imagePath = file;
    request.device = device;
    request.partitionBytes = DeviceBytes(device);
    ImageInfo header;
    std::string error;
    if (ReadImageHeader(file, header, error)) request.cloneTool = HostCloneTool(header.fileSystem);
    request.cloneTick = 0;
    ImageInfo info;
    bool written = false;
    if (!LoadPartition(request, info, written, error)) {
        std::fprintf(stderr, "load failed (%s): %s\n", written ? "target written" : "target untouched", error.c_str());
        return 1;
    }
    return 0;
}


}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    std::string command = argv[1], path = argv[2];
    if (command == "dump") return argc < 5 ? Usage() : Dump(argv[2], argv[3], argv[4], argc > 5 ? std::atoi(argv[5]) : 3);
    if (command == "load") return argc < 4 ? Usage() : Load(argv[2], argv[3]);
    std::string error;
    ImageInfo info;
    if (command == "verify" || command == "info") {
        bool ok = command == "verify" ? VerifyImage(path, info, nullptr, error) : ReadImageHeader(path, info, error);
        if (!ok) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        PrintInfo(info);
        return 0;
    }
    if (command == "pack") {
        if (argc < 5) return Usage();
        info.fileSystem = argv[3];
        info.streamKind = "partclone";
        info.partitionBytes = std::strtoull(argv[4], nullptr, 10);
        info.level = argc > 5 ? static_cast<uint32_t>(std::atoi(argv[5])) : 1;
        ImageWriter writer;
        double start = SteadySeconds();
        if (!writer.Create(path, info, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::vector<char> buffer(1 << 20);
        uint64_t total = 0;
        for (;;) {
            ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
            if (n < 0) {
                writer.Abandon();
                return 1;
            }
            if (n == 0) break;
            if (!writer.Write(buffer.data(), static_cast<size_t>(n), error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                writer.Abandon();
                return 1;
            }
            total += static_cast<uint64_t>(n);
        }
        if (!writer.Finish(info, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            writer.Abandon();
            return 1;
        }
        double seconds = SteadySeconds() - start;
        std::fprintf(stderr, "packed %s in %.2f s (%s/s)\n", FormatBytes(static_cast<double>(total)).c_str(), seconds,
                     FormatBytes(seconds > 0 ? total / seconds : 0).c_str());
        PrintInfo(info);
        return 0;
    }
    if (command == "unpack") {
        auto sink = [](const unsigned char* data, size_t size) {
            return std::fwrite(data, 1, size, stdout) == size;
        };
        if (!ReadImageStream(path, sink, nullptr, error)) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), error.c_str());
            return 1;
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    return Usage();
}
