// Process-wide flags shared between the window and its worker threads. Each is read and written as a
// whole 32-bit word.
#pragma once
#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> DownloadPaused;         // 1 while the user has paused the download
extern std::atomic<int32_t> DownloadStopRequested;  // 1 once the user confirmed abandoning it
extern std::atomic<int32_t> DownloadDiscardPartial; // 1 when the abandoned download's partial file goes too
extern std::atomic<int32_t> CatalogueState;         // 0 not yet known, 1 fetched, -1 fetch failed
