#include "cloud/update_install.h"

#include "base/late_bound.h"
#include "base/sha256.h"

namespace {

// Administrators and the system: full access, inherited by files and folders below; nothing else.
const wchar_t kPrivateFolderSddl[] = L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)";
const DWORD kHashPiece = 64 * 1024;


// Frees a security descriptor made by the SDDL conversion.
class LocalMemory {
 public:
  explicit LocalMemory(void* p) : p_(p) {}
  ~LocalMemory() {
    if (p_ != nullptr) LocalFree(p_);
  }
  LocalMemory(const LocalMemory&) = delete;
  LocalMemory& operator=(const LocalMemory&) = delete;

 private:
  void* p_;
};

bool HashThroughHandle(HANDLE file, uint64_t size, std::string& hex) {
  LARGE_INTEGER zero = {};
  if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN)) return false;
  vorlane::Sha256 hash;
  std::string buffer(kHashPiece, '\0');
  uint64_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, &buffer[0], kHashPiece, &got, nullptr)) return false;
    if (got == 0) break;
    hash.Update(buffer.data(), got);
    total += got;
  }
  if (total != size) return false;
  uint8_t digest[32];
  hash.Final(digest);
  hex = vorlane::Sha256::Hex(digest);
  return true;
}

}  // namespace

std::wstring DefaultUpdateParent() {
  wchar_t windows[MAX_PATH] = {0};
  UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::wstring();
  std::wstring parent(windows, n);
  if (!parent.empty() && parent.back() == L'\\') parent.pop_back();
  return parent + L"\\Temp";
}

bool CreatePrivateFolder(const std::wstring& parent, std::wstring& folder) {
  if (parent.empty()) return false;
  // Without the conversion no folder is made: the installer is never written where others could change it.
  const auto convert = SystemCalls().convertStringSecurityDescriptorToSecurityDescriptorW;
  if (convert == nullptr) return false;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!convert(kPrivateFolderSddl, 1 /* SDDL_REVISION_1 */, &sd, nullptr)) return false;
  LocalMemory freeSd(sd);
  SECURITY_ATTRIBUTES sa = {sizeof(sa), sd, FALSE};
  CreateDirectoryW(parent.c_str(), nullptr);  // the Windows folder's Temp normally exists already
  for (unsigned n = 0; n < 100; ++n) {
    std::wstring candidate = parent + L"\\VorlaneUpdate." + std::to_wstring(GetCurrentProcessId()) + L"." +
                             std::to_wstring(GetTickCount()) + L"." + std::to_wstring(n);
    // A new folder only: an existing one (perhaps planted) is never reused.
    if (CreateDirectoryW(candidate.c_str(), &sa)) {
      folder = candidate;
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

InstallerCheck OpenAndCheckInstaller(const std::wstring& path, uint64_t size, const std::string& sha256,
                                     UniqueHandle& held) {
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return kInstallerUnreadable;
  LARGE_INTEGER length = {};
  if (!GetFileSizeEx(file.Get(), &length)) return kInstallerUnreadable;
  if (static_cast<uint64_t>(length.QuadPart) != size) return kInstallerWrongSize;
  std::string hex;
  if (!HashThroughHandle(file.Get(), size, hex)) return kInstallerUnreadable;
  if (hex != sha256) return kInstallerWrongHash;
  held = std::move(file);
  return kInstallerOk;
}

bool StartInstaller(const std::wstring& path, const std::wstring& folder) {
  std::wstring command = L"\"" + path + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(path.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
    return false;
  }
  UniqueHandle process(pi.hProcess);
  UniqueHandle thread(pi.hThread);
  return true;
}

void RemoveUpdateFolder(const std::wstring& folder, const std::wstring& path) {
  if (!path.empty()) DeleteFileW(path.c_str());
  if (!folder.empty()) RemoveDirectoryW(folder.c_str());
}
