#include "contract.h"

#include <cstring>
#include <vector>

#include "files.h"
#include "text.h"

namespace vorlane {
namespace {

constexpr unsigned kReadOnly = 1, kHidden = 2, kSystem = 4;

// Deletes root\name; when root\savedName exists it takes the deleted file's place.
void RemoveWithSavedCopy(const std::string& root, const std::string& name, const std::string& savedName,
                         std::vector<std::string>& log) {
    std::optional<std::string> file = ResolveNoCase(root, name);
    std::optional<std::string> saved = ResolveNoCase(root, savedName);
    if (saved) {
        std::string target = file ? *file : root + "/" + name;
        if (MoveOver(*saved, target)) log.push_back("restored " + name + " from " + savedName);
        else log.push_back("could not restore " + name + " from " + savedName);
        return;
    }
    if (file) {
        if (RemoveFile(*file)) log.push_back("deleted " + name);
        else log.push_back("could not delete " + name);
    }
}

}  // namespace

std::optional<BootSet> SetForTag(const std::string& tag) {
    if (EqualsNoCase(tag, "KW")) return BootSet{"KW", "KW.lsn", "kwldr", "Ghost.ba_", true, "KW.vid", "KW.env"};
    if (EqualsNoCase(tag, "KX")) return BootSet{"KX", "KX.lsn", "kxldr", "ghost._KX", false, "KX.vid", "KX.env"};
    return std::nullopt;
}

namespace {

std::string KernelArgument(const std::string& commandLine, const std::string& key) {
    size_t pos = 0;
    while ((pos = commandLine.find(key, pos)) != std::string::npos) {
        if (pos == 0 || commandLine[pos - 1] == ' ') {
            size_t start = pos + key.size();
            size_t end = commandLine.find_first_of(" \n", start);
            return commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        }
        pos += key.size();
    }
    return "";
}

std::string NoDashLower(const std::string& text) {
    std::string result;
    for (char c : ToLower(text))
        if (c != '-') result += c;
    return result;
}

}  // namespace

std::string TagFromCommandLine(const std::string& commandLine) { return KernelArgument(commandLine, "vorlane.set="); }

std::string VolumeIdFromCommandLine(const std::string& commandLine) {
    return KernelArgument(commandLine, "vorlane.part=");
}

std::optional<std::string> RetryVolumeFromCommandLine(const std::string& commandLine) {
    const std::string key = "vorlane.retry=";
    if (commandLine.compare(0, key.size(), key) != 0 && commandLine.find(" " + key) == std::string::npos)
        return std::nullopt;
    return KernelArgument(commandLine, key);
}

bool StartRecordedFromCommandLine(const std::string& commandLine) {
    return KernelArgument(commandLine, "vorlane.recorded=") == "1";
}

std::string VolumeIdOfBootSector(const unsigned char s[512]) {
    auto hex = [](uint64_t value, int digits) {
        std::string text(static_cast<size_t>(digits), '0');
        for (int i = digits - 1; i >= 0; --i, value >>= 4) text[static_cast<size_t>(i)] = "0123456789abcdef"[value & 15];
        return text;
    };
    auto le = [&](size_t offset, int bytes) {
        uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | s[offset + static_cast<size_t>(i)];
        return value;
    };
    if (std::memcmp(s + 3, "NTFS    ", 8) == 0) return hex(le(0x48, 8), 16);
    if (s[510] != 0x55 || s[511] != 0xAA) return "";
    uint64_t serial;
    if (std::memcmp(s + 0x52, "FAT32   ", 8) == 0) serial = le(0x43, 4);
    else if (std::memcmp(s + 0x36, "FAT", 3) == 0) serial = le(0x27, 4);
    else return "";
    return hex(serial >> 16, 4) + "-" + hex(serial & 0xFFFF, 4);
}

bool SameVolumeId(const std::string& a, const std::string& b) { return NoDashLower(a) == NoDashLower(b); }

int ChooseJobPartition(const std::vector<MarkerCandidate>& candidates, const std::string& loaderVolumeId) {
    int first = -1;
    for (size_t i = 0; i < candidates.size(); ++i) {
        const MarkerCandidate& c = candidates[i];
        if (!c.marker || !c.job) continue;
        if (!loaderVolumeId.empty() && NoDashLower(c.volumeId) == NoDashLower(loaderVolumeId)) return static_cast<int>(i);
        if (first < 0) first = static_cast<int>(i);
    }
    return first;
}

bool HasMarker(const std::string& root, const BootSet& set) {
    std::optional<std::string> marker = ResolveNoCase(root, set.imageName);
    return marker && FileExists(*marker);
}

std::optional<std::string> FindJob(const std::string& root, const BootSet& set) {
    std::optional<std::string> job = ResolveNoCase(root, set.jobName);
    if (job && FileExists(*job)) return job;
    return std::nullopt;
}

void TakeGhostExtras(const std::string& root, const std::string& ramDir, std::vector<std::string>& log) {
    const std::pair<const char*, const char*> extras[] = {{"ghost.ex_", "ghost.exe"}, {"ghost.txt", "ghost.txt"}};
    for (const auto& extra : extras) {
        std::optional<std::string> file = ResolveNoCase(root, extra.first);
        if (!file || !FileExists(*file)) continue;
        if (CopyFileTo(*file, ramDir + "/" + extra.second) && RemoveFile(*file))
            log.push_back(std::string("took ") + extra.first);
        else
            log.push_back(std::string("could not take ") + extra.first);
    }
}

bool PutBackBootConfiguration(const std::string& root, std::vector<std::string>& log) {
    bool ok = true;
    if (std::optional<std::string> saved = ResolveNoCase(root, "boot.in_")) {
        std::optional<std::string> current = ResolveNoCase(root, "boot.ini");
        std::string target = current ? *current : root + "/boot.ini";
        if (MoveOver(*saved, target)) {
            SetWindowsAttributes(target, kReadOnly | kHidden | kSystem);
            log.push_back("put back boot.ini from boot.in_");
        } else {
            log.push_back("could not put back boot.ini from boot.in_");
            ok = false;
        }
    }
    if (std::optional<std::string> saved = ResolveNoCase(root, "Boot\\BCD_M")) {
        std::optional<std::string> current = ResolveNoCase(root, "Boot\\BCD");
        std::string target = current ? *current : saved->substr(0, saved->rfind('/')) + "/BCD";
        if (MoveOver(*saved, target)) {
            log.push_back("put back \\Boot\\BCD from \\Boot\\BCD_M");
        } else {
            log.push_back("could not put back \\Boot\\BCD from \\Boot\\BCD_M");
            ok = false;
        }
    }
    return ok;
}

std::string RemoveLoaderFromBootIni(const std::string& text, const std::string& loaderName) {
    // Lines keep their own endings; a key names our loader when it ends in "\<loader>".
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    auto keyOf = [](const std::string& line) { return Trim(line.substr(0, line.find('='))); };
    auto namesLoader = [&](const std::string& key) {
        std::string lower = ToLower(key);
        std::string suffix = "\\" + ToLower(loaderName);
        return lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    std::string section, firstSystem;
    std::vector<bool> drop(lines.size(), false);
    int defaultLine = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string trimmed = Trim(lines[i]);
        if (!trimmed.empty() && trimmed[0] == '[') {
            section = ToLower(trimmed);
            continue;
        }
        if (trimmed.empty() || trimmed[0] == ';' || trimmed.find('=') == std::string::npos) continue;
        std::string key = keyOf(trimmed);
        if (section == "[operating systems]") {
            if (namesLoader(key)) drop[i] = true;
            else if (firstSystem.empty()) firstSystem = key;
        } else if (section == "[boot loader]" && EqualsNoCase(key, "default")) {
            std::string value = Trim(trimmed.substr(trimmed.find('=') + 1));
            if (namesLoader(value)) defaultLine = static_cast<int>(i);
        }
    }
    if (defaultLine >= 0) {
        const std::string& line = lines[defaultLine];
        std::string ending = line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0 ? "\r\n"
                             : !line.empty() && line.back() == '\n'                             ? "\n"
                                                                                                : "";
        if (firstSystem.empty()) drop[defaultLine] = true;
        else lines[defaultLine] = "default=" + firstSystem + ending;
    }
    std::string result;
    for (size_t i = 0; i < lines.size(); ++i)
        if (!drop[i]) result += lines[i];
    return result;
}

bool TakeLoaderOutOfBootIni(const std::string& root, const BootSet& set, std::vector<std::string>& log) {
    std::optional<std::string> path = ResolveNoCase(root, "boot.ini");
    std::string text;
    if (!path || !ReadWholeFile(*path, text, 1 << 20)) return true;
    std::string repaired = RemoveLoaderFromBootIni(text, set.loaderName);
    if (repaired == text) return true;
    SetWindowsAttributes(*path, 0);
    bool ok = WriteWholeFile(*path, repaired);
    SetWindowsAttributes(*path, kReadOnly | kHidden | kSystem);
    log.push_back(ok ? "took the " + set.loaderName + " entry out of boot.ini" : "could not edit boot.ini");
    return ok;
}

bool RemoveJob(const std::string& root, const BootSet& set) {
    bool ok = true;
    for (const std::string& name : {set.jobName, set.identityName, set.startRecordName}) {
        std::optional<std::string> file = ResolveNoCase(root, name);
        if (file && !RemoveFile(*file)) ok = false;
    }
    return ok;
}

bool RetireJob(const std::string& root, const BootSet& set, std::vector<std::string>& log) {
    bool ok = RemoveJob(root, set);
    log.push_back(ok ? "deleted the job file " + set.jobName + " with " + set.identityName + " and " + set.startRecordName
                     : "could not delete the job file " + set.jobName);
    if (std::optional<std::string> marker = ResolveNoCase(root, set.imageName)) {
        if (RemoveFile(*marker)) {
            log.push_back("deleted " + set.imageName);
        } else {
            log.push_back("could not delete " + set.imageName);
            ok = false;
        }
    }
    return ok;
}

bool PrepareBackupSource(const std::string& root, const BootSet& set, std::vector<std::string>& log) {
    if (!RemoveJob(root, set)) {
        log.push_back("could not delete the job file " + set.jobName);
        return false;
    }
    log.push_back("deleted the job file " + set.jobName);
    bool ok = PutBackBootConfiguration(root, log);
    std::string image = set.imageName;                    // KW.lsn
    std::string loader = set.loaderName;                  // kwldr
    RemoveWithSavedCopy(root, image, image.substr(0, image.size() - 1) + "_", log);   // KW.ls_
    RemoveWithSavedCopy(root, loader, loader + "_", log);                              // KWLDR_
    RemoveWithSavedCopy(root, loader + ".mbr", loader + ".mb_", log);                  // KWLDR.mb_
    for (const char* name : {"bootlog.txt", "hiberfil.sys", "pagefile.sys"}) {
        if (std::optional<std::string> file = ResolveNoCase(root, name)) {
            if (RemoveFile(*file)) log.push_back(std::string("deleted ") + name);
            else log.push_back(std::string("could not delete ") + name);
        }
    }
    return ok;
}

std::string ErrorReport(const std::string& when, const std::string& job, const std::string& reason,
                        const std::vector<std::string>& actions) {
    std::string text = "\xEF\xBB\xBF";  // UTF-8 byte order mark, so that Notepad shows the Chinese line
    text += "Vorlane imaging job failed / \xE7\xB3\xBB\xE7\xBB\x9F\xE6\x98\xA0\xE5\x83\x8F\xE4\xBB\xBB\xE5\x8A\xA1"
            "\xE5\xA4\xB1\xE8\xB4\xA5\r\n";
    text += "Time: " + when + "\r\n";
    text += "Job: " + job + "\r\n";
    text += "Reason: " + reason + "\r\n";
    text += "The system partition was not written; Windows was left as it was.\r\n";
    for (const std::string& action : actions) text += "  - " + action + "\r\n";
    return text;
}

}  // namespace vorlane
