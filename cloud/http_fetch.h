// HTTP GET through WinINet: a body as text, or a body saved to a file. Blocking; worker threads only.
#pragma once
#include <string>

// The body of a GET of url, decoded with the calling thread's ANSI code page. Empty on any failure: no
// connection, a status other than 200, a failed read, or a body that decodes to nothing.
std::wstring FetchUrlText(const std::wstring& url);

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
int DownloadUrlToFile(const std::wstring& url, const std::wstring& path);
