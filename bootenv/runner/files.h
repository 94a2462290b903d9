// File operations on a mounted Windows partition. Windows names ignore case, so every path is looked
// up one component at a time without regard to ASCII case.
#pragma once
#include <sys/types.h>

#include <optional>
#include <string>

namespace vorlane {

// The entry of dir whose name equals name ignoring case (its real name), if any.
std::optional<std::string> FindEntryNoCase(const std::string& dir, const std::string& name);

// Full path of an existing file or folder named by a backslash path below root.
std::optional<std::string> ResolveNoCase(const std::string& root, const std::string& windowsPath);

// Full path for a file to be written: existing folders matched ignoring case, missing ones created
// when create is true; the file keeps the real name of an existing entry, else the given name.
std::optional<std::string> ResolveForWriting(const std::string& root, const std::string& windowsPath, bool create);

// One read(2) that is retried when a signal interrupts it: bytes read, 0 at the end, -1 on an error.
ssize_t ReadRetrying(int fd, void* data, size_t size);

bool FileExists(const std::string& path);
bool ReadWholeFile(const std::string& path, std::string& content, size_t limit);
bool WriteWholeFile(const std::string& path, const std::string& content);
bool CopyFileTo(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
// Replaces to with from (rename over it).
bool MoveOver(const std::string& from, const std::string& to);

// Sets the Windows attributes (read-only 1, hidden 2, system 4) through ntfs-3g's extended attribute.
// Answers false where the file system does not carry them.
bool SetWindowsAttributes(const std::string& path, unsigned attributes);

}  // namespace vorlane
