// The identity file written beside a job ("KW.vid", "KX.vid"): the job's partitions named by disk MBR
// signature and size and partition start and length, so the imaging environment finds them without
// counting disks. The format is docs/job-identity.md.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct PartitionIdentity {
  uint32_t diskSignature = 0;
  uint64_t diskSize = 0;
  uint64_t partitionStart = 0;
  uint64_t partitionLength = 0;
};

struct JobIdentity {
  bool backup = false;        // false: restore (image file to partition)
  std::wstring image;         // the image's path inside its partition, from the root ("\VRLN\a.GHO")
  PartitionIdentity source;   // the partition the job reads
  PartitionIdentity target;   // the partition the job writes
};

// The file's bytes: UTF-8 without byte order mark, CRLF line ends. False when the image path cannot be
// written as one line (a line break or a character that is not valid UTF-16) or does not start at a root.
bool JobIdentityBytes(const JobIdentity& identity, std::string& bytes);

// The loader's start record ("KW.env", "KX.env"): a GRUB environment block of exactly 1024 bytes, the
// header line ended by a line feed and then "#" up to the end, holding no variable yet.
constexpr size_t kStartRecordSize = 1024;
std::string StartRecordBytes();
