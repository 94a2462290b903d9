#include "boot/job_identity.h"

#include <cstdio>

namespace {

// UTF-16 to UTF-8; false on an unpaired surrogate.
bool Utf8Of(const std::wstring& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = static_cast<uint16_t>(text[i]);
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= text.size()) return false;
      uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

void AddPartition(std::string& out, const char* role, const PartitionIdentity& p) {
  char line[160];
  std::snprintf(line, sizeof(line), "%s.disk.signature=%08X\r\n", role, static_cast<unsigned>(p.diskSignature));
  out += line;
  std::snprintf(line, sizeof(line), "%s.disk.size=%llu\r\n", role, static_cast<unsigned long long>(p.diskSize));
  out += line;
  std::snprintf(line, sizeof(line), "%s.partition.start=%llu\r\n", role,
                static_cast<unsigned long long>(p.partitionStart));
  out += line;
  std::snprintf(line, sizeof(line), "%s.partition.length=%llu\r\n", role,
                static_cast<unsigned long long>(p.partitionLength));
  out += line;
}

}  // namespace

bool JobIdentityBytes(const JobIdentity& identity, std::string& bytes) {
  bytes.clear();
  const std::wstring& image = identity.image;
  if (image.empty() || image[0] != L'\\') return false;
  if (image.find_first_of(L"\r\n") != std::wstring::npos) return false;
  std::string path;
  if (!Utf8Of(image, path)) return false;
  bytes = "vorlane-job-identity 1\r\n";
  bytes += identity.backup ? "job=backup\r\n" : "job=restore\r\n";
  bytes += "image=" + path + "\r\n";
  AddPartition(bytes, "source", identity.source);
  AddPartition(bytes, "target", identity.target);
  return true;
}

std::string StartRecordBytes() {
  std::string bytes = "# GRUB Environment Block\n";
  bytes.resize(kStartRecordSize, '#');
  return bytes;
}
