// HTTP GET through WinINet: a body as text, or a body saved to a file. Blocking; worker threads only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Size caps of what the program reads from its server; a longer reply counts as a failed fetch.
constexpr size_t kVersionTextLimit = 4 * 1024;            // "/banben.txt", "/anzhuangbao.txt"
constexpr size_t kSignatureLimit = 4 * 1024;              // detached signatures
constexpr size_t kManifestLimit = 64 * 1024;              // the update manifest
constexpr size_t kCatalogueLimit = 4 * 1024 * 1024;       // "/systeminfof.txt"

enum FetchResult {
  kFetchOk = 0,
  kFetchFailed = 1,   // no connection, a status other than 200, a failed read
  kFetchTooLong = 2,  // the announced length or the body went past the cap
};

// The raw body of a GET of url, at most maxBytes long. Nothing a server sends ends the program: an
// oversized or endless reply stops at the cap.
FetchResult FetchUrlBytes(const std::wstring& url, size_t maxBytes, std::string& body);

// The body of a GET of url (at most maxBytes), decoded with the calling thread's ANSI code page. Empty on
// any failure: no connection, a status other than 200, a failed read, a body past the cap, or a body that
// decodes to nothing.
std::wstring FetchUrlText(const std::wstring& url, size_t maxBytes = kCatalogueLimit);
// Decodes bytes with the calling thread's ANSI code page (up to the first NUL); empty when nothing is left.
std::wstring DecodeAnsiText(const std::string& bytes);

// Results of DownloadUrlToFile.
enum DownloadResult {
  kDownloadOk = 0,
  kDownloadNoInternet = -1,     // the root internet handle could not be opened
  kDownloadNoUrl = -2,          // the URL could not be opened
  kDownloadNoBuffer = -3,       // the read buffer could not be allocated
  kDownloadNoFile = -4,         // the file could not be created
  kDownloadBadStatus = -5,      // the server answered a status other than 200
  kDownloadIncomplete = -6,     // the body ended before the length the server announced (or ran past it)
  kDownloadReadFailed = -7,     // reading the body failed
  kDownloadWriteFailed = -8,    // writing the file failed
};

// Saves the body of a GET of url as path (an existing file is replaced). Only a complete answer of status
// 200 is kept: on any failure a partly written file is deleted and a negative DownloadResult is returned,
// so that an error page is never saved under the installer's name.
// With maxBytes (not 0), a body longer than maxBytes fails as kDownloadIncomplete as soon as it passes it.
int DownloadUrlToFile(const std::wstring& url, const std::wstring& path, uint64_t maxBytes = 0);
