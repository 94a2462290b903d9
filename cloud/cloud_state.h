// What the cloud services learn and share with the window: the version check, the catalogue, the tool
// folder the program gives at start-up, and the flags between the window and the download threads.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/catalogue_entry.h"

struct CloudState {
  std::wstring CurrentVersion;  // the program's own version, "5.4"
  std::wstring ServerVersion;   // version offered by the server
  std::wstring InstallerUrl;    // address of the update installer
  int32_t VersionChecked = 0;
  std::vector<CatalogueEntry> Catalogue;
  std::wstring ToolFolder;      // short path of the Templates folder; empty when unresolved
};

extern CloudState TheCloudState;

// Each flag is read and written as a whole 32-bit word.
extern std::atomic<int32_t> DownloadPaused;         // 1 while the user has paused the download
extern std::atomic<int32_t> DownloadStopRequested;  // 1 once the user confirmed abandoning it
extern std::atomic<int32_t> DownloadDiscardPartial; // 1 when the abandoned download's partial file goes too
extern std::atomic<int32_t> CatalogueState;         // 0 not yet known, 1 fetched, -1 fetch failed
