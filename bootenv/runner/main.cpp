// The job runner of the imaging environment: finds the set's marker and job on the disks, does what the
// boot-time contract asks of the set, runs the Ghost command of the job's first line with our imaging
// engine and restarts. Every failure is shown on the screen and written to the error file on the system
// drive, with the boot configuration put back and the job removed so that the next start is Windows'.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "codepage.h"
#include "contract.h"
#include "disk_layout.h"
#include "imaging.h"
#include "files.h"
#include "ghost_command.h"
#include "system.h"
#include "text.h"

namespace vorlane {
namespace {

const char* kSystemDir = "/mnt/system";
const char* kOtherDir = "/mnt/image";
const char* kProbeDir = "/mnt/probe";
const char* kRamDrive = "/tmp/a";

class Runner {
public:
    explicit Runner(const BootSet& set) : set_(set) {}
    void Run();

private:
    bool FindSystemPartition();
    bool MountSystem(bool readOnly, std::string& error);
    void Execute(const JobFile& job);
    void DumpJob(const GhostCommand& command);
    void LoadJob(const GhostCommand& command);
    [[noreturn]] void Fail(const std::string& reason, bool targetWritten);
    [[noreturn]] void Finish();
    const PartitionInfo& Part(const PartitionRef& ref) const { return disks_[ref.disk].partitions[ref.partition]; }
    bool Resolve(const GhostAddress& address, PartitionRef& ref);
    bool IsSystem(const PartitionRef& ref) const { return ref == system_; }

    BootSet set_;
    std::vector<DiskInfo> disks_;
    PartitionRef system_;
    std::string systemFs;
    Mount systemMount_;
    bool haveSystem_ = false;
    std::string jobText_ = "(not read)";
    std::string errorFile_ = "GHOSTERR.TXT";
    std::vector<std::string> actions_;
};

void Runner::Run() {
    Say("Vorlane imaging environment, set " + set_.tag + " (" + set_.imageName + ", job " + set_.jobName + ")");
    for (int attempt = 0; attempt < 10; ++attempt) {
        disks_ = ScanDisks();
        if (FindSystemPartition()) break;
        sleep(1);  // USB and slow controllers may still be coming up
    }
    if (!haveSystem_) {
        Say("The boot image " + set_.imageName + " was not found on any hard disk partition; there is nothing to do.");
        WaitForKey(60);
        Restart();
    }
    const PartitionInfo& system = Part(system_);
    Say("System drive: disk " + disks_[system_.disk].name + ", " + system.device + " (" + systemFs + ")");
    std::string error;
    int code = 0;
    if (!MountPartition(system.device, systemFs, kSystemDir, false, systemMount_, code, error)) {
        // Hibernated, "fast start" or not cleanly shut down: nothing may be written to it.
        std::string reason = code == 14 ? "Windows on the system drive is hibernated (or shut down with fast start)"
                           : code == 15 ? "the system drive was not shut down cleanly (its file system is marked in use)"
                                        : "the system drive cannot be written: " + error;
        Say("FAILED: " + reason + ".");
        Say("Nothing was written. Choose Windows in the boot menu, let it start and restart it normally;");
        Say("the job then runs on the next start.");
        WaitForKey(60);
        Restart();
    }
    std::optional<std::string> jobPath = FindJob(kSystemDir, set_);
    if (!jobPath) {
        Say("No job file " + set_.jobName + " is waiting on the system drive; nothing to do.");
        Unmount(systemMount_);
        Finish();
    }
    std::string bytes;
    if (!ReadWholeFile(*jobPath, bytes, 64 * 1024)) Fail("the job file " + set_.jobName + " cannot be read", false);
    std::string parseError;
    // Paths in the job are in the Windows code page; the mounted file systems name files in UTF-8.
    std::string text = Cp936ToUtf8(bytes.substr(0, bytes.find('\0')));
    std::optional<JobFile> job = ParseJobFile(text, parseError);
    jobText_ = Trim(text.substr(0, text.find_first_of("\r\n")));
    if (!job) Fail("the job file " + set_.jobName + " is not readable: " + parseError, false);
    errorFile_ = BaseName(job->command.errorFile);
    Say("Job: " + jobText_);
    mkdir(kRamDrive, 0755);
    TakeGhostExtras(kSystemDir, kRamDrive, actions_);
    Execute(*job);
}

bool Runner::FindSystemPartition() {
    // The last partition in drive-letter order whose root holds the set's boot image.
    haveSystem_ = false;
    for (const PartitionRef& ref : DosLetterOrder(disks_)) {
        const PartitionInfo& part = Part(ref);
        std::string fs = DetectDeviceFileSystem(part.device);
        if (fs != "ntfs" && fs != "fat") continue;
        Mount probe;
        int code = 0;
        std::string error;
        if (!MountPartition(part.device, fs, kProbeDir, true, probe, code, error)) continue;
        bool marker = HasMarker(kProbeDir, set_);
        Unmount(probe);
        if (marker) {
            system_ = ref;
            systemFs = fs;
            haveSystem_ = true;
        }
    }
    return haveSystem_;
}

bool Runner::MountSystem(bool readOnly, std::string& error) {
    if (!systemMount_.dir.empty()) return true;
    int code = 0;
    return MountPartition(Part(system_).device, systemFs, kSystemDir, readOnly, systemMount_, code, error);
}

bool Runner::Resolve(const GhostAddress& address, PartitionRef& ref) {
    std::string error;
    if (!ResolveAddress(disks_, system_.disk, address, ref, error))
        Fail("the job names " + DescribeAddress(address) + ", but " + error, false);
    return true;
}

void Runner::Execute(const JobFile& job) {
    const GhostCommand& command = job.command;
    if (command.mode == CloneMode::PartitionToImage) DumpJob(command);
    else LoadJob(command);
    if (!EqualsNoCase(job.secondLine, "restart") && !job.secondLine.empty())
        Say("The job's second line \"" + job.secondLine + "\" is not known; restarting.");
    Finish();
}

void Runner::DumpJob(const GhostCommand& command) {
    PartitionRef source, target;
    Resolve(command.source, source);
    Resolve(command.target, target);
    const PartitionInfo& sourcePart = Part(source);
    const PartitionInfo& targetPart = Part(target);
    Say("Backup: partition " + DescribeAddress(command.source) + " (" + sourcePart.device + ") into " +
        DescribeAddress(command.target) + " (on " + targetPart.device + ")");
    if (source == target) Fail("the image file would lie on the partition being saved", false);
    std::string sourceFs = IsSystem(source) ? systemFs : DetectDeviceFileSystem(sourcePart.device);
    if (sourceFs == "bitlocker") Fail("the partition to save is encrypted with BitLocker", false);
    if (CloneToolFor(sourceFs).empty()) Fail("the partition to save holds no NTFS or FAT file system", false);
    std::string targetFs = IsSystem(target) ? systemFs : DetectDeviceFileSystem(targetPart.device);
    if (targetFs != "ntfs" && targetFs != "fat") Fail("the drive for the image holds no NTFS or FAT file system", false);

    // The backup set's own preparation of the system drive (contract step 6), before the dump.
    if (set_.backup && !PrepareBackupSource(kSystemDir, set_, actions_))
        Say("Warning: the saved boot configuration could not be put back completely.");
    for (const std::string& action : actions_) Say("  " + action);

    uint64_t used = 0;
    std::string error;
    int code = 0;
    if (IsSystem(source)) {
        used = UsedBytes(kSystemDir);
    } else {
        Mount probe;
        if (!MountPartition(sourcePart.device, sourceFs, kProbeDir, true, probe, code, error))
            Fail("the partition to save cannot be read: " + error, false);
        used = UsedBytes(kProbeDir);
        Unmount(probe);
    }
    // The partition being saved must not be mounted while it is read.
    if (IsSystem(source)) Unmount(systemMount_);
    Mount targetMount;
    const char* targetDir = IsSystem(target) ? kSystemDir : kOtherDir;
    if (IsSystem(target)) {
        if (!MountSystem(false, error)) Fail("the drive for the image cannot be written: " + error, false);
    } else if (!MountPartition(targetPart.device, targetFs, kOtherDir, false, targetMount, code, error)) {
        Fail("the drive for the image cannot be written: " + error, false);
    }
    Mount& targetMountRef = IsSystem(target) ? systemMount_ : targetMount;
    std::optional<std::string> imagePath = ResolveForWriting(targetDir, command.target.path, true);
    if (!imagePath) {
        Unmount(targetMountRef);
        Fail("the folder for the image file " + command.target.path + " cannot be made", false);
    }
    // Written under a temporary name: an older image stays until the new one is complete.
    std::string partial = *imagePath + ".partial";
    RemoveFile(partial);
    DumpRequest request;
    request.device = sourcePart.device;
    request.fileSystem = sourceFs;
    request.partitionBytes = sourcePart.sizeSectors * 512;
    request.partitionStart = sourcePart.startSector * 512;
    request.usedBytes = used;
    request.imagePath = partial;
    request.level = CompressionLevel(command.compression);
    // On NTFS the file is stored through ntfs-3g's library by a helper, with the partition unmounted:
    // through the FUSE mount every 4 KiB costs a round of metadata updates.
    pid_t store = -1;
    if (targetFs == "ntfs") {
        std::string inside = partial.substr(std::string(targetDir).size());
        Unmount(targetMountRef);
        int pipeFds[2];
        if (pipe(pipeFds) != 0) Fail("no pipe for storing the image", false);
        unlink("/tmp/ntfswrite.log");
        store = StartProgram({"/bin/vorlane-ntfswrite", targetPart.device, inside}, pipeFds[0], -1, "/tmp/ntfswrite.log");
        close(pipeFds[0]);
        if (store < 0) {
            close(pipeFds[1]);
            Fail("the program that stores the image cannot be started", false);
        }
        request.outputFd = pipeFds[1];
    }
    ImageInfo result;
    Say("Saving " + FormatBytes(static_cast<double>(used)) + " in use on " + sourcePart.device + " (compression level " +
        std::to_string(request.level) + ")");
    bool ok = DumpPartition(request, result, error);
    if (store > 0) {
        int stored = WaitProgram(store);
        if (stored != 0) {
            std::string why = LastLines("/tmp/ntfswrite.log", 1);
            if (ok) error = "the image file could not be stored: " + why;
            else error += " (" + why + ")";
            ok = false;
        }
        // Mounted again to give the file its name (or to remove what was stored).
        std::string mountError;
        bool mounted = IsSystem(target) ? MountSystem(false, mountError)
                                        : MountPartition(targetPart.device, targetFs, kOtherDir, false, targetMount, code,
                                                         mountError);
        if (!mounted) {
            if (ok) error = "the image was stored but cannot be named: " + mountError;
            ok = false;
        }
    }
    if (ok && !MoveOver(partial, *imagePath)) {
        ok = false;
        error = "the finished image could not be given its name";
    }
    if (!ok) RemoveFile(partial);
    Unmount(targetMount);
    if (IsSystem(target)) Unmount(systemMount_);
    if (!ok) Fail(error, false);
    Say("Image written: " + command.target.path + " (SHA-256 " + result.sha256.substr(0, 16) + "...)");
}

void Runner::LoadJob(const GhostCommand& command) {
    PartitionRef source, target;
    Resolve(command.source, source);
    Resolve(command.target, target);
    const PartitionInfo& sourcePart = Part(source);
    const PartitionInfo& targetPart = Part(target);
    Say("Restore: image " + DescribeAddress(command.source) + " (on " + sourcePart.device + ") onto partition " +
        DescribeAddress(command.target) + " (" + targetPart.device + ")");
    if (command.source.imagePartition != 1)
        Fail("the image holds one partition; partition " + std::to_string(command.source.imagePartition) +
             " inside it does not exist", false);
    if (source == target) Fail("the image file lies on the partition it would overwrite", false);
    std::string targetFs = IsSystem(target) ? systemFs : DetectDeviceFileSystem(targetPart.device);
    if (targetFs == "bitlocker") Fail("the target partition is encrypted with BitLocker", false);
    std::string sourceFs = IsSystem(source) ? systemFs : DetectDeviceFileSystem(sourcePart.device);
    std::string error;
    int code = 0;
    Mount imageMount;
    const char* imageDir = IsSystem(source) ? kSystemDir : kOtherDir;
    if (!IsSystem(source) && !MountPartition(sourcePart.device, sourceFs, kOtherDir, true, imageMount, code, error))
        Fail("the drive holding the image cannot be read: " + error, false);
    std::optional<std::string> imagePath = ResolveNoCase(imageDir, command.source.path);
    if (!imagePath || !FileExists(*imagePath)) {
        Unmount(imageMount);
        Fail("the image file " + command.source.path + " was not found", false);
    }
    // The target must not be mounted while it is written.
    if (IsSystem(target)) Unmount(systemMount_);
    LoadRequest request;
    request.imagePath = *imagePath;
    if (sourceFs == "ntfs") {
        // Read through ntfs-3g's library from the unmounted partition rather than through FUSE.
        struct stat st;
        request.imageBytes = stat(imagePath->c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        request.imageDevice = sourcePart.device;
        request.imageInside = imagePath->substr(std::string(imageDir).size());
        Unmount(IsSystem(source) ? systemMount_ : imageMount);
    }
    request.device = targetPart.device;
    request.partitionBytes = targetPart.sizeSectors * 512;
    ImageInfo info;
    bool written = false;
    bool ok = LoadPartition(request, info, written, error);
    Unmount(imageMount);
    if (!ok) Fail(error, written);
    Say("The partition " + targetPart.device + " now holds the system from the image.");
}

void Runner::Fail(const std::string& reason, bool targetWritten) {
    Say("");
    Say("FAILED: " + reason + ".");
    std::string error;
    if (haveSystem_ && !targetWritten && MountSystem(false, error)) {
        PutBackBootConfiguration(kSystemDir, actions_);
        TakeLoaderOutOfBootIni(kSystemDir, set_, actions_);
        if (RemoveJob(kSystemDir, set_)) actions_.push_back("deleted the job file " + set_.jobName);
        std::string report = ErrorReport(NowText(), jobText_, reason, actions_);
        if (std::optional<std::string> path = ResolveForWriting(kSystemDir, errorFile_, false)) {
            if (WriteWholeFile(*path, report)) Say("The reason was written to " + errorFile_ + " on the system drive.");
        }
        Unmount(systemMount_);
    }
    if (targetWritten) {
        Say("The restore stopped part way: the target partition is incomplete. The image itself is unchanged;");
        Say("start the restore again (the job is still in place).");
    } else {
        Say("Nothing was written to the system partition; Windows was left as it was.");
    }
    WaitForKey(60);
    Restart();
}

void Runner::Finish() {
    Say("Done. Restarting.");
    Restart();
}

}  // namespace
}  // namespace vorlane

int main() {
    using namespace vorlane;
    signal(SIGPIPE, SIG_IGN);
    std::string commandLine;
    ReadWholeFile("/proc/cmdline", commandLine, 8192);
    std::optional<BootSet> set = SetForTag(TagFromCommandLine(commandLine));
    if (!set) {
        Say("This environment was started without a known set (vorlane.set=KW or KX); nothing to do.");
        WaitForKey(60);
        Restart();
    }
    Runner runner(*set);
    runner.Run();
    return 0;
}
