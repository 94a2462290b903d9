// The job runner of the imaging environment: finds the set's marker and job on the disks, does what the
// boot-time contract asks of the set, runs the Ghost command of the job's first line with our imaging
// engine and restarts. Every failure is shown on the screen and written to the error file on the system
// drive, with the boot configuration put back and the job removed so that the next start is Windows'.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "codepage.h"
#include "contract.h"
#include "disk_layout.h"
#include "identity.h"
#include "imaging.h"
#include "progress.h"
#include "retry.h"
#include "files.h"
#include "fixups.h"
#include "ghost_command.h"
#include "system.h"
#include "text.h"

namespace vorlane {
namespace {

const char* kSystemDir = "/mnt/system";
const char* kOtherDir = "/mnt/image";
const char* kProbeDir = "/mnt/probe";
const char* kRamDrive = "/tmp/a";

uint64_t FileBytes(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Reads a just written image back and checks every stored byte. The kernel's cache is emptied first, so
// that what is read is what reached the disk.
bool CheckWrittenImage(const std::string& path, std::string& error) {
    sync();
    WriteWholeFile("/proc/sys/vm/drop_caches", "3\n");
    ImageInfo written;
    std::string ignored;
    uint64_t size = ReadImageHeader(path, written, ignored) ? written.fileBytes : FileBytes(path);  // all volumes
    ProgressMeter meter("Reading back", size, SteadySeconds());
    ProgressFn progress = [&](uint64_t done) {
        double now = SteadySeconds();
        if (meter.Due(now)) {
            SayProgress(meter.Line(done, now), false);
            meter.Shown(now);
        }
    };
    ImageInfo info;
    if (!VerifyImage(path, info, progress, error)) {
        error = "the image read back from the disk is not what was written: " + error;
        return false;
    }
    SayProgress(meter.Line(size, SteadySeconds()), true);
    Say("The image was read back from the disk and is complete and undamaged.");
    return true;
}

// Removes an image file and the volumes that follow it, if it was split.
void RemoveImageFiles(const std::string& first) {
    RemoveFile(first);
    for (unsigned index = 1; index < 1000 && FileExists(VolumePath(first, index)); ++index)
        RemoveFile(VolumePath(first, index));
}

// Gives the volumes of a checked image their names. The volumes of an older image beyond the new ones go
// first, so that the set read later is the new one whole; the first volume is named last.
bool NameImageVolumes(const std::string& partial, const std::string& final, uint64_t volumeBytes) {
    unsigned count = static_cast<unsigned>(ImageVolumes(partial, volumeBytes).size());
    for (unsigned index = count; volumeBytes && index < 1000 && FileExists(VolumePath(final, index)); ++index)
        RemoveFile(VolumePath(final, index));
    for (unsigned index = count; index-- > 0;) {
        if (!MoveOver(VolumePath(partial, index), VolumePath(final, index))) return false;
    }
    return true;
}

class Runner {
public:
    Runner(const BootSet& set, const std::string& loaderVolumeId, bool startRecorded)
        : set_(set), loaderVolumeId_(loaderVolumeId), startRecorded_(startRecorded) {}
    void Run();
    // Started by the retry path of a restore that did not finish: finishes it from the copy of the job
    // kept beside the image (retry.h). volumeId names the partition GRUB found the copy on.
    void Retry(const std::string& volumeId);
    // After the runner itself ended abnormally: the job is retired and the boot configuration put back.
    void CleanUpAfterCrash(const std::string& how);

private:
    bool FindSystemPartition();
    void FindSystemPartitionPatiently();
    void ReadIdentity(const JobFile& job);
    bool MountSystem(bool readOnly, std::string& error);
    void Execute(const JobFile& job);
    void DumpJob(const GhostCommand& command);
    void LoadJob(const GhostCommand& command);
    void RestoreImage(const PartitionRef& source, const PartitionRef& target, const std::string& imageName,
                      std::optional<DiskGeometry> geometry);
    void InstallRetry(const PartitionRef& source, const std::string& sourceFs, const PartitionRef& target,
                      const std::string& imageName, const DiskGeometry& geometry);
    bool RemoveRetry(std::string& error);
    bool FindRetryFolder(const std::string& volumeId);
    // Mounts each NTFS or FAT partition read-only at the probe folder in turn and asks visit about it
    // (its place, file system and volume serial); stops at the first that visit answers true for.
    using ProbeVisit = std::function<bool(const PartitionRef&, const std::string&, const std::string&)>;
    bool ProbePartitions(const ProbeVisit& visit);
    [[noreturn]] void Fail(const std::string& reason, bool targetWritten);
    [[noreturn]] void Finish();
    void RetireFinishedJob(const std::string& what);
    const PartitionInfo& Part(const PartitionRef& ref) const { return disks_[ref.disk].partitions[ref.partition]; }
    bool Resolve(const GhostAddress& address, const PartitionIdentity* identity, PartitionRef& ref);
    bool IsSystem(const PartitionRef& ref) const { return haveSystem_ && ref == system_; }
    std::string DiskDevice(const PartitionRef& ref) const { return "/dev/" + disks_[ref.disk].name; }

    BootSet set_;
    std::string loaderVolumeId_;
    std::optional<JobIdentity> identity_;
    bool startRecorded_ = false;  // the loader keeps a record of this start (the next one goes to Windows)
    std::vector<DiskInfo> disks_;
    PartitionRef system_;
    std::string systemFs;
    Mount systemMount_;
    bool haveSystem_ = false;
    std::string jobText_ = "(not read)";
    std::string errorFile_ = "GHOSTERR.TXT";
    std::vector<std::string> actions_;
    std::string jobBytes_;          // the job file as read, for the copy kept by the retry path
    bool retryRun_ = false;         // started by the retry path: the target was already written to
    bool retryInstalled_ = false;   // the disk's first track starts the retry path
    unsigned startsLeft_ = 0;       // starts of the environment the retry path still allows
    PartitionRef retryPart_;        // the image's partition, holding the retry folder
    std::string retryFs_;
    std::string retryDisk_;         // the disk whose first track was given the retry path
};

void Runner::FindSystemPartitionPatiently() {
    for (int attempt = 0; attempt < 10; ++attempt) {
        disks_ = ScanDisks();
        if (FindSystemPartition()) break;
        sleep(1);  // USB and slow controllers may still be coming up
    }
}

void Runner::CleanUpAfterCrash(const std::string& how) {
    Say("");
    Say("The imaging program stopped unexpectedly (" + how + ").");
    // Stopped during a restore made retryable: the disk starts the environment again, which finishes it.
    disks_ = ScanDisks();
    if (FindRetryFolder("")) {
        Say("A copy of the job waits beside the image: the machine restarts and the restore is tried again.");
        WaitForKey(30);
        Restart();
    }
    FindSystemPartitionPatiently();
    if (!haveSystem_) {
        Say("The drive holding the job was not found again; nothing more can be done here.");
        Say(startRecorded_ ? "The next start goes to Windows: the boot loader counted this start."
                           : "If this screen comes back, choose Windows in the boot menu.");
        WaitForKey(30);
        Restart();
    }
    Fail("the imaging program stopped unexpectedly (" + how + ")", false);
}

void Runner::Run() {
    Say("Vorlane imaging environment, set " + set_.tag + " (" + set_.imageName + ", job " + set_.jobName + ")");
    FindSystemPartitionPatiently();
    if (!haveSystem_) {
        Say("No hard disk partition holds both " + set_.imageName + " and " + set_.jobName + "; there is nothing to do.");
        Say(startRecorded_ ? "The next start goes to Windows: the boot loader counted this start."
                           : "The machine restarts; choose Windows in the boot menu if this screen comes back.");
        WaitForKey(30);
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
        Say("Nothing was written: not to the system drive, not anywhere else.");
        if (startRecorded_) {
            Say("The job cannot be removed from a drive that may not be written, but the boot loader counted this");
            Say("start: the machine now restarts into Windows. Shut Windows down fully (not hibernate, not fast");
            Say("start) and prepare the job again in the program.");
        } else {
            Say("The machine now restarts. Choose Windows in the boot menu, shut it down fully (not hibernate, not");
            Say("fast start) and prepare the job again in the program.");
        }
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
    jobBytes_ = bytes;
    std::string parseError;
    // Paths in the job are in the Windows code page; the mounted file systems name files in UTF-8.
    std::string text = Cp936ToUtf8(bytes.substr(0, bytes.find('\0')));
    std::optional<JobFile> job = ParseJobFile(text, parseError);
    jobText_ = Trim(text.substr(0, text.find_first_of("\r\n")));
    if (!job) Fail("the job file " + set_.jobName + " is not readable: " + parseError, false);
    errorFile_ = BaseName(job->command.errorFile);
    Say("Job: " + jobText_);
    ReadIdentity(*job);
    mkdir(kRamDrive, 0755);
    TakeGhostExtras(kSystemDir, kRamDrive, actions_);
    Execute(*job);
}

bool Runner::ProbePartitions(const ProbeVisit& visit) {
    for (size_t d = 0; d < disks_.size(); ++d) {
        for (size_t p = 0; p < disks_[d].partitions.size(); ++p) {
            const PartitionInfo& part = disks_[d].partitions[p];
            unsigned char sector[512];
            if (!ReadDeviceSector(part.device, 0, sector)) continue;
            std::string fs = DetectFileSystem(sector);
            if (fs != "ntfs" && fs != "fat") continue;
            Mount probe;
            int code = 0;
            std::string error;
            if (!MountPartition(part.device, fs, kProbeDir, true, probe, code, error)) continue;
            bool done = visit({d, p}, fs, VolumeIdOfBootSector(sector));
            Unmount(probe);
            if (done) return true;
        }
    }
    return false;
}

bool Runner::FindSystemPartition() {
    // The loader's rule: the partition holding both the marker and the job, the one it booted from.
    haveSystem_ = false;
    std::vector<MarkerCandidate> candidates;
    std::vector<PartitionRef> refs;
    std::vector<std::string> kinds;
    ProbePartitions([&](const PartitionRef& ref, const std::string& fs, const std::string& volumeId) {
        MarkerCandidate candidate;
        candidate.marker = HasMarker(kProbeDir, set_);
        candidate.job = FindJob(kProbeDir, set_).has_value();
        candidate.volumeId = volumeId;
        if (candidate.marker && candidate.job && ResolveNoCase(kProbeDir, set_.startRecordName)) startRecorded_ = true;
        candidates.push_back(candidate);
        refs.push_back(ref);
        kinds.push_back(fs);
        return false;
    });
    int chosen = ChooseJobPartition(candidates, loaderVolumeId_);
    if (chosen < 0) return false;
    system_ = refs[static_cast<size_t>(chosen)];
    systemFs = kinds[static_cast<size_t>(chosen)];
    haveSystem_ = true;
    return true;
}

void Runner::ReadIdentity(const JobFile& job) {
    std::optional<std::string> path = ResolveNoCase(kSystemDir, set_.identityName);
    if (!path || !FileExists(*path)) {
        Say("No identity file " + set_.identityName + " (a job from an older program): partitions are taken by number.");
        return;
    }
    std::string text, error;
    if (!ReadWholeFile(*path, text, 64 * 1024)) Fail("the identity file " + set_.identityName + " cannot be read", false);
    identity_ = ParseJobIdentity(text, error);
    if (!identity_) Fail("the identity file " + set_.identityName + " is not readable: " + error, false);
    bool backupJob = job.command.mode == CloneMode::PartitionToImage;
    if (identity_->backup != backupJob || identity_->backup != set_.backup)
        Fail("the identity file describes a " + std::string(identity_->backup ? "backup" : "restore") +
             " but the job is a " + (backupJob ? "backup" : "restore"), false);
    const std::string& jobImage = backupJob ? job.command.target.path : job.command.source.path;
    if (!SameWindowsPath(identity_->image, jobImage))
        Fail("the identity file names the image " + identity_->image + " but the job names " + jobImage, false);
}

bool Runner::MountSystem(bool readOnly, std::string& error) {
    if (!systemMount_.dir.empty()) return true;
    int code = 0;
    return MountPartition(Part(system_).device, systemFs, kSystemDir, readOnly, systemMount_, code, error);
}

bool Runner::Resolve(const GhostAddress& address, const PartitionIdentity* identity, PartitionRef& ref) {
    std::string error;
    if (!identity) {
        if (!ResolveAddress(disks_, system_.disk, address, ref, error))
            Fail("the job names " + DescribeAddress(address) + ", but " + error, false);
        return true;
    }
    if (!ResolveIdentity(disks_, *identity, ref, error)) Fail(error, false);
    if (!AddressAgrees(disks_, system_.disk, address, ref, error))
        Fail("the job and its identity file disagree: " + error, false);
    return true;
}

void Runner::Execute(const JobFile& job) {
    const GhostCommand& command = job.command;
    bool backup = command.mode == CloneMode::PartitionToImage;
    if (backup) DumpJob(command);
    else LoadJob(command);
    if (!EqualsNoCase(job.secondLine, "restart") && !job.secondLine.empty())
        Say("The job's second line \"" + job.secondLine + "\" is not known; restarting.");
    RetireFinishedJob(backup ? "the backup" : "the restore");
    Say(backup ? "The backup is complete. The machine now restarts into Windows."
               : "The restore is complete. The machine now restarts into the restored system.");
    Finish();
}

void Runner::RetireFinishedJob(const std::string& what) {
    // A job of this set still on the system drive would run again at every start: the restore did not
    // overwrite it (another target), or the set keeps its job during the work.
    std::string error;
    std::string fs = DetectDeviceFileSystem(Part(system_).device);  // a restore may have changed it
    if (fs != "ntfs" && fs != "fat") return;
    systemFs = fs;
    if (!MountSystem(false, error)) return;
    if (FindJob(kSystemDir, set_)) {
        std::vector<std::string> log;
        PutBackBootConfiguration(kSystemDir, log);
        TakeLoaderOutOfBootIni(kSystemDir, set_, log);
        RetireJob(kSystemDir, set_, log);
        Say("After " + what + ":");
        for (const std::string& line : log) Say("  " + line);
    }
    Unmount(systemMount_);
}

void Runner::DumpJob(const GhostCommand& command) {
    PartitionRef source, target;
    Resolve(command.source, identity_ ? &identity_->source : nullptr, source);
    Resolve(command.target, identity_ ? &identity_->target : nullptr, target);
    if (identity_ && !IsSystem(source))
        Fail("the identity file's partition to save (" + Part(source).device +
             ") is not the system partition that holds the job (" + Part(system_).device + ")", false);
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
    const std::string& imageName = identity_ ? identity_->image : command.target.path;
    std::optional<std::string> imagePath = ResolveForWriting(targetDir, imageName, true);
    if (!imagePath) {
        Unmount(targetMountRef);
        Fail("the folder for the image file " + command.target.path + " cannot be made", false);
    }
    // Written under a temporary name: an older image stays until the new one is complete.
    std::string partial = *imagePath + ".partial";
    RemoveImageFiles(partial);
    DumpRequest request;
    request.device = sourcePart.device;
    request.fileSystem = sourceFs;
    request.partitionBytes = sourcePart.sizeSectors * 512;
    request.partitionStart = sourcePart.startSector * 512;
    request.usedBytes = used;
    request.imagePath = partial;
    request.level = CompressionLevel(command.compression);
    request.volumeBytes = ImageVolumeBytes(targetFs, command.splitBytes);
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
    // Read back from the disk and checked whole before it replaces an older image or success is told.
    if (ok && !CheckWrittenImage(partial, error)) ok = false;
    unsigned volumes = ok ? static_cast<unsigned>(ImageVolumes(partial, request.volumeBytes).size()) : 0;
    if (ok && !NameImageVolumes(partial, *imagePath, request.volumeBytes)) {
        ok = false;
        error = "the finished image could not be given its name";
    }
    if (!ok) RemoveImageFiles(partial);
    Unmount(targetMount);
    if (IsSystem(target)) Unmount(systemMount_);
    if (!ok) Fail(error, false);
    std::string split = volumes > 1 ? ", in " + std::to_string(volumes) + " volumes: " + BaseName(command.target.path) +
                                          " and the files " + BaseName(VolumePath(*imagePath, 1)) + " onwards beside it"
                                    : "";
    Say("Image written: " + command.target.path + split + " (SHA-256 " + result.sha256.substr(0, 16) + "...)");
}

void Runner::LoadJob(const GhostCommand& command) {
    PartitionRef source, target;
    Resolve(command.source, identity_ ? &identity_->source : nullptr, source);
    Resolve(command.target, identity_ ? &identity_->target : nullptr, target);
    if (identity_ && !IsSystem(target))
        Fail("the identity file's target partition (" + Part(target).device +
             ") is not the system partition that holds the job (" + Part(system_).device + ")", false);
    Say("Restore: image " + DescribeAddress(command.source) + " (on " + Part(source).device + ") onto partition " +
        DescribeAddress(command.target) + " (" + Part(target).device + ")");
    if (command.source.imagePartition != 1)
        Fail("the image holds one partition; partition " + std::to_string(command.source.imagePartition) +
             " inside it does not exist", false);
    // The identity file carries the path in UTF-8, free of the code page's losses.
    RestoreImage(source, target, identity_ ? identity_->image : command.source.path, std::nullopt);
}

void Runner::RestoreImage(const PartitionRef& source, const PartitionRef& target, const std::string& imageName,
                          std::optional<DiskGeometry> knownGeometry) {
    const PartitionInfo& sourcePart = Part(source);
    const PartitionInfo& targetPart = Part(target);
    if (source == target) Fail("the image file lies on the partition it would overwrite", false);
    std::string targetFs = IsSystem(target) ? systemFs : DetectDeviceFileSystem(targetPart.device);
    if (targetFs == "bitlocker" && !retryRun_) Fail("the target partition is encrypted with BitLocker", false);
    std::string sourceFs = IsSystem(source) ? systemFs : DetectDeviceFileSystem(sourcePart.device);
    std::string error;
    int code = 0;
    Mount imageMount;
    const char* imageDir = IsSystem(source) ? kSystemDir : kOtherDir;
    if (!IsSystem(source) && !MountPartition(sourcePart.device, sourceFs, kOtherDir, true, imageMount, code, error))
        Fail("the drive holding the image cannot be read: " + error, false);
    std::optional<std::string> imagePath = ResolveNoCase(imageDir, imageName);
    if (!imagePath || !FileExists(*imagePath)) {
        Unmount(imageMount);
        Fail("the image file " + imageName + " was not found", false);
    }
    // The disk geometry the target's own boot sector carried, for the restored one (else the usual 255/63).
    // A retry takes it from its record: the boot sector may be half written by now.
    DiskGeometry geometry;
    unsigned char oldBoot[512];
    if (knownGeometry) {
        geometry = *knownGeometry;
    } else if (ReadDeviceSector(targetPart.device, 0, oldBoot)) {
        if (std::optional<DiskGeometry> old = GeometryOfBootSector(oldBoot)) geometry = *old;
    }
    // Before the system partition (and the job on it) is written, the job is kept beside the image.
    if (!retryRun_ && IsSystem(target) && !IsSystem(source)) {
        Unmount(imageMount);
        InstallRetry(source, sourceFs, target, imageName, geometry);
        if (!MountPartition(sourcePart.device, sourceFs, kOtherDir, true, imageMount, code, error))
            Fail("the drive holding the image cannot be read: " + error, false);
    }
    // The target must not be mounted while it is written.
    if (IsSystem(target)) Unmount(systemMount_);
    LoadRequest request;
    request.imagePath = *imagePath;
    if (sourceFs == "ntfs") {
        // Read through ntfs-3g's library from the unmounted partition rather than through FUSE; a split
        // image's volumes are found while the partition is still mounted.
        ImageInfo header;
        std::string ignored;
        uint64_t volumeBytes = ReadImageHeader(*imagePath, header, ignored) ? header.volumeBytes : 0;
        for (const std::string& volume : ImageVolumes(*imagePath, volumeBytes)) {
            request.imageBytes += FileBytes(volume);
            request.imageInside.push_back(volume.substr(std::string(imageDir).size()));
        }
        request.imageDevice = sourcePart.device;
        Unmount(IsSystem(source) ? systemMount_ : imageMount);
    }
    request.device = targetPart.device;
    request.partitionBytes = targetPart.sizeSectors * 512;
    ImageInfo info;
    bool written = false;
    bool ok = LoadPartition(request, info, written, error);
    Unmount(imageMount);
    if (!ok) Fail(error, written);
    std::vector<std::string> fixups;
    bool fixed = FixUpRestoredPartition(targetPart.device, targetPart.startSector, targetPart.sizeSectors, geometry,
                                        fixups, error);
    for (const std::string& line : fixups) Say("  " + line);
    if (!fixed) Fail(error, true);
    Say("The partition " + targetPart.device + " now holds the system from the image.");
    if (retryInstalled_) {
        if (RemoveRetry(error)) Say("The disk's own boot code is back and the copy of the job beside the image is removed.");
        else Say("Warning: " + error + ".");
    }
}

void Runner::InstallRetry(const PartitionRef& source, const std::string& sourceFs, const PartitionRef& target,
                          const std::string& imageName, const DiskGeometry& geometry) {
    RetryCopy copy;
    copy.setTag = set_.tag;
    copy.job = jobBytes_;
    copy.imageFs = sourceFs;
    copy.geometry = geometry;
    // The partitions as resolved here, so that a retry finds them by what they are.
    JobIdentity identity;
    identity.backup = false;
    identity.image = imageName;
    const std::pair<const PartitionRef*, PartitionIdentity*> parts[] = {{&source, &identity.source},
                                                                        {&target, &identity.target}};
    for (const auto& part : parts) {
        const DiskInfo& disk = disks_[part.first->disk];
        part.second->diskSignature = disk.signature;
        part.second->diskBytes = disk.sizeBytes;
        part.second->startBytes = Part(*part.first).startSector * 512;
        part.second->lengthBytes = Part(*part.first).sizeSectors * 512;
    }
    copy.identity = JobIdentityText(identity);
    std::optional<std::string> bootImage = ResolveNoCase(kSystemDir, set_.imageName);
    copy.bootImage = bootImage ? *bootImage : "";
    std::string error;
    Mount mount;
    int code = 0;
    bool ok = !copy.bootImage.empty() && (sourceFs == "ntfs" || sourceFs == "fat");
    if (!ok) error = "the boot image or the image's file system does not allow it";
    if (ok && !MountPartition(Part(source).device, sourceFs, kOtherDir, false, mount, code, error)) ok = false;
    if (ok) {
        ok = InstallRetryPath(copy, kOtherDir, DiskDevice(target), error);
        Unmount(mount);
    }
    if (!ok) {
        Say("Warning: the restore cannot be made retryable (" + error + "); a power loss while it runs would");
        Say("leave the system partition incomplete.");
        return;
    }
    retryInstalled_ = true;
    startsLeft_ = kRetryStarts;
    retryPart_ = source;
    retryFs_ = sourceFs;
    retryDisk_ = DiskDevice(target);
    Say("A copy of the job is kept beside the image and the disk starts the imaging environment again until the");
    Say("restore is done: a power loss or a failure while the system partition is written is not the end of it.");
}

bool Runner::RemoveRetry(std::string& error) {
    Mount mount;
    int code = 0;
    if (!MountPartition(Part(retryPart_).device, retryFs_, kOtherDir, false, mount, code, error)) {
        error = "the copy of the job beside the image cannot be reached: " + error;
        return false;
    }
    bool ok = RemoveRetryPath(kOtherDir, retryDisk_, error);
    Unmount(mount);
    if (ok) retryInstalled_ = false;
    return ok;
}

bool Runner::FindRetryFolder(const std::string& wanted) {
    return ProbePartitions([&](const PartitionRef& ref, const std::string& fs, const std::string& volumeId) {
        if (!wanted.empty() && !SameVolumeId(volumeId, wanted)) return false;
        if (!HasRetryFolder(kProbeDir)) return false;
        retryPart_ = ref;
        retryFs_ = fs;
        return true;
    });
}

void Runner::Retry(const std::string& volumeId) {
    retryRun_ = true;
    Say("Vorlane imaging environment, set " + set_.tag + ": finishing a restore that did not complete");
    bool found = false;
    for (int attempt = 0; attempt < 10 && !found; ++attempt) {
        disks_ = ScanDisks();
        // The partition GRUB named, else any that holds a copy (GRUB may not have told its serial).
        found = FindRetryFolder(volumeId) || FindRetryFolder("");
        if (!found) sleep(1);
    }
    if (!found) {
        Say("The copy of the job kept beside the image was not found on any disk; nothing can be done here.");
        Say("The machine restarts; the disk's own boot code takes over once the retries are spent.");
        WaitForKey(30);
        Restart();
    }
    std::string error, record, identityText;
    int code = 0;
    Mount mount;
    std::string folder = std::string(kOtherDir) + "/" + kRetryFolder;
    if (!MountPartition(Part(retryPart_).device, retryFs_, kOtherDir, true, mount, code, error))
        Fail("the partition with the copy of the job cannot be read: " + error, true);
    bool read = ReadWholeFile(folder + "/retry.env", record, 64 * 1024) &&
                ReadWholeFile(folder + "/job", jobBytes_, 64 * 1024) &&
                ReadWholeFile(folder + "/identity", identityText, 64 * 1024);
    Unmount(mount);
    std::optional<std::map<std::string, std::string>> values = ParseEnvironmentBlock(record);
    // The first track is put back by whatever ends this run, unless starts are left for another try.
    retryInstalled_ = true;
    startsLeft_ = values ? StartsLeft(*values) : 0;
    if (!read || !values) Fail("the copy of the job beside the image cannot be read", true);
    std::string text = Cp936ToUtf8(jobBytes_.substr(0, jobBytes_.find('\0')));
    jobText_ = Trim(text.substr(0, text.find_first_of("\r\n")));
    std::string parseError;
    std::optional<JobFile> job = ParseJobFile(text, parseError);
    identity_ = ParseJobIdentity(identityText, parseError);
    if (!job || !identity_ || identity_->backup) Fail("the copy of the job beside the image is not readable", true);
    errorFile_ = BaseName(job->command.errorFile);
    Say("Job: " + jobText_);
    PartitionRef source, target;
    if (!ResolveIdentity(disks_, identity_->source, source, error) ||
        !ResolveIdentity(disks_, identity_->target, target, error))
        Fail(error, true);
    if (!(source == retryPart_)) Fail("the image's partition is not the one holding the copy of the job", true);
    retryDisk_ = DiskDevice(target);
    Say("Restore: image " + identity_->image + " (on " + Part(source).device + ") onto partition " + Part(target).device);
    RestoreImage(source, target, identity_->image, RecordGeometry(*values));
    Say("The restore is complete. The machine now restarts into the restored system.");
    Finish();
}

void Runner::Fail(const std::string& reason, bool targetWritten) {
    Say("");
    Say("FAILED: " + reason + ".");
    std::string error;
    // A retry started after the system partition was partly written: it is written, whatever this run did.
    bool written = targetWritten || retryRun_;
    bool retryKept = retryInstalled_ && written && startsLeft_ > 0;
    if (retryInstalled_ && !retryKept) {
        if (RemoveRetry(error)) Say("The disk's own boot code is back and the copy of the job beside the image is removed.");
        else Say("Warning: " + error + ".");
    }
    if (haveSystem_ && !written && MountSystem(false, error)) {
        PutBackBootConfiguration(kSystemDir, actions_);
        TakeLoaderOutOfBootIni(kSystemDir, set_, actions_);
        RetireJob(kSystemDir, set_, actions_);
        std::string report = ErrorReport(NowText(), jobText_, reason, actions_);
        if (std::optional<std::string> path = ResolveForWriting(kSystemDir, errorFile_, false)) {
            if (WriteWholeFile(*path, report)) Say("The reason was written to " + errorFile_ + " on the system drive.");
        }
        Unmount(systemMount_);
    }
    if (retryKept) {
        Say("The restore stopped part way: the system partition is incomplete. The machine now restarts and the");
        Say("imaging environment tries the restore again from the copy of the job kept beside the image (" +
            std::to_string(startsLeft_) + (startsLeft_ == 1 ? " more start)." : " more starts)."));
    } else if (written) {
        Say("The restore stopped part way: the system partition is incomplete and Windows on it will not start.");
        Say(retryRun_ ? "The restore was tried again as often as allowed; no further start tries it."
                      : "The job and the boot files were on that partition and went with its old contents.");
        Say("The image file itself is unchanged: restore it again from another system or a rescue medium.");
    } else {
        Say("Nothing was written to the system partition; Windows was left as it was.");
        Say("The job was removed and the boot configuration put back: the machine now restarts into Windows.");
    }
    WaitForKey(60);
    Restart();
}

void Runner::Finish() { Restart(); }

}  // namespace
}  // namespace vorlane

// "vorlane-runner" runs the job; "vorlane-runner --after-crash HOW" is run by init when the first one
// ended without restarting the machine, and retires the job.
int main(int argc, char** argv) {
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
    Runner runner(*set, VolumeIdFromCommandLine(commandLine), StartRecordedFromCommandLine(commandLine));
    std::optional<std::string> retry = RetryVolumeFromCommandLine(commandLine);
    if (retry && argc >= 2 && std::string(argv[1]) == "--after-crash") {
        // The retry path's own count in the loader ends the tries; nothing else is to be put back here.
        Say("The imaging program stopped unexpectedly (" + std::string(argc >= 3 ? argv[2] : "no reason given") + ").");
        Say("The machine restarts; the restore is tried again while the retry path allows.");
        WaitForKey(30);
        Restart();
    }
    if (retry) {
        runner.Retry(*retry);
        return 0;
    }
    if (argc >= 2 && std::string(argv[1]) == "--after-crash") {
        runner.CleanUpAfterCrash(argc >= 3 ? argv[2] : "no reason given");
        return 0;
    }
    runner.Run();
    return 0;
}
