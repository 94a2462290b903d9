#include "disk_layout.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace vorlane {
namespace {

int KindRank(const std::string& name) {
    const char* kinds[] = {"hd", "sd", "vd", "xvd", "nvme", "mmcblk"};
    for (int i = 0; i < 6; ++i)
        if (name.compare(0, std::strlen(kinds[i]), kinds[i]) == 0) return i;
    return 6;
}

// Natural order: "sdb" < "sdaa", "nvme2n1" < "nvme10n1".
bool NaturalLess(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string ReadLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool IsDiskName(const std::string& name) {
    return KindRank(name) < 6 && name.find("boot") == std::string::npos && name.find("rpmb") == std::string::npos;
}

}  // namespace

void SortDiskTable(std::vector<DiskInfo>& disks) {
    for (DiskInfo& disk : disks)
        std::stable_sort(disk.partitions.begin(), disk.partitions.end(),
                         [](const PartitionInfo& a, const PartitionInfo& b) { return a.startSector < b.startSector; });
    std::stable_sort(disks.begin(), disks.end(), [](const DiskInfo& a, const DiskInfo& b) {
        int ka = KindRank(a.name), kb = KindRank(b.name);
        if (ka != kb) return ka < kb;
        return NaturalLess(a.name, b.name);
    });
}

std::vector<PartitionRef> DosLetterOrder(const std::vector<DiskInfo>& disks) {
    std::vector<PartitionRef> order;
    std::vector<std::vector<bool>> used(disks.size());
    for (size_t d = 0; d < disks.size(); ++d) used[d].assign(disks[d].partitions.size(), false);
    for (size_t d = 0; d < disks.size(); ++d) {
        const auto& parts = disks[d].partitions;
        size_t chosen = parts.size();
        for (size_t p = 0; p < parts.size(); ++p)
            if (!parts[p].logical && parts[p].active) { chosen = p; break; }
        if (chosen == parts.size())
            for (size_t p = 0; p < parts.size(); ++p)
                if (!parts[p].logical) { chosen = p; break; }
        if (chosen < parts.size()) {
            order.push_back({d, chosen});
            used[d][chosen] = true;
        }
    }
    for (size_t d = 0; d < disks.size(); ++d)
        for (size_t p = 0; p < disks[d].partitions.size(); ++p)
            if (disks[d].partitions[p].logical) {
                order.push_back({d, p});
                used[d][p] = true;
            }
    for (size_t d = 0; d < disks.size(); ++d)
        for (size_t p = 0; p < disks[d].partitions.size(); ++p)
            if (!used[d][p]) order.push_back({d, p});
    return order;
}

bool ResolveAddress(const std::vector<DiskInfo>& disks, size_t markerDisk, const GhostAddress& address,
                    PartitionRef& result, std::string& error) {
    if (markerDisk >= disks.size()) {
        error = "the system disk is unknown";
        return false;
    }
    size_t diskIndex;
    if (address.disk == 1) {
        diskIndex = markerDisk;
    } else {
        // Disks other than the marker's keep their table order and are numbered from 2.
        size_t wanted = static_cast<size_t>(address.disk - 2);
        size_t seen = 0;
        diskIndex = disks.size();
        for (size_t d = 0; d < disks.size(); ++d) {
            if (d == markerDisk) continue;
            if (seen++ == wanted) { diskIndex = d; break; }
        }
        if (diskIndex == disks.size()) {
            error = "there is no disk " + std::to_string(address.disk) + " (" + std::to_string(disks.size()) +
                    " disk(s) found)";
            return false;
        }
    }
    size_t partIndex = static_cast<size_t>(address.partition - 1);
    if (partIndex >= disks[diskIndex].partitions.size()) {
        error = "disk " + std::to_string(address.disk) + " has no partition " + std::to_string(address.partition);
        return false;
    }
    result = {diskIndex, partIndex};
    return true;
}

bool ReadMbrEntries(const unsigned char sector[512], MbrEntry entries[4]) {
    if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
    for (int i = 0; i < 4; ++i) {
        const unsigned char* e = sector + 446 + 16 * i;
        entries[i].status = e[0];
        entries[i].type = e[4];
        entries[i].start = Le32(e + 8);
        entries[i].size = Le32(e + 12);
    }
    return true;
}

bool IsExtendedType(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

std::vector<DiskInfo> ScanDisks(const std::string& sysBlock, const std::string& devDir) {
    std::vector<DiskInfo> disks;
    DIR* dir = opendir(sysBlock.c_str());
    if (!dir) return disks;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (IsDiskName(name)) names.push_back(name);
    }
    closedir(dir);
    for (const std::string& name : names) {
        DiskInfo disk;
        disk.name = name;
        MbrEntry mbr[4] = {};
        bool haveMbr = false;
        int fd = open((devDir + "/" + name).c_str(), O_RDONLY);
        if (fd >= 0) {
            unsigned char sector[512];
            if (pread(fd, sector, 512, 0) == 512) {
                haveMbr = ReadMbrEntries(sector, mbr);
                if (haveMbr) disk.signature = Le32(sector + 440);
            }
            close(fd);
        }
        bool gpt = haveMbr && mbr[0].type == 0xEE;
        std::string diskDir = sysBlock + "/" + name;
        std::string sectors = ReadLine(diskDir + "/size");
        if (!sectors.empty()) disk.sizeBytes = std::stoull(sectors) * 512;
        DIR* parts = opendir(diskDir.c_str());
        if (!parts) continue;
        while (dirent* entry = readdir(parts)) {
            std::string partName = entry->d_name;
            std::string partDir = diskDir + "/" + partName;
            std::string number = ReadLine(partDir + "/partition");
            if (number.empty()) continue;
            PartitionInfo info;
            info.device = devDir + "/" + partName;
            info.startSector = std::stoull(ReadLine(partDir + "/start"));
            info.sizeSectors = std::stoull(ReadLine(partDir + "/size"));
            int n = std::stoi(number);
            if (haveMbr && !gpt && n >= 1 && n <= 4) {
                const MbrEntry& e = mbr[n - 1];
                if (IsExtendedType(e.type)) continue;  // the container, not a partition of its own
                info.active = e.status == 0x80;
            }
            info.logical = haveMbr && !gpt && n >= 5;
            disk.partitions.push_back(info);
        }
        closedir(parts);
        disks.push_back(disk);
    }
    SortDiskTable(disks);
    return disks;
}

}  // namespace vorlane
