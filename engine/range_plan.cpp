#include "engine/range_plan.h"

#include <algorithm>

std::vector<ByteInterval> MergeIntervals(std::vector<ByteInterval> list) {
  list.erase(std::remove_if(list.begin(), list.end(), [](const ByteInterval& i) { return i.end <= i.start; }),
             list.end());
  std::sort(list.begin(), list.end(), [](const ByteInterval& a, const ByteInterval& b) { return a.start < b.start; });
  std::vector<ByteInterval> out;
  for (const ByteInterval& i : list) {
    if (!out.empty() && i.start <= out.back().end) {
      out.back().end = std::max(out.back().end, i.end);
    } else {
      out.push_back(i);
    }
  }
  return out;
}

int64_t IntervalBytes(const std::vector<ByteInterval>& list) {
  int64_t sum = 0;
  for (const ByteInterval& i : list) sum += i.end - i.start;
  return sum;
}

void RangePlan::Reset(int64_t total, const std::vector<ByteInterval>& done) {
  total_ = total;
  segs_.clear();
  int64_t cursor = 0;
  for (const ByteInterval& d : MergeIntervals(done)) {
    int64_t start = std::min(d.start, total);
    int64_t end = std::min(d.end, total);
    if (start > cursor) segs_.push_back({cursor, cursor, start, kNoOwner, 0});
    if (end > start) segs_.push_back({start, end, end, kNoOwner, 0});  // a done segment
    cursor = std::max(cursor, end);
  }
  if (cursor < total) segs_.push_back({cursor, cursor, total, kNoOwner, 0});
}

void RangePlan::SetTotal(int64_t total) {
  total_ = total;
  for (Segment& s : segs_) {
    s.end = std::min(s.end, total);
    s.pos = std::min(s.pos, s.end);
    s.start = std::min(s.start, s.end);
  }
}

bool RangePlan::HasWork(uint32_t now, int64_t minPiece, uint32_t stallMs) const {
  for (const Segment& s : segs_) {
    int64_t rest = s.end - s.pos;
    if (rest <= 0) continue;
    if (s.owner == kNoOwner) return true;
    if (rest >= 2 * minPiece && s.end != kUnknownEnd) return true;
    if (now - s.lastProgress >= stallMs) return true;
  }
  return false;
}

bool RangePlan::Assign(int worker, uint32_t now, int64_t minPiece, uint32_t stallMs, Assignment* out) {
  // 1. A free range, the earliest first (so a file fills from its start when it can).
  for (size_t i = 0; i < segs_.size(); ++i) {
    Segment& s = segs_[i];
    if (s.owner == kNoOwner && s.end > s.pos) {
      s.owner = worker;
      s.lastProgress = now;
      *out = {static_cast<int>(i), s.pos, s.end};
      return true;
    }
  }
  // 2. Half of the largest range in progress.
  int best = -1;
  int64_t bestRest = 0;
  for (size_t i = 0; i < segs_.size(); ++i) {
    const Segment& s = segs_[i];
    if (s.end == kUnknownEnd) continue;
    int64_t rest = s.end - s.pos;
    if (rest >= 2 * minPiece && rest > bestRest) {
      best = static_cast<int>(i);
      bestRest = rest;
    }
  }
  if (best >= 0) {
    Segment& s = segs_[best];
    int64_t mid = s.pos + bestRest / 2;
    mid -= mid % 65536;  // whole 64 KiB blocks when the range allows it
    if (mid - s.pos < minPiece) mid = s.pos + bestRest / 2;
    Segment added{mid, mid, s.end, worker, now};
    s.end = mid;
    segs_.push_back(added);
    *out = {static_cast<int>(segs_.size() - 1), mid, added.end};
    return true;
  }
  // 3. A range whose connection has stalled: taken over whole.
  for (size_t i = 0; i < segs_.size(); ++i) {
    Segment& s = segs_[i];
    if (s.end > s.pos && s.owner != worker && now - s.lastProgress >= stallMs) {
      s.owner = worker;
      s.lastProgress = now;
      *out = {static_cast<int>(i), s.pos, s.end};
      return true;
    }
  }
  return false;
}

bool RangePlan::Owns(int worker, int segment) const {
  return segment >= 0 && segment < static_cast<int>(segs_.size()) && segs_[segment].owner == worker;
}

int64_t RangePlan::Writable(int worker, int segment, int64_t offset, int64_t n) const {
  if (!Owns(worker, segment)) return 0;
  const Segment& s = segs_[segment];
  if (offset != s.pos || n <= 0) return 0;
  return std::min(n, s.end - s.pos);
}

void RangePlan::Advance(int segment, int64_t n, uint32_t now) {
  Segment& s = segs_[segment];
  s.pos = std::min(s.end, s.pos + n);
  s.lastProgress = now;
}

void RangePlan::Release(int worker, int segment) {
  if (Owns(worker, segment)) segs_[segment].owner = kNoOwner;
}

void RangePlan::ReleaseAll() {
  for (Segment& s : segs_) s.owner = kNoOwner;
}

void RangePlan::SplitAt(int segment, int64_t at) {
  Segment& s = segs_[segment];
  if (at <= s.pos || at >= s.end) return;
  Segment rest{at, at, s.end, kNoOwner, 0};
  s.end = at;
  segs_.push_back(rest);
}

void RangePlan::DivideFree(int pieces, int64_t minPiece) {
  for (;;) {
    int freeCount = 0;
    int largest = -1;
    for (size_t i = 0; i < segs_.size(); ++i) {
      const Segment& s = segs_[i];
      if (s.owner != kNoOwner || s.end <= s.pos || s.end == kUnknownEnd) continue;
      ++freeCount;
      if (largest < 0 || s.end - s.pos > segs_[largest].end - segs_[largest].pos) largest = static_cast<int>(i);
    }
    if (largest < 0 || freeCount >= pieces) return;
    const Segment& s = segs_[largest];
    int64_t rest = s.end - s.pos;
    if (rest < 2 * minPiece) return;
    int64_t mid = s.pos + rest / 2;
    if (mid % 65536 != 0 && mid - mid % 65536 - s.pos >= minPiece) mid -= mid % 65536;
    SplitAt(largest, mid);
  }
}

void RangePlan::FinishAtPosition(int segment) {
  Segment& s = segs_[segment];
  SetTotal(s.pos);
}

std::vector<ByteInterval> RangePlan::Done() const {
  std::vector<ByteInterval> list;
  for (const Segment& s : segs_) list.push_back({s.start, s.pos});
  return MergeIntervals(list);
}

int64_t RangePlan::DoneBytes() const {
  int64_t sum = 0;
  for (const Segment& s : segs_) sum += s.pos - s.start;
  return sum;
}

bool RangePlan::Complete() const {
  if (total_ == kUnknownEnd) return false;
  for (const Segment& s : segs_) {
    if (s.pos < s.end) return false;
  }
  return DoneBytes() == total_;
}
