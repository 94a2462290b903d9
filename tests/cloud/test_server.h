// The reference server the HTTP tests talk to: its address comes from VORLANE_TEST_SERVER (set by
// server/with_server.py), and its control interface sets content and faults.
#pragma once
#include <string>

namespace test_server {

// "http://127.0.0.1:PORT", or empty when the test runs without a server.
std::wstring BaseUrl();

// Serves path with exactly these bytes (POST /_control/file).
bool PutFile(const std::wstring& path, const std::string& bytes);
// Adds a fault given as a query string, e.g. "path=/banben.txt&status=404".
bool AddFault(const std::string& query);
// A GET of the server's control interface, e.g. "/_control/virtual?path=/a&size=5"; "\x01" on failure.
std::string Get(const std::string& pathAndQuery);
// Removes faults, in-memory files and counters.
bool Reset();
// The control interface's statistics (JSON text).
std::string Stats();

// Reads a whole file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// A new empty folder under the temporary folder.
std::wstring MakeTempFolder(const wchar_t* prefix);

}  // namespace test_server
