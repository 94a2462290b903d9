// The job file's text and the Ghost command line in its first line, as the program writes them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vorlane {

// A partition named "d:p" (disk and partition, both from 1), optionally followed by a file path
// ("1:2\VRLN\BackSystem\BAKSYS.GHO"), optionally ending in ":n" for partition n inside an image.
struct GhostAddress {
    int disk = 0;
    int partition = 0;
    std::string path;        // backslash path on that partition, empty for the partition itself
    int imagePartition = 0;  // n of a trailing ":n", 0 when absent
};

enum class CloneMode { None, PartitionToImage, ImageToPartition };

struct GhostCommand {
    CloneMode mode = CloneMode::None;
    GhostAddress source;
    GhostAddress target;
    int compression = -1;    // -z level, -1 when not given
    uint64_t splitBytes = 0; // -split=MB: the image in volumes of at most that size; 0 when not given
    bool sure = false;       // -sure
    bool rebootAfter = false;  // -rb
    bool exitAfter = false;    // -fx
    std::string errorFile = "GHOSTERR.TXT";  // -afile=
};

struct JobFile {
    GhostCommand command;
    std::string secondLine;  // "restart" in every job the program writes
};

// Parses "d:p[\path][:n]". Answers nothing for anything else.
std::optional<GhostAddress> ParseGhostAddress(const std::string& text);

// Parses a Ghost command line. On failure answers nothing and sets error to a readable reason.
std::optional<GhostCommand> ParseGhostCommand(const std::string& line, std::string& error);

// Parses a whole job file (CR LF lines, an optional trailing zero byte).
std::optional<JobFile> ParseJobFile(const std::string& bytes, std::string& error);

std::string DescribeAddress(const GhostAddress& address);

}  // namespace vorlane
