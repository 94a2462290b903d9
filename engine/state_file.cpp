#include "engine/state_file.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMagic = 0x54534c56;  // "VLST"
constexpr uint32_t kVersion = 1;
constexpr size_t kEtagField = 256;
constexpr size_t kModifiedField = 64;
// magic, version, sequence, total, url hash, flags, etag, last-modified, count
constexpr size_t kHeaderSize = 4 + 4 + 8 + 8 + 4 + 4 + kEtagField + kModifiedField + 4;
constexpr size_t kMaxIntervals = (kStateSlotSize - kHeaderSize - 4) / 16;

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& buf) : buf_(buf) {}
  template <typename T>
  void Put(T v) {
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &v, sizeof(T));
    buf_.insert(buf_.end(), bytes, bytes + sizeof(T));
  }
  void PutText(const std::string& text, size_t field) {
    size_t n = std::min(text.size(), field - 1);
    buf_.insert(buf_.end(), text.begin(), text.begin() + n);
    buf_.insert(buf_.end(), field - n, 0);
  }

 private:
  std::vector<uint8_t>& buf_;
};

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  template <typename T>
  bool Get(T* v) {
    if (size_ - pos_ < sizeof(T)) return false;
    std::memcpy(v, data_ + pos_, sizeof(T));
    pos_ += sizeof(T);
    return true;
  }
  bool GetText(std::string* text, size_t field) {
    if (size_ - pos_ < field) return false;
    const char* p = reinterpret_cast<const char*>(data_ + pos_);
    size_t n = strnlen(p, field);
    if (n == field) return false;
    text->assign(p, n);
    pos_ += field;
    return true;
  }
  size_t Pos() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace

uint32_t Crc32(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

uint32_t TextHash(const std::wstring& text) {
  uint32_t h = 2166136261u;
  for (wchar_t c : text) {
    h = (h ^ static_cast<uint16_t>(c)) * 16777619u;
  }
  return h;
}

std::vector<uint8_t> EncodeStateSlot(const DownloadState& state) {
  std::vector<ByteInterval> done = MergeIntervals(state.done);
  if (done.size() > kMaxIntervals) {
    std::sort(done.begin(), done.end(), [](const ByteInterval& a, const ByteInterval& b) {
      return a.end - a.start > b.end - b.start;
    });
    done.resize(kMaxIntervals);
    done = MergeIntervals(done);
  }
  std::vector<uint8_t> buf;
  buf.reserve(kStateSlotSize);
  Writer w(buf);
  w.Put<uint32_t>(kMagic);
  w.Put<uint32_t>(kVersion);
  w.Put<uint64_t>(state.sequence);
  w.Put<int64_t>(state.total);
  w.Put<uint32_t>(state.urlHash);
  w.Put<uint32_t>(state.rangesSupported ? 1u : 0u);
  w.PutText(state.etag, kEtagField);
  w.PutText(state.lastModified, kModifiedField);
  w.Put<uint32_t>(static_cast<uint32_t>(done.size()));
  for (const ByteInterval& i : done) {
    w.Put<int64_t>(i.start);
    w.Put<int64_t>(i.end);
  }
  w.Put<uint32_t>(Crc32(buf.data(), buf.size()));
  buf.resize(kStateSlotSize, 0);
  return buf;
}

bool DecodeStateSlot(const uint8_t* data, size_t size, DownloadState* out) {
  Reader r(data, size);
  uint32_t magic = 0, version = 0, flags = 0, count = 0;
  DownloadState s;
  if (!r.Get(&magic) || magic != kMagic || !r.Get(&version) || version != kVersion) return false;
  if (!r.Get(&s.sequence) || !r.Get(&s.total) || !r.Get(&s.urlHash) || !r.Get(&flags)) return false;
  if (!r.GetText(&s.etag, kEtagField) || !r.GetText(&s.lastModified, kModifiedField)) return false;
  if (!r.Get(&count) || count > kMaxIntervals) return false;
  int64_t previousEnd = 0;
  for (uint32_t k = 0; k < count; ++k) {
    ByteInterval i;
    if (!r.Get(&i.start) || !r.Get(&i.end)) return false;
    if (i.start < previousEnd || i.end <= i.start || i.end > s.total) return false;
    previousEnd = i.end;
    s.done.push_back(i);
  }
  size_t covered = r.Pos();
  uint32_t crc = 0;
  if (!r.Get(&crc) || crc != Crc32(data, covered)) return false;
  if (s.total < 0) return false;
  s.rangesSupported = (flags & 1u) != 0;
  *out = s;
  return true;
}

bool DecodeStateFile(const std::vector<uint8_t>& content, DownloadState* out) {
  bool found = false;
  for (size_t slot = 0; slot < 2; ++slot) {
    size_t offset = slot * kStateSlotSize;
    if (content.size() < offset + kStateSlotSize) break;
    DownloadState s;
    if (DecodeStateSlot(content.data() + offset, kStateSlotSize, &s) && (!found || s.sequence > out->sequence)) {
      *out = s;
      found = true;
    }
  }
  return found;
}
