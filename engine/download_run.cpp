#include "engine/download_run.h"

#include <algorithm>
#include <vector>
#include "base/late_bound.h"
#include "engine/durable_files.h"
#include "engine/http_rules.h"
#include "engine/xldl.h"

namespace {

constexpr int64_t kMinPiece = 1024 * 1024;    // no range is split into pieces smaller than this
constexpr int64_t kNoSplit = INT64_MAX / 4;    // a piece size that forbids splitting
constexpr uint32_t kStallMs = 6000;            // a connection without progress this long may be taken over
constexpr int64_t kProbeBytes = 1024 * 1024;  // the first request of a download of unknown size
constexpr DWORD kBufferSize = 256 * 1024;      // per connection
constexpr DWORD kMinFill = 32 * 1024;          // bytes gathered before a write
constexpr int64_t kSaveEvery = 512 * 1024;         // per connection: unsaved bytes that trigger a state save
constexpr DWORD kSaveIntervalMs = 1000;
constexpr int kMaxFailures = 12;               // failed attempts in a row without a byte written
constexpr int kMaxMismatches = 4;              // inconsistent answers in a row
constexpr DWORD kRaiseCapAfterMs = 15000;      // a refused connection: try one more again this much later

HMODULE g_module = nullptr;

bool ReadWholeFile(HANDLE file, std::vector<uint8_t>* out) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file, &size) || size.QuadPart > 64 * 1024) return false;
  out->resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (out->empty()) return true;
  return ReadFile(file, out->data(), static_cast<DWORD>(out->size()), &got, nullptr) && got == out->size();
}

bool IsDiskFull(DWORD error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

}  // namespace

// ---- shared pieces -----------------------------------------------------------------------------------

void SpeedLimiter::SetRate(int64_t bytesPerSecond) {
  LockHolder hold(lock_);
  rate_ = bytesPerSecond > 0 ? bytesPerSecond : 0;
  tokens_ = 0;
  last_ = GetTickCount();
}

int64_t SpeedLimiter::Rate() {
  LockHolder hold(lock_);
  return rate_;
}

void SpeedLimiter::Acquire(int64_t n, HANDLE stopEvent) {
  for (;;) {
    DWORD waitMs;
    {
      LockHolder hold(lock_);
      if (rate_ == 0) return;
      DWORD now = GetTickCount();
      tokens_ = std::min<double>(tokens_ + (now - last_) * rate_ / 1000.0, static_cast<double>(rate_));
      last_ = now;
      if (tokens_ >= 0) {
        tokens_ -= static_cast<double>(n);  // may go negative: the next caller waits for it
        return;
      }
      waitMs = static_cast<DWORD>(-tokens_ * 1000.0 / rate_) + 1;
    }
    if (WaitForSingleObject(stopEvent, std::min<DWORD>(waitMs, 200)) == WAIT_OBJECT_0) return;
  }
}

SpeedLimiter& GlobalSpeedLimiter() {
  static SpeedLimiter limiter;
  return limiter;
}

void SetEngineModule(HMODULE module) { g_module = module; }

HMODULE AcquireEngineModule() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  if (!g_module || n == 0 || n >= MAX_PATH) return nullptr;
  return LoadLibraryW(path);
}

void ExitEngineThread(HMODULE held, DWORD code) {
  // The thread must give back its module reference and end in one step.
  FreeLibraryAndExit(held, code);
}

// ---- the run -----------------------------------------------------------------------------------------

DownloadRun::DownloadRun(const RunParams& params) : params_(params) {
  cap_ = params.maxConnections;
  wake_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  stopEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  LARGE_INTEGER seed;
  QueryPerformanceCounter(&seed);
  random_ = static_cast<uint32_t>(seed.QuadPart) ^ GetCurrentThreadId() ^ 0x9E3779B9u;
}

DownloadRun::~DownloadRun() = default;

uint32_t DownloadRun::NextRandom() {
  LockHolder hold(lock_);
  random_ ^= random_ << 13;
  random_ ^= random_ >> 17;
  random_ ^= random_ << 5;
  return random_;
}

bool DownloadRun::Start() {
  AddRef();
  HMODULE held = AcquireEngineModule();
  struct Start {
    DownloadRun* run;
    HMODULE held;
  };
  auto* start = new Start{this, held};
  HANDLE thread = CreateThread(nullptr, 64 * 1024, ControllerMain, start, 0, nullptr);
  if (!thread) {
    delete start;
    if (held) FreeLibrary(held);
    {
      LockHolder hold(lock_);
      status_ = kXlStatusFailed;
      failCode_ = kXlFailInternet;
    }
    Release();
    return false;
  }
  controller_.Reset(thread);
  return true;
}

DWORD WINAPI DownloadRun::ControllerMain(void* arg) {
  struct Start {
    DownloadRun* run;
    HMODULE held;
  };
  Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  start.run->Control();
  start.run->Release();
  ExitEngineThread(start.held, 0);
}

void DownloadRun::Stop() {
  stopRequested_ = true;
  SetEvent(wake_.Get());
  if (controller_) WaitForSingleObject(controller_.Get(), INFINITE);
}

RunSnapshot DownloadRun::Snapshot() {
  LockHolder hold(lock_);
  RunSnapshot s;
  s.status = status_;
  s.failCode = failCode_;
  int64_t total = plan_.Total();
  s.total = total == RangePlan::kUnknownEnd ? 0 : total;
  s.done = plan_.DoneBytes();
  s.speed = status_ == kXlStatusRunning ? meter_.BytesPerSecond(GetTickCount(), s.done) : 0;
  return s;
}

void DownloadRun::Fail(int32_t code) {
  LockHolder hold(lock_);
  if (failCode_ == 0) failCode_ = code;
  SetEvent(wake_.Get());
}

void DownloadRun::Control() {
  if (!Prepare()) {
    EndRun(kXlStatusFailed);
    return;
  }
  SpawnWorker();
  for (;;) {
    WaitForSingleObject(wake_.Get(), 100);
    if (stopRequested_) {
      EndRun(kXlStatusStopped);
      return;
    }
    bool complete, failed;
    {
      LockHolder hold(lock_);
      complete = plan_.Complete();
      failed = failCode_ != 0;
    }
    if (failed) {
      EndRun(kXlStatusFailed);
      return;
    }
    if (complete) {
      Finish();
      return;
    }
    Tick();
  }
}

bool DownloadRun::Prepare() {
  if (!MakeTaskPaths(params_.folder, params_.name, &paths_) || !ParseHttpUrl(params_.url, &target_)) {
    Fail(kXlFailBadParams);
    return false;
  }
  if (!CreateFolder()) {
    Fail(kXlFailCreatePath);
    return false;
  }
  fileSystem_ = FileSystemOf(params_.folder);
  DownloadState state;
  bool resume = false;
  {
    UniqueHandle stateFile(CreateFileW(paths_.state.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<uint8_t> content;
    if (stateFile && ReadWholeFile(stateFile.Get(), &content) && DecodeStateFile(content, &state) &&
        state.urlHash == TextHash(params_.url) && state.rangesSupported) {
      WIN32_FILE_ATTRIBUTE_DATA attrs;
      if (GetFileAttributesExW(paths_.temp.c_str(), GetFileExInfoStandard, &attrs)) {
        int64_t size = (static_cast<int64_t>(attrs.nFileSizeHigh) << 32) | attrs.nFileSizeLow;
        resume = size == state.total;
      }
    }
  }
  if (!OpenFiles(resume, state)) return false;
  session_.Reset(OpenHttpSession(params_.http));
  if (!session_) {
    Fail(kXlFailInternet);
    return false;
  }
  return true;
}

bool DownloadRun::CreateFolder() {
  const std::wstring& folder = paths_.folder;
  DWORD attrs = GetFileAttributesW(folder.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::wstring::size_type sep = FirstCreatableSeparator(folder);
  while (sep != std::wstring::npos) {
    std::wstring::size_type next = folder.find(L'\\', sep + 1);
    std::wstring part = folder.substr(0, next);
    if (next != std::wstring::npos) CreateDirectoryW(part.c_str(), nullptr);
    sep = next;
  }
  CreateDirectoryW(folder.c_str(), nullptr);
  attrs = GetFileAttributesW(folder.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DownloadRun::OpenFiles(bool resume, const DownloadState& state) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  UniqueHandle data(CreateFileW(paths_.temp.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                resume ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!data) {
    Fail(IsDiskFull(GetLastError()) ? kXlFailDiskFull : kXlFailCreatePath);
    return false;
  }
  UniqueHandle stateFile(CreateFileW(paths_.state.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                                     resume ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stateFile) {
    Fail(IsDiskFull(GetLastError()) ? kXlFailDiskFull : kXlFailCreatePath);
    return false;
  }
  LockHolder hold(lock_);
  data_ = std::move(data);
  state_ = std::move(stateFile);
  if (resume) {
    plan_.Reset(state.total, state.done);
    plan_.DivideFree(params_.maxConnections, kMinPiece);
    etag_ = state.etag;
    lastModified_ = state.lastModified;
    stateSequence_ = state.sequence;
    savedBytes_ = plan_.DoneBytes();
    preallocated_ = state.total;
    resumed_ = true;
  } else {
    plan_.Reset(RangePlan::kUnknownEnd, {});
  }
  lastSave_ = GetTickCount();
  return true;
}

void DownloadRun::Tick() {
  DWORD now = GetTickCount();
  bool save;
  {
    LockHolder hold(lock_);
    meter_.Add(now, plan_.DoneBytes());
    int64_t unsaved = plan_.DoneBytes() - savedBytes_;
    save = plan_.Total() != RangePlan::kUnknownEnd && rangesSupported_ &&
           (unsaved >= kSaveEvery * std::max(1, active_) || (unsaved > 0 && now - lastSave_ >= kSaveIntervalMs));
    if (lastRefusal_ != 0 && rangesSupported_ && cap_ < params_.maxConnections &&
        now - lastRefusal_ >= kRaiseCapAfterMs) {
      ++cap_;
      lastRefusal_ = now;
    }
  }
  if (save) SaveState();
  SpawnWorkers();
}

void DownloadRun::SpawnWorkers() {
  for (;;) {
    {
      LockHolder hold(lock_);
      if (stopped_ || failCode_ != 0) return;
      bool more = active_ == 0 ||
                  (validated_ && rangesSupported_ && active_ < cap_ &&
                   plan_.HasWork(GetTickCount(), kMinPiece, kStallMs));
      if (!more) return;
    }
    if (!SpawnWorker()) return;
  }
}

bool DownloadRun::SpawnWorker() {
  int id;
  {
    LockHolder hold(lock_);
    id = nextWorker_++;
    ++active_;
  }
  AddRef();
  HMODULE held = AcquireEngineModule();
  struct Start {
    DownloadRun* run;
    int id;
    HMODULE held;
  };
  auto* start = new Start{this, id, held};
  HANDLE thread = CreateThread(nullptr, 64 * 1024, WorkerMain, start, 0, nullptr);
  if (!thread) {
    delete start;
    if (held) FreeLibrary(held);
    {
      LockHolder hold(lock_);
      --active_;
    }
    Release();
    return false;
  }
  CloseHandle(thread);
  return true;
}

DWORD WINAPI DownloadRun::WorkerMain(void* arg) {
  struct Start {
    DownloadRun* run;
    int id;
    HMODULE held;
  };
  Start start = *static_cast<Start*>(arg);
  delete static_cast<Start*>(arg);
  start.run->Work(start.id);
  start.run->Release();
  ExitEngineThread(start.held, 0);
}

bool DownloadRun::SnapshotState(DownloadState* state, HANDLE* data, HANDLE* stateFile) {
  // Called with the lock held.
  if (!data_ || !state_ || plan_.Total() == RangePlan::kUnknownEnd || !rangesSupported_) return false;
  state->sequence = ++stateSequence_;
  state->total = plan_.Total();
  state->urlHash = TextHash(params_.url);
  state->rangesSupported = true;
  state->etag = etag_;
  state->lastModified = lastModified_;
  state->done = plan_.Done();
  *data = data_.Get();
  *stateFile = state_.Get();
  return true;
}

void DownloadRun::SaveState() {
  DownloadState state;
  HANDLE data, stateFile;
  {
    LockHolder hold(lock_);
    if (!SnapshotState(&state, &data, &stateFile)) return;
    lastSave_ = GetTickCount();
  }
  // Everything counted in the snapshot was written (under the lock) before it was taken.
  SaveStateAfterData(files_, data, stateFile, state);
  LockHolder hold(lock_);
  savedBytes_ = IntervalBytes(state.done);
}

void DownloadRun::EndRun(int32_t status) {
  {
    LockHolder hold(lock_);
    stopped_ = true;
    plan_.ReleaseAll();
  }
  ended_ = true;
  SetEvent(stopEvent_.Get());
  SaveState();
  LockHolder hold(lock_);
  data_.Reset();
  state_.Reset();
  status_ = status;
}

void DownloadRun::Finish() {
  DownloadState complete;
  HANDLE data = nullptr, stateFile = nullptr;
  bool haveState;
  int64_t total;
  {
    LockHolder hold(lock_);
    stopped_ = true;
    haveState = SnapshotState(&complete, &data, &stateFile);
    if (!haveState) data = data_.Get();
    total = plan_.Total();
  }
  ended_ = true;
  SetEvent(stopEvent_.Get());
  complete.total = total;
  bool durable;
  if (haveState) {
    durable = MakeCompleteDurable(files_, data, stateFile, complete);
  } else {
    // No state to keep (a server without ranges): the data is made durable all the same.
    DWORD error = 0;
    durable = files_.SetSize(data, total, &error) && files_.Flush(data);
  }
  {
    LockHolder hold(lock_);
    data_.Reset();
    state_.Reset();
  }
  int32_t code = durable ? GiveFinalName(files_, paths_.temp, paths_.final, paths_.state) : kXlFailWrite;
  LockHolder hold(lock_);
  if (code != kXlFailNone && failCode_ == 0) failCode_ = code;
  status_ = code == kXlFailNone ? kXlStatusCompleted : kXlStatusFailed;
  meter_.Reset();
}

// ---- a worker: one connection ------------------------------------------------------------------------

void DownloadRun::Work(int id) {
  std::vector<char> buffer(kBufferSize);
  int attempt = 0;
  for (;;) {
    Assignment a;
    {
      LockHolder hold(lock_);
      if (stopped_ || failCode_ != 0) break;
      bool allowed = rangesSupported_ || plan_.DoneBytes() == 0;
      int64_t minPiece = rangesSupported_ ? kMinPiece : kNoSplit;
      if (!allowed || !plan_.Assign(id, GetTickCount(), minPiece, rangesSupported_ ? kStallMs : 0xFFFFFFFFu, &a)) {
        break;
      }
    }
    uint32_t delayMs = 0;
    FetchResult result = Fetch(id, &a, buffer.data(), &delayMs);
    {
      LockHolder hold(lock_);
      plan_.Release(id, a.segment);
      if (!rangesSupported_ && result != FetchResult::kDone && !stopped_) {
        // Without ranges a broken transfer can only start again from the first byte.
        plan_.Reset(plan_.Total(), {});
      }
    }
    if (result == FetchResult::kDone) {
      attempt = 0;
      continue;
    }
    if (result == FetchResult::kStop || result == FetchResult::kFatal) break;
    bool leave = false;
    {
      LockHolder hold(lock_);
      if (result == FetchResult::kRefused && active_ > 1) {
        // The server wants fewer connections: this one gives way. That is no failure of the download,
        // and the count drops under the same lock so that concurrent refusals lower the cap in turn.
        --active_;
        cap_ = std::max(1, std::min(cap_, active_));
        lastRefusal_ = GetTickCount() | 1;
        SetEvent(wake_.Get());
        return;
      }
      ++failures_;
      if (failures_ > kMaxFailures && failCode_ == 0) failCode_ = kXlFailNetwork;
      if (failCode_ != 0) leave = true;
    }
    if (leave) break;
    if (WaitForSingleObject(stopEvent_.Get(), RetryDelayMs(attempt, delayMs ? static_cast<int>(delayMs / 1000) : -1,
                                                          NextRandom())) == WAIT_OBJECT_0) {
      break;
    }
    ++attempt;
  }
  {
    LockHolder hold(lock_);
    --active_;
  }
  SetEvent(wake_.Get());
}

std::wstring DownloadRun::RangeHeaders(const Assignment& a) {
  LockHolder hold(lock_);
  if (!rangesSupported_) return std::wstring();
  // While the size is unknown, a first small range: its answer names the size, and nothing is sent
  // that another connection will fetch.
  int64_t last = a.to != RangePlan::kUnknownEnd ? a.to - 1 : a.from + kProbeBytes - 1;
  std::wstring headers = L"Range: bytes=" + std::to_wstring(a.from) + L"-" + std::to_wstring(last);
  headers += L"\r\n";
  std::wstring validator = IfRangeValidator(WidenAscii(etag_), WidenAscii(lastModified_));
  if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
  return headers;
}

DownloadRun::FetchResult DownloadRun::Fetch(int id, Assignment* a, char* buffer, uint32_t* delayMs) {
  InternetHandle connection, request;
  HttpAnswer answer;
  HINTERNET session;
  HttpTarget target;
  {
    LockHolder hold(lock_);
    if (stopped_) return FetchResult::kStop;
    session = session_.Get();
    target = target_;
  }
  DWORD error = SendGet(session, target, RangeHeaders(*a), &connection, &request, &answer);
  if (error != ERROR_SUCCESS) {
    if (stopRequested_) return FetchResult::kStop;
    if (IsPermanentNetworkError(error)) {
      Fail(kXlFailNetwork);
      return FetchResult::kFatal;
    }
    return IsConnectionRefusal(error) ? FetchResult::kRefused : FetchResult::kRetry;
  }
  if ((answer.status == 200 || answer.status == 206) && !answer.finalUrl.empty()) {
    // After a redirect, the next requests go straight to where it led.
    HttpTarget moved;
    if (ParseHttpUrl(answer.finalUrl, &moved)) {
      LockHolder hold(lock_);
      target_ = moved;
    }
  }
  FetchResult result;
  // A connection closed before any status line reads as status 0: the server refused it.
  StatusClass kind = answer.status < 100 ? StatusClass::kTransient : ClassifyStatus(answer.status);
  switch (kind) {
    case StatusClass::kTransient: {
      int after = ParseRetryAfter(answer.retryAfter);
      *delayMs = after >= 0 ? static_cast<uint32_t>(after) * 1000u + 1 : 0;
      bool refused = answer.status == 503 || answer.status == 429 || answer.status < 100;
      result = refused ? FetchResult::kRefused : FetchResult::kRetry;
      break;
    }
    case StatusClass::kFatal:
      Fail(answer.status >= 400 && answer.status <= 599 ? answer.status : kXlFailBadResponse);
      result = FetchResult::kFatal;
      break;
    case StatusClass::kRangeError: {
      // "bytes */0" to "bytes=0-": the file is empty. Otherwise the file is shorter than we knew it.
      LockHolder hold(lock_);
      if (answer.contentRange == L"bytes */0" && a->from == 0 && plan_.DoneBytes() == 0) {
        plan_.Reset(0, {});
        result = FetchResult::kDone;
      } else if (!validated_) {
        plan_.Reset(RangePlan::kUnknownEnd, {});
        etag_.clear();
        lastModified_.clear();
        resumed_ = false;
        result = FetchResult::kRetry;
        *delayMs = 1;
      } else {
        result = FetchResult::kRetry;
      }
      break;
    }
    case StatusClass::kFull:
      result = OnFullAnswer(id, a, answer);
      if (result == FetchResult::kDone) result = ReadInto(id, *a, request.Get(), buffer, RangePlan::kUnknownEnd);
      break;
    case StatusClass::kPartial:
      result = OnPartialAnswer(id, *a, answer);
      if (result == FetchResult::kDone) {
        ContentRange range;
        ParseContentRange(answer.contentRange, &range);
        result = ReadInto(id, *a, request.Get(), buffer, range.last + 1);
      }
      break;
    default:
      result = FetchResult::kRetry;
      break;
  }
  // Each connection closes only its own handles (a handle closed from another thread could be reused
  // by a new request while this one still reads). A run that ended is noticed between reads.
  return stopRequested_ && result != FetchResult::kFatal ? FetchResult::kStop : result;
}

bool DownloadRun::SameVersionAs(const HttpAnswer& answer, int64_t size) {
  return SameFileVersion(etag_, lastModified_, plan_.Total() == RangePlan::kUnknownEnd ? -1 : plan_.Total(),
                         NarrowAscii(answer.etag), NarrowAscii(answer.lastModified), size);
}

void DownloadRun::RememberValidators(const HttpAnswer& answer) {
  etag_ = NarrowAscii(answer.etag).substr(0, 255);
  lastModified_ = NarrowAscii(answer.lastModified).substr(0, 63);
}

DownloadRun::FetchResult DownloadRun::OnFullAnswer(int id, Assignment* a, const HttpAnswer& answer) {
  int64_t size = -1;
  if (!ParseDecimal64(answer.contentLength, &size)) size = -1;
  LockHolder hold(lock_);
  if (stopped_) return FetchResult::kStop;
  bool fresh = plan_.DoneBytes() == 0 && !resumed_;
  bool changed = !fresh && !SameVersionAs(answer, size);
  // Either the server ignores ranges (same file) or the file changed (If-Range failed): both restart from
  // byte 0 with this answer. Ranges stay in use only when the file changed.
  rangesSupported_ = changed;
  if (!changed) cap_ = 1;
  RememberValidators(answer);
  plan_.Reset(size >= 0 ? size : RangePlan::kUnknownEnd, {});
  savedBytes_ = 0;
  resumed_ = false;
  validated_ = true;
  if (!plan_.Assign(id, GetTickCount(), kNoSplit, 0xFFFFFFFFu, a) || a->from != 0) return FetchResult::kRetry;
  if (size >= 0 && size != preallocated_ && !Preallocate(size)) return FetchResult::kFatal;
  failures_ = 0;
  mismatches_ = 0;
  return FetchResult::kDone;
}

DownloadRun::FetchResult DownloadRun::OnPartialAnswer(int id, const Assignment& a, const HttpAnswer& answer) {
  ContentRange range;
  LockHolder hold(lock_);
  if (stopped_) return FetchResult::kStop;
  int64_t known = plan_.Total() == RangePlan::kUnknownEnd ? -1 : plan_.Total();
  if (!ParseContentRange(answer.contentRange, &range) || range.total < 0 ||
      !PartialAnswerFits(range, a.from, a.to, known)) {
    ++mismatches_;
    if (mismatches_ >= kMaxMismatches && failCode_ == 0) {
      failCode_ = kXlFailBadResponse;
      return FetchResult::kFatal;
    }
    return FetchResult::kRetry;
  }
  if ((!etag_.empty() || !lastModified_.empty()) && !SameVersionAs(answer, range.total)) {
    // The server ignored If-Range but the file is another one: start again from zero.
    RememberValidators(answer);
    plan_.Reset(range.total, {});
    savedBytes_ = 0;
    resumed_ = false;
    validated_ = false;
    return FetchResult::kRetry;
  }
  if (known < 0) {
    plan_.SetTotal(range.total);
    RememberValidators(answer);
    if (range.total != preallocated_ && !Preallocate(range.total)) return FetchResult::kFatal;
    // This answer covers the first bytes only; the rest is shared out in pieces for the other connections.
    if (plan_.Owns(id, a.segment)) plan_.SplitAt(a.segment, range.last + 1);
    plan_.DivideFree(params_.maxConnections, kMinPiece);
  }
  validated_ = true;
  rangesSupported_ = true;
  mismatches_ = 0;
  if (!plan_.Owns(id, a.segment)) return FetchResult::kRetry;
  return FetchResult::kDone;
}

bool DownloadRun::Preallocate(int64_t total) {
  // Called with the lock held. Reserving the whole size at once reports a full disk, or a file system that
  // cannot hold a file this large, before any byte is downloaded.
  DWORD error = 0;
  if (TooLargeForFileSystem(total, fileSystem_) || !files_.SetSize(data_.Get(), total, &error)) {
    if (failCode_ == 0) failCode_ = ReservationFailureCode(total, error, fileSystem_);
    SetEvent(wake_.Get());
    return false;
  }
  preallocated_ = total;
  return true;
}

DownloadRun::FetchResult DownloadRun::ReadInto(int id, const Assignment& a, HINTERNET request, char* buffer,
                                               int64_t answerEnd) {
  int64_t offset = a.from;
  SpeedLimiter& limiter = GlobalSpeedLimiter();
  for (;;) {
    if (stopRequested_ || ended_) return FetchResult::kStop;
    DWORD want = kBufferSize;
    int64_t rate = limiter.Rate();
    if (rate > 0) want = static_cast<DWORD>(std::max<int64_t>(4096, std::min<int64_t>(kBufferSize, rate / 8)));
    limiter.Acquire(want, stopEvent_.Get());
    DWORD got = 0;
    bool ok = ReadBody(request, buffer, want, std::min(want, kMinFill), &got);
    if (got > 0) {
      LockHolder hold(lock_);
      if (stopped_) return FetchResult::kStop;
      int64_t n = plan_.Writable(id, a.segment, offset, got);
      if (n == 0) return FetchResult::kDone;  // the range was taken over or the plan started again
      DWORD error = 0;
      if (!files_.WriteAt(data_.Get(), offset, buffer, static_cast<DWORD>(n), &error)) {
        if (failCode_ == 0) failCode_ = IsDiskFull(error) ? kXlFailDiskFull : kXlFailWrite;
        SetEvent(wake_.Get());
        return FetchResult::kFatal;
      }
      plan_.Advance(a.segment, n, GetTickCount());
      offset += n;
      failures_ = 0;
      if (plan_.DoneBytes() - savedBytes_ >= kSaveEvery * std::max(1, active_)) SetEvent(wake_.Get());
      if (n < got || offset >= plan_.End(a.segment)) return FetchResult::kDone;
    }
    if (!ok) return FetchResult::kRetry;
    if (got == 0) {
      // The body ended. Without a known size that is the end of the file; otherwise it came short.
      LockHolder hold(lock_);
      if (plan_.Total() == RangePlan::kUnknownEnd && plan_.Owns(id, a.segment)) {
        plan_.FinishAtPosition(a.segment);
        return FetchResult::kDone;
      }
      // A range answer that ended where it said it would leaves the rest of the segment to a new request.
      return offset >= std::min(answerEnd, plan_.End(a.segment)) ? FetchResult::kDone : FetchResult::kRetry;
    }
  }
}
