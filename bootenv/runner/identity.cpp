#include "identity.h"

#include <cstdio>
#include <map>

#include "text.h"

namespace vorlane {
namespace {

const char* kFirstLine = "vorlane-job-identity 1";

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

bool ParseDecimal(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool ParseSignature(const std::string& text, uint32_t& value) {
    if (text.size() != 8) return false;
    uint32_t result = 0;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        result = (result << 4) | static_cast<uint32_t>(digit);
    }
    value = result;
    return true;
}

bool ParsePartition(const std::map<std::string, std::string>& keys, const std::string& prefix,
                    PartitionIdentity& identity, std::string& error) {
    auto get = [&](const std::string& key, std::string& value) {
        auto it = keys.find(prefix + key);
        if (it == keys.end()) {
            error = "the key " + prefix + key + " is missing";
            return false;
        }
        value = it->second;
        return true;
    };
    std::string value;
    if (!get("disk.signature", value)) return false;
    if (!ParseSignature(value, identity.diskSignature)) {
        error = prefix + "disk.signature \"" + value + "\" is not 8 hexadecimal digits";
        return false;
    }
    const std::pair<const char*, uint64_t*> numbers[] = {{"disk.size", &identity.diskBytes},
                                                         {"partition.start", &identity.startBytes},
                                                         {"partition.length", &identity.lengthBytes}};
    for (const auto& number : numbers) {
        if (!get(number.first, value)) return false;
        if (!ParseDecimal(value, *number.second)) {
            error = prefix + number.first + " \"" + value + "\" is not a decimal number";
            return false;
        }
    }
    if (identity.lengthBytes == 0 || identity.startBytes % 512 != 0 || identity.lengthBytes % 512 != 0) {
        error = prefix + "partition is not a whole number of sectors";
        return false;
    }
    return true;
}

std::string NormalPath(const std::string& path) {
    std::string result;
    for (char c : path) {
        char d = c == '/' ? '\\' : c;
        if (d == '\\' && (result.empty() || result.back() == '\\')) continue;
        result += d;
    }
    while (!result.empty() && result.back() == '\\') result.pop_back();
    return ToLower(result);
}

}  // namespace

std::optional<JobIdentity> ParseJobIdentity(const std::string& text, std::string& error) {
    // A byte order mark is not written, but an editor may have added one.
    std::vector<std::string> lines = SplitLines(StartsWith(text, "\xEF\xBB\xBF") ? text.substr(3) : text);
    if (lines.empty() || Trim(lines[0]) != kFirstLine) {
        error = "the first line is not \"" + std::string(kFirstLine) + "\"";
        return std::nullopt;
    }
    std::map<std::string, std::string> keys;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        if (line.empty()) continue;
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = "line " + std::to_string(i + 1) + " is not key=value";
            return std::nullopt;
        }
        keys[Trim(line.substr(0, eq))] = line.substr(eq + 1);
    }
    JobIdentity identity;
    auto job = keys.find("job");
    if (job == keys.end() || (job->second != "restore" && job->second != "backup")) {
        error = "the key job is missing or neither restore nor backup";
        return std::nullopt;
    }
    identity.backup = job->second == "backup";
    auto image = keys.find("image");
    if (image == keys.end() || Trim(image->second).empty()) {
        error = "the key image is missing";
        return std::nullopt;
    }
    identity.image = Trim(image->second);
    if (!ParsePartition(keys, "source.", identity.source, error)) return std::nullopt;
    if (!ParsePartition(keys, "target.", identity.target, error)) return std::nullopt;
    return identity;
}

bool ResolveIdentity(const std::vector<DiskInfo>& disks, const PartitionIdentity& identity, PartitionRef& result,
                     std::string& error) {
    int matches = 0;
    bool diskSeen = false;
    for (size_t d = 0; d < disks.size(); ++d) {
        const DiskInfo& disk = disks[d];
        if (disk.signature != identity.diskSignature || disk.sizeBytes != identity.diskBytes) continue;
        diskSeen = true;
        for (size_t p = 0; p < disk.partitions.size(); ++p) {
            const PartitionInfo& part = disk.partitions[p];
            if (part.startSector * 512 != identity.startBytes || part.sizeSectors * 512 != identity.lengthBytes) continue;
            if (matches++ == 0) result = {d, p};
        }
    }
    if (matches == 1) return true;
    if (matches > 1) {
        error = "the partition " + DescribeIdentity(identity) + " is found " + std::to_string(matches) +
                " times (disks with the same signature); it is not known which one is meant";
    } else if (!diskSeen) {
        error = "no disk has the signature and size of " + DescribeIdentity(identity);
    } else {
        error = "the disk of " + DescribeIdentity(identity) + " has no partition with that start and length";
    }
    return false;
}

bool AddressAgrees(const std::vector<DiskInfo>& disks, size_t systemDisk, const GhostAddress& address,
                   const PartitionRef& resolved, std::string& error) {
    if (resolved.disk >= disks.size()) {
        error = "the resolved disk is unknown";
        return false;
    }
    const std::string& device = disks[resolved.disk].partitions[resolved.partition].device;
    if (static_cast<size_t>(address.partition) != resolved.partition + 1) {
        error = "the job names partition " + std::to_string(address.partition) + " but the identity file's partition (" +
                device + ") is partition " + std::to_string(resolved.partition + 1) + " of its disk";
        return false;
    }
    bool onSystemDisk = resolved.disk == systemDisk;
    if ((address.disk == 1) != onSystemDisk) {
        error = "the job names disk " + std::to_string(address.disk) + " but the identity file's partition (" + device +
                ") lies " + (onSystemDisk ? "on" : "not on") + " the system disk";
        return false;
    }
    return true;
}

bool SameWindowsPath(const std::string& a, const std::string& b) { return NormalPath(a) == NormalPath(b); }

std::string DescribeIdentity(const PartitionIdentity& identity) {
    char text[160];
    std::snprintf(text, sizeof text, "(disk %08X of %llu bytes, start %llu, length %llu)", identity.diskSignature,
                  static_cast<unsigned long long>(identity.diskBytes), static_cast<unsigned long long>(identity.startBytes),
                  static_cast<unsigned long long>(identity.lengthBytes));
    return text;
}

std::string JobIdentityText(const JobIdentity& identity) {
    std::string text = std::string(kFirstLine) + "\r\njob=" + (identity.backup ? "backup" : "restore") +
                       "\r\nimage=" + identity.image + "\r\n";
    const std::pair<const char*, const PartitionIdentity*> parts[] = {{"source.", &identity.source},
                                                                      {"target.", &identity.target}};
    for (const auto& part : parts) {
        char signature[16];
        std::snprintf(signature, sizeof signature, "%08X", part.second->diskSignature);
        std::string prefix = part.first;
        text += prefix + "disk.signature=" + signature + "\r\n";
        text += prefix + "disk.size=" + std::to_string(part.second->diskBytes) + "\r\n";
        text += prefix + "partition.start=" + std::to_string(part.second->startBytes) + "\r\n";
        text += prefix + "partition.length=" + std::to_string(part.second->lengthBytes) + "\r\n";
    }
    return text;
}

}  // namespace vorlane
