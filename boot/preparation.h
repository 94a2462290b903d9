// The one preparation of a one-time boot, checked step by step and taken back as a whole when a step
// fails: the payload set, the job with its identity file and start record, and the boot entry.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct PreparationResult {
  bool ok = false;
  std::wstring failure;  // what failed, e.g. "无法写入启动文件（C盘空间不足）"; empty when ok
  bool undone = true;    // after a failure: every change was taken back
};

// A reinstall or system restore from an image file (the KX set), and a system backup into an image file
// (the KW set). Before anything is written: the release, the Ghost addresses, the job text in the code
// page, the identity and the room on the system drive. Then, between unhiding and hiding the boot files,
// the payload files, the job, its identity file and start record, and the boot entry; each must succeed,
// else what was done is taken back (RunUndoPlan) and the result names the failed step.
PreparationResult PrepareReinstall(const std::wstring& image);
PreparationResult PrepareBackup(const std::wstring& destination);

// Room on the system drive: each file written needs its size less the size of a file of the same name it
// replaces, and the drive keeps a margin for the system itself.
struct FileNeed {
  uint64_t size = 0;
  uint64_t replacedSize = 0;
};
constexpr uint64_t kSystemDriveMargin = 16ull << 20;
uint64_t BytesNeeded(const std::vector<FileNeed>& files, uint64_t margin);
