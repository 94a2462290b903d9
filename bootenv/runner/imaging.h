// The imaging engine: a partition into an image file (partclone stream in our container) and an
// image file back onto a partition, with the whole image checked before the first byte is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image_file.h"

namespace vorlane {

struct DumpRequest {
    std::string device;       // partition to read, unmounted
    std::string fileSystem;   // "ntfs" or "fat"
    uint64_t partitionBytes = 0;
    uint64_t partitionStart = 0;
    uint64_t usedBytes = 0;   // for the progress figures
    std::string imagePath;    // file to write (on another, mounted partition), or
    int outputFd = -1;        // a pipe to the program that stores it (taken over and closed)
    int level = 1;            // compression level, 0 = stored
    uint64_t volumeBytes = 0; // split the image file into volumes of this size (FAT); 0: one file
    std::string cloneTool;    // partclone program ("": the environment's own)
    int cloneTick = 1;        // partclone's progress interval in seconds; it ends up to one interval late
};

bool DumpPartition(const DumpRequest& request, ImageInfo& result, std::string& error);

struct LoadRequest {
    std::string imagePath;    // the image file, or
    std::string imageDevice;  // the unmounted NTFS partition holding it, read through ntfs-3g's library,
    std::vector<std::string> imageInside;  // and its volumes' paths there ("/folder/name", real case), in order
    uint64_t imageBytes = 0;  // its size (all volumes), for the progress figures
    std::string device;       // partition to write, unmounted
    uint64_t partitionBytes = 0;
    std::string cloneTool;    // partclone program ("": the environment's own)
    int cloneTick = 1;        // partclone's progress interval in seconds; it ends up to one interval late
};

// Checks the image whole, then writes it. targetWritten tells whether the partition was touched.
bool LoadPartition(const LoadRequest& request, ImageInfo& info, bool& targetWritten, std::string& error);

// The partclone program for a file system, or "" when there is none.
std::string CloneToolFor(const std::string& fileSystem);

// Compression level for Ghost's -z switch (absent: fast compression).
int CompressionLevel(int ghostLevel);

// The volume size of an image written onto a file system: FAT holds no file of 4 GiB, so an image there
// is split into volumes below that; Ghost's -split=MB asks for smaller ones (at least 1 MiB). 0: one file.
uint64_t ImageVolumeBytes(const std::string& fileSystem, uint64_t splitBytes);

// Checks made before anything is written: what the image needs against the target.
bool ImageFitsTarget(const ImageInfo& info, uint64_t targetBytes, std::string& error);

}  // namespace vorlane
