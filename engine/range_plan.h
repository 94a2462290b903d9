// Which byte ranges of a download are done, which connection fetches which range, and how idle connections
// get work: free ranges first, then half of the largest range in progress, then a stalled range.
// Plain values only; the caller guards a plan with its own lock.
#pragma once
#include <cstdint>
#include <vector>

struct ByteInterval {
  int64_t start = 0;  // first byte
  int64_t end = 0;    // one past the last byte
  bool operator==(const ByteInterval& o) const { return start == o.start && end == o.end; }
};

// Sorts, merges touching intervals and drops empty ones.
std::vector<ByteInterval> MergeIntervals(std::vector<ByteInterval> list);
int64_t IntervalBytes(const std::vector<ByteInterval>& list);

// What a connection is asked to fetch: bytes [from, to) of segment `segment`.
struct Assignment {
  int segment = -1;
  int64_t from = 0;
  int64_t to = 0;
};

class RangePlan {
 public:
  static constexpr int64_t kUnknownEnd = INT64_MAX;
  static constexpr int kNoOwner = -1;

  // A file of `total` bytes (kUnknownEnd while unknown) of which `done` is already on disk.
  void Reset(int64_t total, const std::vector<ByteInterval>& done);
  // The size became known: every open end is clipped to it.
  void SetTotal(int64_t total);
  int64_t Total() const { return total_; }

  // Work for worker `worker`: an unowned gap, else a split of the largest range in progress (when its rest
  // is at least 2 * minPiece), else a range whose owner made no progress since `stallMs` before `now`.
  bool Assign(int worker, uint32_t now, int64_t minPiece, uint32_t stallMs, Assignment* out);
  // Whether Assign would find work for one more worker.
  bool HasWork(uint32_t now, int64_t minPiece, uint32_t stallMs) const;

  // How many of the n bytes at offset the worker may write now: 0 unless it owns the segment and offset is
  // where the segment continues; never past the segment's end.
  int64_t Writable(int worker, int segment, int64_t offset, int64_t n) const;
  // Records that the bytes [offset, offset + n) of the segment are on disk.
  void Advance(int segment, int64_t n, uint32_t now);
  // The worker stops working on the segment (its rest becomes free for others).
  void Release(int worker, int segment);
  // Drops every ownership (a stop): all rests become free.
  void ReleaseAll();
  // Cuts a segment at `at`: the bytes from there on become a free segment.
  void SplitAt(int segment, int64_t at);
  // Halves the largest free segment until there are `pieces` free ones or none is at least 2 * minPiece,
  // so that several connections start on ranges of similar size.
  void DivideFree(int pieces, int64_t minPiece);
  // The download of unknown size ended at the segment's position: that is the size.
  void FinishAtPosition(int segment);

  bool Owns(int worker, int segment) const;
  // The rest of a segment: its position and end.
  int64_t Position(int segment) const { return segs_[segment].pos; }
  int64_t End(int segment) const { return segs_[segment].end; }

  std::vector<ByteInterval> Done() const;
  int64_t DoneBytes() const;
  bool Complete() const;
  int SegmentCount() const { return static_cast<int>(segs_.size()); }

 private:
  struct Segment {
    int64_t start;
    int64_t pos;
    int64_t end;
    int owner;
    uint32_t lastProgress;
  };
  int64_t total_ = kUnknownEnd;
  std::vector<Segment> segs_;
};
