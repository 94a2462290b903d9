// The running system's edges: the screen (and the serial port, for logs), keys, processes, mounts,
// block devices and the restart.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vorlane {

// Lines for the person watching: written to the console and copied to the first serial port.
void Say(const std::string& line);
// A progress line that replaces itself on the screen; the serial copy gets one line every few seconds.
void SayProgress(const std::string& line, bool force);
// Waits for a key on the console (or the serial port) for at most seconds; answers whether one came.
bool WaitForKey(int seconds);
[[noreturn]] void Restart();

// File system kind from a partition's first sector: "ntfs", "fat", "exfat", "bitlocker" or "".
std::string DetectFileSystem(const unsigned char sector[512]);
std::string DetectDeviceFileSystem(const std::string& device);
uint64_t DeviceBytes(const std::string& device);
// One 512-byte sector of a device (or file) by number; the write is flushed to the device.
bool ReadDeviceSector(const std::string& device, uint64_t sector, unsigned char data[512]);
bool WriteDeviceSector(const std::string& device, uint64_t sector, const unsigned char data[512]);

struct Mount {
    std::string device;
    std::string dir;
    pid_t helper = -1;  // ntfs-3g process serving the mount
    bool readOnly = true;
};

// Mounts an NTFS or FAT partition at dir. For NTFS the answer carries ntfs-3g's exit code in
// failureCode when it refused (14 hibernated, 15 not cleanly unmounted, ...).
bool MountPartition(const std::string& device, const std::string& fileSystem, const std::string& dir,
                    bool readOnly, Mount& mount, int& failureCode, std::string& error);
// Unmounts and waits until everything is on the disk.
bool Unmount(Mount& mount);
uint64_t UsedBytes(const std::string& dir);

// Starts a program with stdin/stdout connected to the given descriptors (-1 keeps /dev/null) and its
// messages in logFile.
pid_t StartProgram(const std::vector<std::string>& argv, int stdinFd, int stdoutFd, const std::string& logFile);
int WaitProgram(pid_t pid);  // exit code, or 128+signal
std::string LastLines(const std::string& file, int count);
std::string NowText();

}  // namespace vorlane
