// The state file beside a temporary download file: which bytes are on disk, the file's size and the
// server's validators. Two fixed slots of 8 KiB are written in turn, each with a sequence number and a
// checksum, so a torn write leaves the other slot intact.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "engine/range_plan.h"

struct DownloadState {
  uint64_t sequence = 0;
  int64_t total = 0;
  uint32_t urlHash = 0;
  bool rangesSupported = true;
  std::string etag;          // as the server sent it (at most 255 bytes kept)
  std::string lastModified;  // as the server sent it (at most 63 bytes kept)
  std::vector<ByteInterval> done;
};

constexpr size_t kStateSlotSize = 8192;

uint32_t Crc32(const void* data, size_t size);
// FNV-1a over the UTF-16 units of a text (the URL a state belongs to).
uint32_t TextHash(const std::wstring& text);

// One slot's bytes (kStateSlotSize). Too many intervals for a slot: the smallest are left out, so the
// state never claims more than was done.
std::vector<uint8_t> EncodeStateSlot(const DownloadState& state);
// Reads a slot; false when it is not a valid, consistent slot.
bool DecodeStateSlot(const uint8_t* data, size_t size, DownloadState* out);
// The newer valid one of the two slots of a state file's content.
bool DecodeStateFile(const std::vector<uint8_t>& content, DownloadState* out);
