#include "files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "text.h"

namespace vorlane {

ssize_t ReadRetrying(int fd, void* data, size_t size) {
    for (;;) {
        ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}
namespace {

std::vector<std::string> SplitPath(const std::string& windowsPath) {
    std::vector<std::string> parts;
    std::string current;
    for (char c : windowsPath) {
        if (c == '\\' || c == '/') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::optional<std::string> FindEntryNoCase(const std::string& dir, const std::string& name) {
    DIR* d = opendir(dir.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* entry = readdir(d)) {
        std::string entryName = entry->d_name;
        if (entryName == name) {
            found = entryName;
            break;
        }
        if (!found && EqualsNoCase(entryName, name)) found = entryName;
    }
    closedir(d);
    return found;
}

std::optional<std::string> ResolveNoCase(const std::string& root, const std::string& windowsPath) {
    std::string path = root;
    for (const std::string& part : SplitPath(windowsPath)) {
        if (part == "." || part == "..") return std::nullopt;
        std::optional<std::string> real = FindEntryNoCase(path, part);
        if (!real) return std::nullopt;
        path += "/" + *real;
    }
    return path;
}

std::optional<std::string> ResolveForWriting(const std::string& root, const std::string& windowsPath, bool create) {
    std::vector<std::string> parts = SplitPath(windowsPath);
    if (parts.empty()) return std::nullopt;
    std::string path = root;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (parts[i] == "." || parts[i] == "..") return std::nullopt;
        std::optional<std::string> real = FindEntryNoCase(path, parts[i]);
        if (real) {
            path += "/" + *real;
            if (!IsDirectory(path)) return std::nullopt;
            continue;
        }
        if (!create) return std::nullopt;
        path += "/" + parts[i];
        if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return std::nullopt;
    }
    const std::string& leaf = parts.back();
    if (leaf == "." || leaf == "..") return std::nullopt;
    std::optional<std::string> real = FindEntryNoCase(path, leaf);
    return path + "/" + (real ? *real : leaf);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadWholeFile(const std::string& path, std::string& content, size_t limit) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    content.clear();
    char buffer[4096];
    bool ok = true;
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
        if (content.size() > limit) { ok = false; break; }
    }
    close(fd);
    return ok;
}

bool WriteWholeFile(const std::string& path, const std::string& content) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    size_t done = 0;
    bool ok = true;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) { ok = false; break; }
        done += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    return ok;
}

bool CopyFileTo(const std::string& from, const std::string& to) {
    int in = open(from.c_str(), O_RDONLY);
    if (in < 0) return false;
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) {
        close(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) { ok = false; break; }
        if (n == 0) break;
        ssize_t done = 0;
        while (done < n) {
            ssize_t w = write(out, buffer.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) { ok = false; break; }
            done += w;
        }
        if (!ok) break;
    }
    if (fsync(out) != 0) ok = false;
    close(in);
    if (close(out) != 0) ok = false;
    return ok;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

bool MoveOver(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) == 0) return true;
    // Some file systems refuse to rename over an existing file: remove it first.
    if (unlink(to.c_str()) != 0 && errno != ENOENT) return false;
    return rename(from.c_str(), to.c_str()) == 0;
}

bool SetWindowsAttributes(const std::string& path, unsigned attributes) {
    std::string current;
    unsigned char value[4];
    if (getxattr(path.c_str(), "system.ntfs_attrib_be", value, sizeof value) != 4) return false;
    unsigned old = (unsigned(value[0]) << 24) | (unsigned(value[1]) << 16) | (unsigned(value[2]) << 8) | value[3];
    unsigned updated = (old & ~7u) | (attributes & 7u);
    for (int i = 0; i < 4; ++i) value[i] = static_cast<unsigned char>(updated >> (24 - 8 * i));
    return setxattr(path.c_str(), "system.ntfs_attrib_be", value, sizeof value, 0) == 0;
}

}  // namespace vorlane
