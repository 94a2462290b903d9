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

bool RemoveJob(const std::string& root, const BootSet& set);

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
