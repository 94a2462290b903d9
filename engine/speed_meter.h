// Download speed over a sliding window: samples of (time, bytes so far) at least 250 ms apart, speed =
// bytes gained across the window / its length. A stall shows as a speed falling to 0 within the window.
#pragma once
#include <cstdint>

class SpeedMeter {
 public:
  static constexpr int kSamples = 16;
  static constexpr uint32_t kWindowMs = 3000;
  static constexpr uint32_t kSpacingMs = 250;

  void Reset() { count_ = 0; }

  // Adds a sample (ignored when the last one is less than kSpacingMs old).
  void Add(uint32_t now, int64_t bytes) {
    if (count_ > 0 && now - samples_[(head_ + count_ - 1) % kSamples].time < kSpacingMs) return;
    if (count_ == kSamples) {
      head_ = (head_ + 1) % kSamples;
      --count_;
    }
    samples_[(head_ + count_) % kSamples] = {now, bytes};
    ++count_;
  }

  // Bytes per second at `now` given the current byte count.
  int32_t BytesPerSecond(uint32_t now, int64_t bytes) const {
    const Sample* oldest = nullptr;
    for (int i = 0; i < count_; ++i) {
      const Sample& s = samples_[(head_ + i) % kSamples];
      if (now - s.time <= kWindowMs) {
        oldest = &s;
        break;
      }
    }
    if (!oldest) return 0;
    uint32_t span = now - oldest->time;
    if (span < 200) return 0;
    int64_t gained = bytes - oldest->bytes;
    if (gained <= 0) return 0;
    int64_t rate = gained * 1000 / span;
    return rate > INT32_MAX ? INT32_MAX : static_cast<int32_t>(rate);
  }

 private:
  struct Sample {
    uint32_t time;
    int64_t bytes;
  };
  Sample samples_[kSamples] = {};
  int head_ = 0;
  int count_ = 0;
};
