// The job's identity file ("KX.vid", "KW.vid"): the job's partitions named by disk signature, disk size,
// start and length instead of by counted numbers, and how they are found on this machine's disks.
// The format is documented in docs/job-identity.md.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk_layout.h"
#include "ghost_command.h"

namespace vorlane {

struct PartitionIdentity {
    uint32_t diskSignature = 0;
    uint64_t diskBytes = 0;
    uint64_t startBytes = 0;
    uint64_t lengthBytes = 0;
};

struct JobIdentity {
    bool backup = false;     // job=backup (else restore)
    std::string image;       // the image file's path inside its partition, backslash separated, UTF-8
    PartitionIdentity source;
    PartitionIdentity target;
};

// Parses the file's text. On failure answers nothing and sets error to a readable reason.
std::optional<JobIdentity> ParseJobIdentity(const std::string& text, std::string& error);

// The one partition on these disks that matches: the disk's signature and size, an entry with exactly
// that start and length. None or more than one is a failure with a reason.
bool ResolveIdentity(const std::vector<DiskInfo>& disks, const PartitionIdentity& identity, PartitionRef& result,
                     std::string& error);

// Whether a job's "d:p" address agrees with the partition the identity resolved to, as far as it can be
// checked here: p is the partition's place on its disk, and d is 1 exactly when it lies on systemDisk.
bool AddressAgrees(const std::vector<DiskInfo>& disks, size_t systemDisk, const GhostAddress& address,
                   const PartitionRef& resolved, std::string& error);

// Whether two Windows paths name the same file (case of ASCII letters, separators and a leading
// separator do not count).
bool SameWindowsPath(const std::string& a, const std::string& b);

std::string DescribeIdentity(const PartitionIdentity& identity);
// The file's text for an identity (what ParseJobIdentity reads back): the environment writes one for the
// partitions it resolved when it keeps a copy of the job beside the image (retry.h).
std::string JobIdentityText(const JobIdentity& identity);

}  // namespace vorlane
