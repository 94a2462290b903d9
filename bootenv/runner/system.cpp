#include "system.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <optional>

#include "files.h"

namespace vorlane {
namespace {

int SerialFd() {
    static int fd = -2;
    if (fd == -2) {
        fd = open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios t;
            if (tcgetattr(fd, &t) == 0) {
                cfmakeraw(&t);
                cfsetspeed(&t, B115200);
                tcsetattr(fd, TCSANOW, &t);
            }
        }
    }
    return fd;
}

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            usleep(1000);
            continue;
        }
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

bool progressShown = false;
time_t lastSerialProgress = 0;

bool IsMounted(const std::string& dir) {
    std::ifstream mounts("/proc/self/mounts");
    std::string device, point, rest;
    while (mounts >> device >> point) {
        std::getline(mounts, rest);
        if (point == dir) return true;
    }
    return false;
}

bool MountedReadOnly(const std::string& dir) {
    struct statvfs st;
    return statvfs(dir.c_str(), &st) == 0 && (st.f_flag & ST_RDONLY);
}

// hiberfil.sys that starts with "hibr" holds a hibernated (or "fast start") system.
bool HibernationFileActive(const std::string& dir) {
    std::optional<std::string> name = FindEntryNoCase(dir, "hiberfil.sys");
    if (!name) return false;
    int fd = open((dir + "/" + *name).c_str(), O_RDONLY);
    if (fd < 0) return false;
    char head[4] = {};
    bool full = read(fd, head, 4) == 4;
    close(fd);
    return full && (std::memcmp(head, "hibr", 4) == 0 || std::memcmp(head, "HIBR", 4) == 0);
}

}  // namespace

void Say(const std::string& line) {
    std::string text = (progressShown ? "\n" : "") + line + "\n";
    progressShown = false;
    WriteAll(STDOUT_FILENO, text);
    int serial = SerialFd();
    if (serial >= 0 && !isatty(STDOUT_FILENO)) return;  // stdout already is the log (tests on a host)
    if (serial >= 0) WriteAll(serial, line + "\r\n");
}

void SayProgress(const std::string& line, bool force) {
    WriteAll(STDOUT_FILENO, "\r" + line + "\x1b[K");
    progressShown = true;
    time_t now = time(nullptr);
    int serial = SerialFd();
    if (serial >= 0 && (force || now - lastSerialProgress >= 5)) {
        WriteAll(serial, line + "\r\n");
        lastSerialProgress = now;
    }
}

bool WaitForKey(int seconds) {
    termios saved;
    bool tty = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {SerialFd(), POLLIN, 0}};
    int count = fds[1].fd >= 0 ? 2 : 1;
    bool key = false;
    time_t end = time(nullptr) + seconds;
    while (!key) {
        time_t now = time(nullptr);
        if (now >= end) break;
        SayProgress("Restarting in " + std::to_string(end - now) + " seconds (press a key to restart now)", false);
        int n = poll(fds, static_cast<nfds_t>(count), 1000);
        if (n > 0) {
            for (int i = 0; i < count; ++i)
                if (fds[i].revents & POLLIN) {
                    char c;
                    if (read(fds[i].fd, &c, 1) == 1) key = true;
                }
        }
    }
    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return key;
}

void Restart() {
    Say("Restarting.");
    sync();
    reboot(RB_AUTOBOOT);
    _exit(0);  // not PID 1 or not allowed: the start-up script restarts
}

std::string DetectFileSystem(const unsigned char s[512]) {
    auto at = [&](size_t offset, const char* text) { return std::memcmp(s + offset, text, std::strlen(text)) == 0; };
    if (at(3, "NTFS    ")) return "ntfs";
    if (at(3, "-FVE-FS-")) return "bitlocker";
    if (at(3, "EXFAT   ")) return "exfat";
    if (s[510] == 0x55 && s[511] == 0xAA && (at(0x52, "FAT32   ") || at(0x36, "FAT16   ") || at(0x36, "FAT12   ") ||
                                             at(0x36, "FAT     ")))
        return "fat";
    return "";
}

std::string DetectDeviceFileSystem(const std::string& device) {
    int fd = open(device.c_str(), O_RDONLY);
    if (fd < 0) return "";
    unsigned char sector[512];
    bool ok = pread(fd, sector, sizeof sector, 0) == static_cast<ssize_t>(sizeof sector);
    close(fd);
    return ok ? DetectFileSystem(sector) : "";
}

bool ReadDeviceSector(const std::string& device, uint64_t sector, unsigned char data[512]) {
    int fd = open(device.c_str(), O_RDONLY);
    if (fd < 0) return false;
    bool ok = pread(fd, data, 512, static_cast<off_t>(sector * 512)) == 512;
    close(fd);
    return ok;
}

bool WriteDeviceSector(const std::string& device, uint64_t sector, const unsigned char data[512]) {
    int fd = open(device.c_str(), O_WRONLY);
    if (fd < 0) return false;
    bool ok = pwrite(fd, data, 512, static_cast<off_t>(sector * 512)) == 512;
    if (fsync(fd) != 0) ok = false;
    if (close(fd) != 0) ok = false;
    return ok;
}

uint64_t DeviceBytes(const std::string& device) {
    int fd = open(device.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    uint64_t size = 0;
    if (ioctl(fd, BLKGETSIZE64, &size) != 0) {
        off_t end = lseek(fd, 0, SEEK_END);
        size = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
    close(fd);
    return size;
}

bool MountPartition(const std::string& device, const std::string& fileSystem, const std::string& dir,
                    bool readOnly, Mount& mount, int& failureCode, std::string& error) {
    failureCode = 0;
    mkdir(dir.c_str(), 0755);
    mount = Mount{device, dir, -1, readOnly};
    if (fileSystem == "fat") {
        unsigned long flags = readOnly ? MS_RDONLY : 0;
        if (::mount(device.c_str(), dir.c_str(), "vfat", flags, "shortname=mixed,utf8,codepage=936") == 0 ||
            ::mount(device.c_str(), dir.c_str(), "vfat", flags, "shortname=mixed") == 0)
            return true;
        error = std::string("the FAT file system cannot be mounted (") + std::strerror(errno) + ")";
        return false;
    }
    if (fileSystem != "ntfs") {
        error = "the file system is not NTFS or FAT";
        return false;
    }
    std::vector<std::string> argv = {"/bin/ntfs-3g", device, dir, "-o",
                                     std::string(readOnly ? "ro," : "") + "no_detach,silent,big_writes"};
    pid_t pid = StartProgram(argv, -1, -1, "/tmp/ntfs-3g.log");
    if (pid < 0) {
        error = "ntfs-3g cannot be started";
        return false;
    }
    // ntfs-3g stays in the foreground (no_detach): wait until the mount appears or the helper ends.
    for (int i = 0; i < 600; ++i) {
        if (IsMounted(dir)) {
            mount.helper = pid;
            if (readOnly || !MountedReadOnly(dir)) return true;
            // ntfs-3g falls back to read-only on a hibernated ("fast start") or unclean volume.
            bool hibernated = HibernationFileActive(dir);
            Unmount(mount);
            failureCode = hibernated ? 14 : 15;
            error = "ntfs-3g would mount it read-only only: " + LastLines("/tmp/ntfs-3g.log", 2);
            return false;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            failureCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
            error = "ntfs-3g refused the partition: " + LastLines("/tmp/ntfs-3g.log", 2);
            return false;
        }
        usleep(50000);
    }
    kill(pid, SIGTERM);
    WaitProgram(pid);
    error = "ntfs-3g did not mount the partition in time";
    return false;
}

bool Unmount(Mount& mount) {
    if (mount.dir.empty()) return true;
    sync();
    bool ok = umount(mount.dir.c_str()) == 0 || errno == EINVAL;
    if (!ok) ok = umount2(mount.dir.c_str(), MNT_DETACH) == 0;
    if (mount.helper > 0) {
        WaitProgram(mount.helper);  // ntfs-3g ends once everything is written
        mount.helper = -1;
    }
    sync();
    mount.dir.clear();
    return ok;
}

uint64_t UsedBytes(const std::string& dir) {
    struct statvfs st;
    if (statvfs(dir.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.f_blocks - st.f_bfree) * st.f_frsize;
}

pid_t StartProgram(const std::vector<std::string>& argv, int stdinFd, int stdoutFd, const std::string& logFile) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    int devnull = open("/dev/null", O_RDWR);
    dup2(stdinFd >= 0 ? stdinFd : devnull, STDIN_FILENO);
    dup2(stdoutFd >= 0 ? stdoutFd : devnull, STDOUT_FILENO);
    int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(log >= 0 ? log : devnull, STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) close(fd);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int WaitProgram(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 127;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string LastLines(const std::string& file, int count) {
    std::string content;
    ReadWholeFile(file, content, 1 << 20);
    std::vector<std::string> lines;
    std::string current;
    for (char c : content) {
        if (c == '\n' || c == '\r') {
            if (!current.empty()) lines.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    std::string text;
    for (size_t i = lines.size() > static_cast<size_t>(count) ? lines.size() - count : 0; i < lines.size(); ++i)
        text += (text.empty() ? "" : " / ") + lines[i];
    return text;
}

std::string NowText() {
    char buffer[64];
    time_t now = time(nullptr);
    strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", gmtime(&now));
    return buffer;
}

}  // namespace vorlane
