// A restore that can be retried. Before the first byte of the system partition is written, a copy of the
// job and of what the environment needs to start is kept in a folder on the image's partition (which the
// restore never writes), and the disk's first track gets a boot path of its own: GRUB's MBR code and a small
// GRUB core in the sectors before the first partition. Power loss or a crash mid-restore then ends in the
// environment again, which finishes the restore. The disk's own first track is put back once the restore
// is done, or when it is given up. The layout is in docs/retry-path.md.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "fixups.h"

namespace vorlane {

extern const char* const kRetryFolder;  // "VLRETRY", in the root of the image's partition
const unsigned kRetryStarts = 3;        // starts of the environment the retry path allows

// ---- Plain rules -------------------------------------------------------------------------------------

// Sectors free between sector 0 and the first partition (or extended container): 0 when the sector is
// not an MBR with a partition table, or the disk is GPT.
uint64_t FirstTrackRoom(const unsigned char sector0[512]);

// Sector 0 that starts the core at sector 1: the first 440 bytes of GRUB's MBR code, its boot drive taken
// as a hard disk, followed by the disk's own signature, partition table and 55AA. False when bootImage is
// not GRUB's 512-byte MBR code.
bool MakeRetryBootSector(const unsigned char sector0[512], const std::string& bootImage, unsigned char out[512]);

// The disk's saved boot code (bytes 0..439) put in front of the current signature and table.
void PutBackBootCode(const unsigned char saved[512], unsigned char current[512]);

// The retry record: a GRUB environment block of 4096 bytes (larger than any NTFS file record, so that the
// file has clusters of its own that GRUB rewrites in place). vl_a, vl_b and vl_c hold "go" for each start
// left; GRUB shifts one out at every start. The set's tag and the disk geometry ride along.
std::string RetryRecord(const std::string& setTag, unsigned starts, const DiskGeometry& geometry);
// The variables of a GRUB environment block; nothing when the signature line is missing.
std::optional<std::map<std::string, std::string>> ParseEnvironmentBlock(const std::string& bytes);
// How many starts the record still allows.
unsigned StartsLeft(const std::map<std::string, std::string>& record);
std::optional<DiskGeometry> RecordGeometry(const std::map<std::string, std::string>& record);

// ---- The edge: the image's partition mounted at root, the disk device ------------------------------

struct RetryCopy {
    std::string setTag;        // "KX"
    std::string job;           // the job file's bytes
    std::string identity;      // identity text for the partitions resolved (identity.h)
    std::string bootImage;     // path of the set's boot image to copy ("KX.lsn" on the system drive)
    std::string imageFs;       // "ntfs" or "fat": which core can read the image's partition
    DiskGeometry geometry;     // the target's boot sector geometry before the restore
};

// Writes the folder, reads it back, then gives the disk's first track the retry path. On failure every
// step taken is undone and error says why.
bool InstallRetryPath(const RetryCopy& copy, const std::string& root, const std::string& diskDevice,
                      std::string& error);
// Puts the disk's first track back from the folder's saved copy, then removes the folder.
bool RemoveRetryPath(const std::string& root, const std::string& diskDevice, std::string& error);
// Whether a retry folder with its record lies in root.
bool HasRetryFolder(const std::string& root);

}  // namespace vorlane
