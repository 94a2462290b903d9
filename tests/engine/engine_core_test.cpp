// The engine's plain rules: range planning, the state file, HTTP answers, paths, the speed meter.
#include <gtest/gtest.h>
#include <cstring>
#include "engine/durable_files.h"
#include "engine/http_rules.h"
#include "engine/xldl.h"
#include "engine/range_plan.h"
#include "engine/speed_meter.h"
#include "engine/state_file.h"
#include "engine/task_paths.h"

namespace {
constexpr int64_t MiB = 1024 * 1024;
}

// ---- ranges --------------------------------------------------------------------------------------------

TEST(MergeIntervals, SortsJoinsAndDropsEmpty) {
  std::vector<ByteInterval> in = {{50, 60}, {0, 10}, {10, 20}, {30, 30}, {55, 70}, {25, 28}};
  std::vector<ByteInterval> want = {{0, 20}, {25, 28}, {50, 70}};
  EXPECT_EQ(MergeIntervals(in), want);
  EXPECT_EQ(IntervalBytes(want), 20 + 3 + 20);
}

TEST(RangePlan, ResetLeavesTheGapsFreeInFileOrder) {
  RangePlan plan;
  plan.Reset(100 * MiB, {{10 * MiB, 20 * MiB}, {50 * MiB, 60 * MiB}});
  EXPECT_EQ(plan.DoneBytes(), 20 * MiB);
  Assignment a, b, c;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  ASSERT_TRUE(plan.Assign(2, 0, MiB, 6000, &b));
  ASSERT_TRUE(plan.Assign(3, 0, MiB, 6000, &c));
  EXPECT_EQ(a.from, 0);
  EXPECT_EQ(a.to, 10 * MiB);
  EXPECT_EQ(b.from, 20 * MiB);
  EXPECT_EQ(b.to, 50 * MiB);
  EXPECT_EQ(c.from, 60 * MiB);
  EXPECT_EQ(c.to, 100 * MiB);
}

TEST(RangePlan, IdleWorkerSplitsTheLargestRestAndTheOwnerStopsAtTheSplit) {
  RangePlan plan;
  plan.Reset(64 * MiB, {});
  Assignment first, second;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &first));
  EXPECT_EQ(plan.Writable(1, first.segment, 0, 4 * MiB), 4 * MiB);
  plan.Advance(first.segment, 4 * MiB, 10);
  ASSERT_TRUE(plan.Assign(2, 10, MiB, 6000, &second));
  EXPECT_EQ(second.from, 34 * MiB);  // half of the 60 MiB rest
  EXPECT_EQ(second.to, 64 * MiB);
  EXPECT_EQ(plan.End(first.segment), 34 * MiB);
  // The first owner may now write only up to the split.
  plan.Advance(first.segment, 29 * MiB, 20);
  EXPECT_EQ(plan.Writable(1, first.segment, 33 * MiB, 4 * MiB), MiB);
  // Writing anywhere but the segment's position is refused.
  EXPECT_EQ(plan.Writable(1, first.segment, 32 * MiB, MiB), 0);
  EXPECT_EQ(plan.Writable(2, first.segment, 33 * MiB, MiB), 0);
}

TEST(RangePlan, SmallRestsAreNotSplit) {
  RangePlan plan;
  plan.Reset(MiB + MiB / 2, {});
  Assignment a, b;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  EXPECT_FALSE(plan.Assign(2, 0, MiB, 6000, &b));
  EXPECT_FALSE(plan.HasWork(0, MiB, 6000));
}

TEST(RangePlan, StalledRangeIsTakenOverAndTheOldOwnerLosesIt) {
  RangePlan plan;
  plan.Reset(MiB, {});
  Assignment a, b;
  ASSERT_TRUE(plan.Assign(1, 1000, MiB, 6000, &a));
  plan.Advance(a.segment, 1000, 1000);
  EXPECT_FALSE(plan.HasWork(6999, MiB, 6000));
  EXPECT_TRUE(plan.HasWork(7000, MiB, 6000));
  ASSERT_TRUE(plan.Assign(2, 7000, MiB, 6000, &b));
  EXPECT_EQ(b.segment, a.segment);
  EXPECT_EQ(b.from, 1000);
  EXPECT_EQ(plan.Writable(1, a.segment, 1000, 10), 0);
  EXPECT_EQ(plan.Writable(2, b.segment, 1000, 10), 10);
}

TEST(RangePlan, ReleasedRestIsFreeAgain) {
  RangePlan plan;
  plan.Reset(10 * MiB, {});
  Assignment a, b;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  plan.Advance(a.segment, 3 * MiB, 0);
  plan.Release(1, a.segment);
  ASSERT_TRUE(plan.Assign(2, 0, MiB, 6000, &b));
  EXPECT_EQ(b.from, 3 * MiB);
  EXPECT_EQ(b.to, 10 * MiB);
}

TEST(RangePlan, CompleteOnlyWhenEveryByteIsDone) {
  RangePlan plan;
  plan.Reset(10, {{0, 4}});
  EXPECT_FALSE(plan.Complete());
  Assignment a;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  plan.Advance(a.segment, 6, 0);
  EXPECT_TRUE(plan.Complete());
  std::vector<ByteInterval> whole = {{0, 10}};
  EXPECT_EQ(plan.Done(), whole);
  RangePlan empty;
  empty.Reset(0, {});
  EXPECT_TRUE(empty.Complete());
}

TEST(RangePlan, UnknownSizeEndsWhereTheBodyEnds) {
  RangePlan plan;
  plan.Reset(RangePlan::kUnknownEnd, {});
  Assignment a, b;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  EXPECT_FALSE(plan.Assign(2, 0, MiB, 6000, &b));  // an open end is never split
  plan.Advance(a.segment, 12345, 0);
  EXPECT_FALSE(plan.Complete());
  plan.FinishAtPosition(a.segment);
  EXPECT_EQ(plan.Total(), 12345);
  EXPECT_TRUE(plan.Complete());
}

TEST(RangePlan, SetTotalClipsTheOpenEnd) {
  RangePlan plan;
  plan.Reset(RangePlan::kUnknownEnd, {});
  Assignment a;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  plan.SetTotal(5 * MiB);
  EXPECT_EQ(plan.End(a.segment), 5 * MiB);
  Assignment b;
  ASSERT_TRUE(plan.Assign(2, 0, MiB, 6000, &b));
  EXPECT_EQ(b.to, 5 * MiB);
}

TEST(RangePlan, OffsetsBeyondFourGiB) {
  const int64_t total = 5 * 1024 * MiB + 123;
  RangePlan plan;
  plan.Reset(total, {{0, total - 10 * MiB}});
  Assignment a;
  ASSERT_TRUE(plan.Assign(1, 0, MiB, 6000, &a));
  EXPECT_EQ(a.from, total - 10 * MiB);
  EXPECT_EQ(a.to, total);
  EXPECT_EQ(plan.Writable(1, a.segment, a.from, 10 * MiB + 5), 10 * MiB);
}

// ---- state file ------------------------------------------------------------------------------------------

TEST(StateFile, RoundTripChoosesTheNewerValidSlot) {
  DownloadState s;
  s.sequence = 7;
  s.total = 6 * 1024 * MiB;
  s.urlHash = TextHash(L"http://127.0.0.1:8750/a.gho");
  s.etag = "\"abc\"";
  s.lastModified = "Thu, 01 Jan 2026 00:00:00 GMT";
  s.done = {{0, 5 * 1024 * MiB}, {5 * 1024 * MiB + 10, 5 * 1024 * MiB + 20}};
  DownloadState older = s;
  older.sequence = 6;
  older.done = {{0, 10}};
  std::vector<uint8_t> file = EncodeStateSlot(older);
  std::vector<uint8_t> newer = EncodeStateSlot(s);
  ASSERT_EQ(file.size(), kStateSlotSize);
  file.insert(file.end(), newer.begin(), newer.end());
  DownloadState got;
  ASSERT_TRUE(DecodeStateFile(file, &got));
  EXPECT_EQ(got.sequence, 7u);
  EXPECT_EQ(got.total, s.total);
  EXPECT_EQ(got.urlHash, s.urlHash);
  EXPECT_EQ(got.etag, s.etag);
  EXPECT_EQ(got.lastModified, s.lastModified);
  EXPECT_EQ(got.done, s.done);
  // A torn newer slot: the older one is used.
  file[kStateSlotSize + 40] ^= 0x55;
  ASSERT_TRUE(DecodeStateFile(file, &got));
  EXPECT_EQ(got.sequence, 6u);
  // Both broken: no state.
  file[40] ^= 0x55;
  EXPECT_FALSE(DecodeStateFile(file, &got));
  EXPECT_FALSE(DecodeStateFile(std::vector<uint8_t>(100, 0), &got));
}

TEST(StateFile, InconsistentIntervalsAreRejected) {
  DownloadState s;
  s.total = 100;
  s.done = {{0, 150}};  // beyond the size
  std::vector<uint8_t> slot = EncodeStateSlot(s);
  DownloadState got;
  EXPECT_FALSE(DecodeStateSlot(slot.data(), slot.size(), &got));
}

TEST(StateFile, TooManyIntervalsClaimLessNeverMore) {
  DownloadState s;
  s.total = 100000;
  for (int64_t i = 0; i < 2000; ++i) s.done.push_back({i * 40, i * 40 + 10 + (i % 7)});
  std::vector<uint8_t> slot = EncodeStateSlot(s);
  DownloadState got;
  ASSERT_TRUE(DecodeStateSlot(slot.data(), slot.size(), &got));
  EXPECT_LT(got.done.size(), s.done.size());
  for (const ByteInterval& i : got.done) {
    bool inside = false;
    for (const ByteInterval& j : s.done) inside = inside || (i.start >= j.start && i.end <= j.end);
    EXPECT_TRUE(inside) << i.start;
  }
}

TEST(StateFile, LongValidatorsAreCutNotOverflowed) {
  DownloadState s;
  s.total = 10;
  s.etag = std::string(1000, 'e');
  s.lastModified = std::string(1000, 'm');
  std::vector<uint8_t> slot = EncodeStateSlot(s);
  DownloadState got;
  ASSERT_TRUE(DecodeStateSlot(slot.data(), slot.size(), &got));
  EXPECT_EQ(got.etag.size(), 255u);
  EXPECT_EQ(got.lastModified.size(), 63u);
}

TEST(StateFile, Crc32AndTextHashKnownValues) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_NE(TextHash(L"http://a/x"), TextHash(L"http://a/y"));
  EXPECT_EQ(TextHash(L""), 2166136261u);
}

// ---- HTTP answers ----------------------------------------------------------------------------------------

TEST(HttpRules, ContentRange) {
  struct Case {
    const wchar_t* text;
    bool ok;
    int64_t first, last, total;
  } cases[] = {
      {L"bytes 0-99/1000", true, 0, 99, 1000},
      {L"bytes 4294967296-5368709119/5368709120", true, 4294967296LL, 5368709119LL, 5368709120LL},
      {L"bytes 5-9/*", true, 5, 9, -1},
      {L"bytes  1-1/2 ", true, 1, 1, 2},
      {L"bytes */1000", false, 0, 0, 0},
      {L"bytes 9-5/10", false, 0, 0, 0},
      {L"bytes 0-10/10", false, 0, 0, 0},
      {L"items 0-1/2", false, 0, 0, 0},
      {L"bytes 0-1/2x", false, 0, 0, 0},
      {L"", false, 0, 0, 0},
      {L"bytes 99999999999999999999-1/2", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    ContentRange r;
    ASSERT_EQ(ParseContentRange(c.text, &r), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(r.first, c.first);
    EXPECT_EQ(r.last, c.last);
    EXPECT_EQ(r.total, c.total);
  }
}

TEST(HttpRules, StatusClasses) {
  EXPECT_EQ(ClassifyStatus(200), StatusClass::kFull);
  EXPECT_EQ(ClassifyStatus(206), StatusClass::kPartial);
  EXPECT_EQ(ClassifyStatus(416), StatusClass::kRangeError);
  for (int s : {408, 425, 429, 500, 502, 503, 504}) EXPECT_EQ(ClassifyStatus(s), StatusClass::kTransient) << s;
  for (int s : {204, 304, 400, 401, 403, 404, 410}) EXPECT_EQ(ClassifyStatus(s), StatusClass::kFatal) << s;
}

TEST(HttpRules, PartialAnswerMustMatchTheRequest) {
  ContentRange r{100, 199, 1000};
  EXPECT_TRUE(PartialAnswerFits(r, 100, 200, 1000));
  EXPECT_TRUE(PartialAnswerFits(r, 100, 500, 1000));   // shorter than asked: the rest is asked again
  EXPECT_TRUE(PartialAnswerFits(r, 100, RangePlan::kUnknownEnd, -1));
  EXPECT_FALSE(PartialAnswerFits(r, 0, 200, 1000));    // starts elsewhere
  EXPECT_FALSE(PartialAnswerFits(r, 100, 150, 1000));  // more than asked
  EXPECT_FALSE(PartialAnswerFits(r, 100, 200, 999));   // another size
}

TEST(HttpRules, Validators) {
  EXPECT_EQ(IfRangeValidator(L"\"x\"", L"date"), L"\"x\"");
  EXPECT_EQ(IfRangeValidator(L"W/\"x\"", L"date"), L"date");
  EXPECT_EQ(IfRangeValidator(L"", L""), L"");
  EXPECT_TRUE(SameFileVersion("\"a\"", "d1", 10, "\"a\"", "d2", 10));
  EXPECT_FALSE(SameFileVersion("\"a\"", "d1", 10, "\"b\"", "d1", 10));
  EXPECT_FALSE(SameFileVersion("", "d1", 10, "", "d2", 10));
  EXPECT_FALSE(SameFileVersion("\"a\"", "", 10, "\"a\"", "", 11));
  EXPECT_TRUE(SameFileVersion("", "", 10, "", "", -1));
}

TEST(HttpRules, RetryDelaysGrowWithJitterAndHonourRetryAfter) {
  for (uint32_t random : {0u, 12345u, 0xFFFFFFFFu}) {
    uint32_t first = RetryDelayMs(0, -1, random);
    EXPECT_GE(first, 375u);
    EXPECT_LE(first, 625u);
    uint32_t third = RetryDelayMs(2, -1, random);
    EXPECT_GE(third, 1500u);
    EXPECT_LE(third, 2500u);
    uint32_t late = RetryDelayMs(30, -1, random);
    EXPECT_GE(late, 22500u);
    EXPECT_LE(late, 37500u);
    EXPECT_GE(RetryDelayMs(0, 3, random), 3000u);
    EXPECT_LT(RetryDelayMs(0, 3, random), 3250u);
    EXPECT_LT(RetryDelayMs(0, 100000, random), 60250u);
  }
  EXPECT_NE(RetryDelayMs(3, -1, 1), RetryDelayMs(3, -1, 2000));
  EXPECT_EQ(ParseRetryAfter(L"7"), 7);
  EXPECT_EQ(ParseRetryAfter(L"Fri, 31 Dec 1999 23:59:59 GMT"), -1);
  EXPECT_EQ(ParseRetryAfter(L""), -1);
}

// ---- paths ------------------------------------------------------------------------------------------------

TEST(TaskPaths, FileNames) {
  for (const wchar_t* ok : {L"win7.gho", L"系统镜像 x86.gho", L"a", L".hidden"}) EXPECT_TRUE(IsUsableFileName(ok)) << ok;
  for (const wchar_t* bad : {L"", L".", L"..", L"a\\b", L"a/b", L"c:x", L"a*", L"a?", L"a\"", L"a<", L"a>", L"a|",
                             L"end.", L"end ", L"tab\t", L"x.gho.", L"CON.gho", L"nul", L"com1.gho"}) {
    EXPECT_FALSE(IsUsableFileName(bad)) << bad;
  }
}

TEST(TaskPaths, ExtendedFolders) {
  struct Case {
    const wchar_t* folder;
    const wchar_t* extended;
  } cases[] = {
      {L"C:\\VRLN\\Download", L"\\\\?\\C:\\VRLN\\Download"},
      {L"C:\\VRLN\\Download\\", L"\\\\?\\C:\\VRLN\\Download"},
      {L"d:/a/b", L"\\\\?\\d:\\a\\b"},
      {L"C:\\", L"\\\\?\\C:"},
      {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
      {L"\\\\?\\C:\\long", L"\\\\?\\C:\\long"},
      {L"relative\\x", L""},
      {L"", L""},
      {L"C:relative", L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ExtendedFolderPath(c.folder), c.extended) << c.folder;
}

TEST(TaskPaths, TempAndStateBesideTheFinalFile) {
  TaskPaths p;
  ASSERT_TRUE(MakeTaskPaths(L"C:\\VRLN\\Download", L"win7.gho", &p));
  EXPECT_EQ(p.final, L"\\\\?\\C:\\VRLN\\Download\\win7.gho");
  EXPECT_EQ(p.temp, L"\\\\?\\C:\\VRLN\\Download\\win7.gho.vltmp");
  EXPECT_EQ(p.state, L"\\\\?\\C:\\VRLN\\Download\\win7.gho.vlstate");
  EXPECT_FALSE(MakeTaskPaths(L"C:\\x", L"..", &p));
  EXPECT_FALSE(MakeTaskPaths(L"x", L"a.gho", &p));
}

TEST(TaskPaths, FirstCreatableFolder) {
  std::wstring drive = L"\\\\?\\C:\\a\\b";
  EXPECT_EQ(drive.substr(0, FirstCreatableSeparator(drive)), L"\\\\?\\C:");
  std::wstring unc = L"\\\\?\\UNC\\server\\share\\a";
  EXPECT_EQ(unc.substr(0, FirstCreatableSeparator(unc)), L"\\\\?\\UNC\\server\\share");
}

// ---- speed -------------------------------------------------------------------------------------------------

TEST(SpeedMeter, SlidingWindowFallsToZeroOnAStall) {
  SpeedMeter m;
  EXPECT_EQ(m.BytesPerSecond(0, 0), 0);
  int64_t bytes = 0;
  uint32_t t = 1000;
  for (int i = 0; i < 20; ++i, t += 250) {
    m.Add(t, bytes);
    bytes += 250 * 1000;  // 1,000,000 bytes per second
  }
  int32_t speed = m.BytesPerSecond(t, bytes);
  EXPECT_GT(speed, 950000);
  EXPECT_LT(speed, 1050000);
  // No more bytes: within the window the speed falls, after it it is zero.
  for (int i = 0; i < 6; ++i, t += 250) m.Add(t, bytes);
  EXPECT_LT(m.BytesPerSecond(t, bytes), speed);
  for (int i = 0; i < 14; ++i, t += 250) m.Add(t, bytes);
  EXPECT_EQ(m.BytesPerSecond(t, bytes), 0);
}

// ---- the order of durable writes ---------------------------------------------------------------------------

namespace {

HANDLE const kData = reinterpret_cast<HANDLE>(0x10);
HANDLE const kState = reinterpret_cast<HANDLE>(0x20);

// A file layer that keeps no bytes but records the order of calls, which data bytes were written and which
// of them a flush made durable, and checks every state written against the durable bytes.
class RecordingFiles : public FileLayer {
 public:
  std::vector<std::string> trace;
  std::vector<ByteInterval> written, durable;
  int claimsBeyondDisk = 0;  // states written that claimed bytes not yet flushed
  bool refuseRename = false;

  bool WriteAt(HANDLE file, int64_t offset, const void* data, DWORD size, DWORD*) override {
    if (file == kData) {
      written.push_back({offset, offset + size});
      written = MergeIntervals(written);
      trace.push_back("write data");
      return true;
    }
    DownloadState state;
    EXPECT_TRUE(DecodeStateSlot(static_cast<const uint8_t*>(data), size, &state));
    if (!Covers(durable, state.done)) ++claimsBeyondDisk;
    trace.push_back("write state");
    return true;
  }
  bool Flush(HANDLE file) override {
    if (file == kData) durable = written;
    trace.push_back(file == kData ? "flush data" : "flush state");
    return true;
  }
  bool SetSize(HANDLE, int64_t, DWORD*) override {
    trace.push_back("size data");
    return true;
  }
  bool Replace(const std::wstring& from, const std::wstring& to, DWORD* error) override {
    trace.push_back("rename " + Narrow(from) + " " + Narrow(to));
    *error = ERROR_ACCESS_DENIED;
    return !refuseRename;
  }
  void Remove(const std::wstring& path) override { trace.push_back("remove " + Narrow(path)); }

 private:
  static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
  static bool Covers(const std::vector<ByteInterval>& have, const std::vector<ByteInterval>& claims) {
    std::vector<ByteInterval> both = have;
    both.insert(both.end(), claims.begin(), claims.end());
    return IntervalBytes(MergeIntervals(both)) == IntervalBytes(MergeIntervals(have));
  }
};

DownloadState StateClaiming(std::vector<ByteInterval> done, int64_t total, uint64_t sequence) {
  DownloadState s;
  s.sequence = sequence;
  s.total = total;
  s.urlHash = 7;
  s.done = done;
  return s;
}

}  // namespace

// Bytes written by the connections are only claimed by a state once flushed: the flush of the data comes
// before the state's write, and the state is flushed after it.
TEST(DurableWrites, StateIsSavedOnlyAfterTheDataItClaimsIsFlushed) {
  RecordingFiles files;
  DWORD error = 0;
  files.WriteAt(kData, 0, "x", 1, &error);
  files.WriteAt(kData, 0, nullptr, 4 * MiB, &error);
  files.WriteAt(kData, 8 * MiB, nullptr, MiB, &error);
  ASSERT_TRUE(SaveStateAfterData(files, kData, kState, StateClaiming({{0, 4 * MiB}, {8 * MiB, 9 * MiB}}, 16 * MiB, 1)));
  files.WriteAt(kData, 4 * MiB, nullptr, MiB, &error);
  ASSERT_TRUE(SaveStateAfterData(files, kData, kState, StateClaiming({{0, 5 * MiB}, {8 * MiB, 9 * MiB}}, 16 * MiB, 2)));
  EXPECT_EQ(files.claimsBeyondDisk, 0);
  std::vector<std::string> expected = {"write data", "write data", "write data", "flush data", "write state",
                                       "flush state", "write data", "flush data", "write state", "flush state"};
  EXPECT_EQ(files.trace, expected);
}

// A complete download: cut to size and flushed, the state saved as complete, then the final name, then the
// state removed.
TEST(DurableWrites, FinalNameOnlyForFlushedDataAndStateRemovedLast) {
  RecordingFiles files;
  DWORD error = 0;
  files.WriteAt(kData, 0, nullptr, 3 * MiB, &error);
  ASSERT_TRUE(MakeCompleteDurable(files, kData, kState, StateClaiming({{0, 3 * MiB}}, 3 * MiB, 5)));
  EXPECT_EQ(GiveFinalName(files, L"d\\x.gho.vltmp", L"d\\x.gho", L"d\\x.gho.vlstate"), 0);
  EXPECT_EQ(files.claimsBeyondDisk, 0);
  std::vector<std::string> expected = {"write data",  "size data",   "flush data",
                                       "flush data",  "write state", "flush state",
                                       "rename d\\x.gho.vltmp d\\x.gho", "remove d\\x.gho.vlstate"};
  EXPECT_EQ(files.trace, expected);
}

// When the final name cannot be given (a read-only file or one in use has it), the complete data and its
// complete state stay: nothing is removed, and a new task finds every byte done.
TEST(DurableWrites, RefusedFinalNameKeepsTheDataAndItsState) {
  RecordingFiles files;
  files.refuseRename = true;
  DWORD error = 0;
  files.WriteAt(kData, 0, nullptr, 2 * MiB, &error);
  ASSERT_TRUE(MakeCompleteDurable(files, kData, kState, StateClaiming({{0, 2 * MiB}}, 2 * MiB, 9)));
  EXPECT_EQ(GiveFinalName(files, L"d\\x.gho.vltmp", L"d\\x.gho", L"d\\x.gho.vlstate"), kXlFailFinalName);
  EXPECT_EQ(files.trace.back(), "rename d\\x.gho.vltmp d\\x.gho");
  for (const std::string& call : files.trace) EXPECT_NE(call.compare(0, 6, "remove"), 0) << call;
}

TEST(DurableWrites, FileSystemsThatCannotHoldTheFile) {
  const struct {
    int64_t size;
    DWORD error;
    const wchar_t* fileSystem;
    bool tooLarge;
    int32_t code;
  } cases[] = {
      {0xFFFFFFFFLL, 0, L"FAT32", false, kXlFailWrite},
      {0x100000000LL, 0, L"FAT32", true, kXlFailTooLarge},
      {5LL << 30, ERROR_DISK_FULL, L"FAT", true, kXlFailTooLarge},
      {5LL << 30, ERROR_DISK_FULL, L"NTFS", false, kXlFailDiskFull},
      {5LL << 30, ERROR_DISK_FULL, L"exFAT", false, kXlFailDiskFull},
      {5LL << 30, ERROR_ACCESS_DENIED, L"", false, kXlFailTooLarge},  // the volume refuses the size itself
      {5LL << 30, ERROR_FILE_TOO_LARGE, L"NTFS", false, kXlFailTooLarge},
      {MiB, ERROR_ACCESS_DENIED, L"", false, kXlFailWrite},
      {MiB, ERROR_HANDLE_DISK_FULL, L"FAT32", false, kXlFailDiskFull},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TooLargeForFileSystem(c.size, c.fileSystem), c.tooLarge) << c.size;
    EXPECT_EQ(ReservationFailureCode(c.size, c.error, c.fileSystem), c.code) << c.size << " " << c.error;
  }
}
