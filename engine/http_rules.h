// Plain rules for reading HTTP answers: Content-Range, status classes, validators, retry delays.
#pragma once
#include <cstdint>
#include <string>

struct ContentRange {
  int64_t first = 0;   // first byte
  int64_t last = 0;    // last byte (inclusive)
  int64_t total = -1;  // -1 for "*"
};

// "bytes 0-99/1000" or "bytes 0-99/*". False for anything else (including "bytes */1000").
bool ParseContentRange(const std::wstring& text, ContentRange* out);
// A decimal 64-bit number (Content-Length); false when it is not one.
bool ParseDecimal64(const std::wstring& text, int64_t* out);

enum class StatusClass {
  kFull,        // 200: the whole file
  kPartial,     // 206: the range asked for
  kTransient,   // 408, 425, 429, 5xx: try again later
  kRangeError,  // 416: the range lies beyond the file
  kFatal,       // other 4xx, unexpected 1xx/3xx: give up
};
StatusClass ClassifyStatus(int status);

// Whether a 206 answer fits the request [from, to) of a file whose size we know (knownTotal, or -1):
// it must start at from, end within the request and name the same size.
bool PartialAnswerFits(const ContentRange& range, int64_t from, int64_t to, int64_t knownTotal);

// The validator for If-Range: a strong ETag, else the Last-Modified date, else empty (cannot validate).
std::wstring IfRangeValidator(const std::wstring& etag, const std::wstring& lastModified);

// Whether the file behind two answers differs, judged by ETag, then Last-Modified, then size.
bool SameFileVersion(const std::string& etagA, const std::string& modifiedA, int64_t sizeA,
                     const std::string& etagB, const std::string& modifiedB, int64_t sizeB);

// Delay before retry number `attempt` (0 for the first retry): 500 ms doubling to 30 s, with +-25 %
// jitter from `random` (any 32-bit value); a Retry-After of n seconds (n >= 0, at most 60 used) wins.
uint32_t RetryDelayMs(int attempt, int retryAfterSeconds, uint32_t random);
// Retry-After in seconds, or -1 when absent or given as a date.
int ParseRetryAfter(const std::wstring& text);

// ASCII conversions for header values.
std::string NarrowAscii(const std::wstring& text);
std::wstring WidenAscii(const std::string& text);

// Whether a request sent over HTTPS ended, after redirects, at an address that is not HTTPS: such an answer
// is refused (a redirect must never lower the transport's protection).
bool IsRedirectDowngrade(bool sentSecure, const std::wstring& finalUrl);
