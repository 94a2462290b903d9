#include "retry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "disk_layout.h"
#include "files.h"
#include "little_endian.h"

namespace vorlane {

const char* const kRetryFolder = "VLRETRY";

namespace {

const char* kShareDir = "/share/vorlane/retry";  // in the environment's own file system
const char* kEnvSignature = "# GRUB Environment Block\n";
const size_t kRecordBytes = 4096;
const size_t kBootCodeBytes = 440;       // up to the disk signature
const size_t kDriveCheckAt = 0x66;       // GRUB's MBR code: the jump that skips its hard-disk check
const size_t kKernelSectorAt = 0x5C;     // GRUB's MBR code: where its core starts (sector 1)

// ---- Whole sectors of a device, written through and read back ----

bool ReadDevice(const std::string& device, uint64_t sector, size_t count, std::string& data) {
    int fd = open(device.c_str(), O_RDONLY);
    if (fd < 0) return false;
    data.assign(count * 512, '\0');
    bool ok = pread(fd, &data[0], data.size(), static_cast<off_t>(sector * 512)) == static_cast<ssize_t>(data.size());
    close(fd);
    return ok;
}

bool WriteDevice(const std::string& device, uint64_t sector, const std::string& data) {
    int fd = open(device.c_str(), O_WRONLY);
    if (fd < 0) return false;
    bool ok = pwrite(fd, data.data(), data.size(), static_cast<off_t>(sector * 512)) == static_cast<ssize_t>(data.size());
    if (fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    return ok;
}

bool WriteDeviceChecked(const std::string& device, uint64_t sector, const std::string& data) {
    std::string back;
    return WriteDevice(device, sector, data) && ReadDevice(device, sector, data.size() / 512, back) && back == data;
}

std::string Join(const std::string& dir, const std::string& name) { return dir + "/" + name; }

bool RemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return RemoveFile(path);
    DIR* dir = opendir(path.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    bool ok = true;
    for (const std::string& name : names) ok = RemoveTree(Join(path, name)) && ok;
    return rmdir(path.c_str()) == 0 && ok;
}

std::vector<std::string> FolderNames(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Writes a file whole and reads it back.
bool PutFile(const std::string& path, const std::string& content) {
    std::string back;
    return WriteWholeFile(path, content) && ReadWholeFile(path, back, content.size() + 1) && back == content;
}

bool CopyChecked(const std::string& from, const std::string& to) {
    std::string a, b;
    const size_t limit = 256u << 20;
    return CopyFileTo(from, to) && ReadWholeFile(from, a, limit) && ReadWholeFile(to, b, limit) && a == b;
}

// Writes every file of the folder; false with the file's name in error.
bool WriteFolder(const RetryCopy& copy, const std::string& folder, const std::string& sector0,
                 const std::string& track, std::string& error) {
    if (mkdir(folder.c_str(), 0755) != 0 || mkdir(Join(folder, "i386-pc").c_str(), 0755) != 0) {
        error = "the folder " + std::string(kRetryFolder) + " cannot be made on the image's partition";
        return false;
    }
    const std::pair<const char*, std::string> files[] = {
        {"mbr.bin", sector0}, {"track.bin", track}, {"job", copy.job}, {"identity", copy.identity},
        {"retry.env", RetryRecord(copy.setTag, kRetryStarts, copy.geometry)}};
    for (const auto& file : files) {
        if (!PutFile(Join(folder, file.first), file.second)) {
            error = "the file " + std::string(file.first) + " of the retry folder cannot be written";
            return false;
        }
    }
    std::vector<std::pair<std::string, std::string>> copies = {
        {copy.bootImage, Join(folder, "boot.lsn")},
        {Join(kShareDir, "retry.cfg"), Join(folder, "retry.cfg")}};
    for (const std::string& module : FolderNames(Join(kShareDir, "i386-pc")))
        copies.push_back({Join(Join(kShareDir, "i386-pc"), module), Join(Join(folder, "i386-pc"), module)});
    for (const auto& pair : copies) {
        if (!CopyChecked(pair.first, pair.second)) {
            error = "the copy of " + pair.first + " in the retry folder is not whole";
            return false;
        }
    }
    return true;
}

}  // namespace

uint64_t FirstTrackRoom(const unsigned char sector0[512]) {
    MbrEntry entries[4];
    if (!ReadMbrEntries(sector0, entries)) return 0;
    uint64_t first = 0;
    for (const MbrEntry& entry : entries) {
        if (entry.type == 0) continue;
        if (entry.type == 0xEE) return 0;  // GPT: its own structures follow sector 0
        if (entry.start == 0) return 0;
        if (first == 0 || entry.start < first) first = entry.start;
    }
    return first > 1 ? first - 1 : 0;
}

bool MakeRetryBootSector(const unsigned char sector0[512], const std::string& bootImage, unsigned char out[512]) {
    const unsigned char* code = reinterpret_cast<const unsigned char*>(bootImage.data());
    if (bootImage.size() != 512 || code[510] != 0x55 || code[511] != 0xAA) return false;
    // GRUB's code starts with a short jump over its data and finds its core by the sector number at 5Ch.
    if (code[0] != 0xEB || Le(code + kKernelSectorAt, 8) != 1) return false;
    std::memcpy(out, sector0, 512);
    std::memcpy(out, code, kBootCodeBytes);
    // The jump that skips the check "DL is a hard disk, else take 80h" is taken out, as its installer
    // does for hard disks: some BIOSes hand over a floppy's number.
    if (out[kDriveCheckAt] == 0xEB) {
        out[kDriveCheckAt] = 0x90;
        out[kDriveCheckAt + 1] = 0x90;
    }
    return true;
}

void PutBackBootCode(const unsigned char saved[512], unsigned char current[512]) {
    std::memcpy(current, saved, kBootCodeBytes);
}

std::string RetryRecord(const std::string& setTag, unsigned starts, const DiskGeometry& geometry) {
    std::string text = kEnvSignature;
    const char* names[] = {"vl_a", "vl_b", "vl_c"};
    for (unsigned i = 0; i < 3; ++i) text += std::string(names[i]) + "=" + (i < starts ? "go" : "stop") + "\n";
    text += "vl_set=" + setTag + "\n";
    text += "vl_geometry=" + std::to_string(geometry.heads) + "/" + std::to_string(geometry.sectorsPerTrack) + "\n";
    text.resize(kRecordBytes, '#');
    return text;
}

std::optional<std::map<std::string, std::string>> ParseEnvironmentBlock(const std::string& bytes) {
    if (bytes.compare(0, std::strlen(kEnvSignature), kEnvSignature) != 0) return std::nullopt;
    std::map<std::string, std::string> values;
    size_t at = std::strlen(kEnvSignature);
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) break;  // the padding
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

unsigned StartsLeft(const std::map<std::string, std::string>& record) {
    unsigned left = 0;
    for (const char* name : {"vl_a", "vl_b", "vl_c"}) {
        auto it = record.find(name);
        if (it != record.end() && it->second == "go") ++left;
    }
    return left;
}

std::optional<DiskGeometry> RecordGeometry(const std::map<std::string, std::string>& record) {
    auto it = record.find("vl_geometry");
    if (it == record.end()) return std::nullopt;
    unsigned heads = 0, sectors = 0;
    char tail = 0;
    if (std::sscanf(it->second.c_str(), "%u/%u%c", &heads, &sectors, &tail) != 2) return std::nullopt;
    if (heads < 1 || heads > 256 || sectors < 1 || sectors > 63) return std::nullopt;
    DiskGeometry geometry;
    geometry.heads = static_cast<uint16_t>(heads);
    geometry.sectorsPerTrack = static_cast<uint16_t>(sectors);
    return geometry;
}

bool HasRetryFolder(const std::string& root) {
    return FileExists(Join(Join(root, kRetryFolder), "retry.env"));
}

bool InstallRetryPath(const RetryCopy& copy, const std::string& root, const std::string& diskDevice,
                      std::string& error) {
    std::string bootImage, core, sector0;
    if (!ReadWholeFile(Join(kShareDir, "boot.img"), bootImage, 4096) ||
        !ReadWholeFile(Join(kShareDir, "core-" + copy.imageFs + ".img"), core, 1 << 20)) {
        error = "the environment lacks its retry boot files";
        return false;
    }
    core.resize((core.size() + 511) / 512 * 512, '\0');
    uint64_t coreSectors = core.size() / 512;
    if (!ReadDevice(diskDevice, 0, 1, sector0)) {
        error = "the disk's first sector cannot be read";
        return false;
    }
    const unsigned char* first = reinterpret_cast<const unsigned char*>(sector0.data());
    uint64_t room = FirstTrackRoom(first);
    if (room < coreSectors) {
        error = "the disk has " + std::to_string(room) + " free sectors before its first partition, " +
                std::to_string(coreSectors) + " are needed";
        return false;
    }
    unsigned char retrySector[512];
    if (!MakeRetryBootSector(first, bootImage, retrySector)) {
        error = "the environment's MBR code is not what it should be";
        return false;
    }
    std::string track;
    if (!ReadDevice(diskDevice, 1, coreSectors, track)) {
        error = "the disk's first track cannot be read";
        return false;
    }
    std::string folder = Join(root, kRetryFolder);
    RemoveTree(folder);  // a stale folder of an earlier run
    if (!WriteFolder(copy, folder, sector0, track, error)) {
        RemoveTree(folder);
        return false;
    }
    sync();
    // The core first, then sector 0 that starts it: until sector 0 is written the disk starts as before.
    if (!WriteDeviceChecked(diskDevice, 1, core) ||
        !WriteDeviceChecked(diskDevice, 0, std::string(reinterpret_cast<const char*>(retrySector), 512))) {
        error = "the retry boot path cannot be written to the disk's first track";
        WriteDevice(diskDevice, 0, sector0);
        WriteDevice(diskDevice, 1, track);
        RemoveTree(folder);
        return false;
    }
    return true;
}

bool RemoveRetryPath(const std::string& root, const std::string& diskDevice, std::string& error) {
    std::string folder = Join(root, kRetryFolder);
    std::string saved, track, current;
    if (!ReadWholeFile(Join(folder, "mbr.bin"), saved, 4096) || saved.size() != 512 ||
        !ReadWholeFile(Join(folder, "track.bin"), track, 1 << 20) || track.empty() || track.size() % 512 != 0) {
        error = "the saved copy of the disk's first track is missing from " + std::string(kRetryFolder);
        return false;
    }
    if (!ReadDevice(diskDevice, 0, 1, current)) {
        error = "the disk's first sector cannot be read";
        return false;
    }
    unsigned char sector[512];
    std::memcpy(sector, current.data(), 512);
    PutBackBootCode(reinterpret_cast<const unsigned char*>(saved.data()), sector);
    // Sector 0 first: from then on the disk starts with its own code whatever happens to the rest.
    if (!WriteDeviceChecked(diskDevice, 0, std::string(reinterpret_cast<const char*>(sector), 512)) ||
        !WriteDeviceChecked(diskDevice, 1, track)) {
        error = "the disk's own first track cannot be written back";
        return false;
    }
    if (!RemoveTree(folder)) {
        error = "the disk's first track is back, but the folder " + std::string(kRetryFolder) + " could not be removed";
        return false;
    }
    sync();
    return true;
}

}  // namespace vorlane
