// What the environment does with the files the program left in the system drive's root: the set's
// marker and job, the saved boot configuration, the optional Ghost extras and the files left out of
// a backup. Every operation works on a mounted partition's root folder.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace vorlane {

struct BootSet {
    std::string tag;         // "KW" or "KX"
    std::string imageName;   // marker: "KW.lsn"
    std::string loaderName;  // "kwldr"
    std::string jobName;     // "Ghost.ba_"
    bool backup = false;     // the backup set prepares the drive before the dump
    std::string identityName;  // "KW.vid": the job's partitions by identity (docs/job-identity.md)
    std::string startRecordName;  // "KW.env": the loader's record of a start made for this job
};

std::optional<BootSet> SetForTag(const std::string& tag);

// Reads the tag from the kernel command line ("vorlane.set=KX").
std::string TagFromCommandLine(const std::string& commandLine);

bool HasMarker(const std::string& root, const BootSet& set);
// The job file's real path, if it is there.
std::optional<std::string> FindJob(const std::string& root, const BootSet& set);

// "ghost.ex_" and "ghost.txt": copied into ramDir (as "ghost.exe" and "ghost.txt") and deleted.
void TakeGhostExtras(const std::string& root, const std::string& ramDir, std::vector<std::string>& log);

// "boot.in_" replaces "boot.ini" (hidden, system and read-only afterwards) and "\Boot\BCD_M" replaces
// "\Boot\BCD", each only when the saved copy exists. Answers false when a copy exists but could not
// be put back.
bool PutBackBootConfiguration(const std::string& root, std::vector<std::string>& log);

// The backup set's preparation before the dump: job deleted, boot configuration put back, the set's
// files removed (a saved copy ending in "_" takes a file's place), and "bootlog.txt", "hiberfil.sys"
// and "pagefile.sys" deleted so that they stay out of the image.
bool PrepareBackupSource(const std::string& root, const BootSet& set, std::vector<std::string>& log);

// Removes the job file with its identity file and the loader's start record.
bool RemoveJob(const std::string& root, const BootSet& set);

// Ends a job that did not complete: the job and its companions go, and the marker too, so that no stale
// marker is left to be taken for the system drive on a later start. The loader files stay: a boot entry
// that still names them then lands in the loader, which finds no job and starts Windows.
bool RetireJob(const std::string& root, const BootSet& set, std::vector<std::string>& log);

// Which partition holds the job, one rule for the loader and for the environment: the partition whose
// root holds both the set's marker and its job. When the loader named the file system it booted from
// (its volume serial, "vorlane.part=" on the kernel line), that one among them; otherwise the first in
// the order given. Answers the index into candidates or -1.
struct MarkerCandidate {
    bool marker = false;
    bool job = false;
    std::string volumeId;  // as the loader prints it: 16 hex digits (NTFS), "xxxx-xxxx" (FAT)
};
int ChooseJobPartition(const std::vector<MarkerCandidate>& candidates, const std::string& loaderVolumeId);

// Reads "vorlane.part=" from the kernel command line.
std::string VolumeIdFromCommandLine(const std::string& commandLine);
// The retry path's "vorlane.retry=" (the volume serial of the partition holding the copy of the job, as
// the loader prints it; empty when GRUB could not tell it); nothing when the start is not a retry.
std::optional<std::string> RetryVolumeFromCommandLine(const std::string& commandLine);
// Whether the loader wrote its start record for this start ("vorlane.recorded=1").
bool StartRecordedFromCommandLine(const std::string& commandLine);

// Whether two volume serials name the same volume (GRUB and this runner write case and dashes differently).
bool SameVolumeId(const std::string& a, const std::string& b);
// The volume serial of a partition's boot sector the way the loader prints it ("" when not NTFS or FAT).
std::string VolumeIdOfBootSector(const unsigned char sector[512]);

// Takes the set's loader out of boot.ini text: its line under [operating systems], and a "default" that
// names it becomes the first remaining system (or goes when there is none). Other text stays as it was.
std::string RemoveLoaderFromBootIni(const std::string& text, const std::string& loaderName);

// After a failed job with no saved copy of boot.ini: without this, boot.ini would keep starting the
// loader, which (with the job gone) starts the legacy loader again, round and round.
bool TakeLoaderOutOfBootIni(const std::string& root, const BootSet& set, std::vector<std::string>& log);

// The text of the error file: what failed, and what was done about it.
std::string ErrorReport(const std::string& when, const std::string& job, const std::string& reason,
                        const std::vector<std::string>& actions);

}  // namespace vorlane
