#include "ghost_command.h"

#include <cctype>

#include "text.h"

namespace vorlane {
namespace {

bool ParseNumber(const std::string& text, size_t& pos, int& value) {
    size_t start = pos;
    long long v = 0;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) {
        v = v * 10 + (text[pos] - '0');
        if (v > 1000000) return false;
        ++pos;
    }
    if (pos == start) return false;
    value = static_cast<int>(v);
    return true;
}

// Splits on a separator outside double quotes and drops the quotes.
std::vector<std::string> SplitOutsideQuotes(const std::string& text, char separator, bool& balanced) {
    std::vector<std::string> parts;
    std::string current;
    bool quoted = false;
    bool any = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
            continue;
        }
        if (!quoted && c == separator) {
            if (!current.empty() || any) parts.push_back(current);
            current.clear();
            any = false;
            continue;
        }
        current += c;
        any = true;
    }
    if (!current.empty() || any) parts.push_back(current);
    balanced = !quoted;
    return parts;
}

}  // namespace

std::optional<GhostAddress> ParseGhostAddress(const std::string& text) {
    GhostAddress address;
    size_t pos = 0;
    if (!ParseNumber(text, pos, address.disk) || pos >= text.size() || text[pos] != ':') return std::nullopt;
    ++pos;
    if (!ParseNumber(text, pos, address.partition)) return std::nullopt;
    if (address.disk < 1 || address.partition < 1) return std::nullopt;
    std::string rest = text.substr(pos);
    // A trailing ":n" names a partition inside the image file.
    size_t colon = rest.rfind(':');
    if (colon != std::string::npos) {
        size_t numberPos = colon + 1;
        int inner = 0;
        if (!ParseNumber(rest, numberPos, inner) || numberPos != rest.size() || inner < 1) return std::nullopt;
        address.imagePartition = inner;
        rest.erase(colon);
    }
    if (!rest.empty()) {
        if (rest[0] != '\\' && rest[0] != '/') return std::nullopt;
        address.path = rest;
        for (char& c : address.path)
            if (c == '/') c = '\\';
        if (address.path.find_first_not_of('\\') == std::string::npos) return std::nullopt;
    }
    return address;
}

std::optional<GhostCommand> ParseGhostCommand(const std::string& line, std::string& error) {
    bool balanced = true;
    std::vector<std::string> words = SplitOutsideQuotes(Trim(line), ' ', balanced);
    if (!balanced) {
        error = "unbalanced quotes in the Ghost command";
        return std::nullopt;
    }
    if (words.empty() || (!EqualsNoCase(BaseName(words[0]), "ghost.exe") && !EqualsNoCase(BaseName(words[0]), "ghost"))) {
        error = "the first line is not a Ghost command";
        return std::nullopt;
    }
    GhostCommand command;
    bool haveSource = false, haveTarget = false;
    for (size_t i = 1; i < words.size(); ++i) {
        std::string word = words[i];
        if (word.empty()) continue;
        std::string lower = ToLower(word);
        if (StartsWith(lower, "-clone,")) {
            std::vector<std::string> parts = SplitOutsideQuotes(word.substr(7), ',', balanced);
            for (const std::string& part : parts) {
                size_t eq = part.find('=');
                if (eq == std::string::npos) continue;
                std::string key = ToLower(part.substr(0, eq));
                std::string value = part.substr(eq + 1);
                if (key == "mode") {
                    std::string mode = ToLower(value);
                    if (mode == "pdump") command.mode = CloneMode::PartitionToImage;
                    else if (mode == "pload") command.mode = CloneMode::ImageToPartition;
                    else {
                        error = "unsupported clone mode \"" + value + "\"";
                        return std::nullopt;
                    }
                } else if (key == "src" || key == "dst") {
                    std::optional<GhostAddress> address = ParseGhostAddress(value);
                    if (!address) {
                        error = "cannot read the address \"" + value + "\"";
                        return std::nullopt;
                    }
                    if (key == "src") { command.source = *address; haveSource = true; }
                    else { command.target = *address; haveTarget = true; }
                }
            }
        } else if (lower == "-sure") {
            command.sure = true;
        } else if (lower == "-rb") {
            command.rebootAfter = true;
        } else if (lower == "-fx") {
            command.exitAfter = true;
        } else if (StartsWith(lower, "-afile=")) {
            std::string name = word.substr(7);
            if (!name.empty()) command.errorFile = name;
        } else if (lower.size() >= 3 && StartsWith(lower, "-z") &&
                   lower.find_first_not_of("0123456789", 2) == std::string::npos) {
            command.compression = lower.size() > 4 ? 9 : std::stoi(lower.substr(2));
        } else if (StartsWith(lower, "-split=") && lower.size() > 7 && lower.size() <= 13 &&
                   lower.find_first_not_of("0123456789", 7) == std::string::npos) {
            command.splitBytes = std::stoull(lower.substr(7)) << 20;
        }
        // Every other switch (-nousb, -crcignore, -fro, -auto, ...) is accepted and has no effect here.
    }
    if (command.mode == CloneMode::None) {
        error = "the Ghost command names no clone mode";
        return std::nullopt;
    }
    if (!haveSource || !haveTarget) {
        error = "the Ghost command lacks its source or target";
        return std::nullopt;
    }
    if (command.mode == CloneMode::PartitionToImage) {
        if (!command.source.path.empty() || command.target.path.empty() || command.source.imagePartition ||
            command.target.imagePartition) {
            error = "a partition dump needs a partition as source and a file as target";
            return std::nullopt;
        }
    } else {
        if (command.source.path.empty() || !command.target.path.empty() || command.target.imagePartition) {
            error = "a partition load needs an image file as source and a partition as target";
            return std::nullopt;
        }
        if (command.source.imagePartition == 0) command.source.imagePartition = 1;
    }
    return command;
}

std::optional<JobFile> ParseJobFile(const std::string& bytes, std::string& error) {
    std::string text = bytes;
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.erase(zero);
    std::vector<std::string> lines;
    std::string current;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(current);
            current.clear();
        } else if (c != '\r') {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    while (!lines.empty() && Trim(lines.front()).empty()) lines.erase(lines.begin());
    if (lines.empty()) {
        error = "the job file is empty";
        return std::nullopt;
    }
    std::optional<GhostCommand> command = ParseGhostCommand(lines[0], error);
    if (!command) return std::nullopt;
    JobFile job;
    job.command = *command;
    if (lines.size() > 1) job.secondLine = Trim(lines[1]);
    return job;
}

std::string DescribeAddress(const GhostAddress& address) {
    std::string text = std::to_string(address.disk) + ":" + std::to_string(address.partition) + address.path;
    if (address.imagePartition) text += ":" + std::to_string(address.imagePartition);
    return text;
}

}  // namespace vorlane
