#include "boot/undo_log.h"

#include <windows.h>

#include "boot/command_runner.h"
#include "boot/file_writes.h"

namespace {

// A file removed, or none there; a folder of that name is not ours to remove (it kept the file from being
// written at all).
bool Gone(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (DeleteFileW(path.c_str())) return true;
  DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool RunStep(const UndoStep& step) {
  switch (step.action) {
    case UndoAction::RemoveFile: return Gone(step.path);
    case UndoAction::PutBackBytes:
      SetFileAttributesW(step.path.c_str(), FILE_ATTRIBUTE_NORMAL);
      return step.existed ? WriteWholeFile(step.path, step.bytes) : Gone(step.path);
    case UndoAction::CopyBack: {
      SetFileAttributesW(step.path.c_str(), FILE_ATTRIBUTE_NORMAL);
      bool back = CopyFileW(step.from.c_str(), step.path.c_str(), FALSE) != FALSE;
      return back && Gone(step.from);
    }
    case UndoAction::RunCommand: return RunHidden(step.command).Succeeded();
    case UndoAction::RemoveFolder:
      return RemoveDirectoryW(step.path.c_str()) != FALSE || GetLastError() == ERROR_FILE_NOT_FOUND;
  }
  return false;
}

}  // namespace

UndoStep RemoveFileStep(const std::wstring& path) {
  UndoStep s;
  s.action = UndoAction::RemoveFile;
  s.path = path;
  return s;
}

UndoStep PutBackBytesStep(const std::wstring& path, bool existed, const std::string& bytes) {
  UndoStep s;
  s.action = UndoAction::PutBackBytes;
  s.path = path;
  s.existed = existed;
  s.bytes = bytes;
  return s;
}

UndoStep CopyBackStep(const std::wstring& savedCopy, const std::wstring& path) {
  UndoStep s;
  s.action = UndoAction::CopyBack;
  s.from = savedCopy;
  s.path = path;
  return s;
}

UndoStep RunCommandStep(const std::wstring& commandLine) {
  UndoStep s;
  s.action = UndoAction::RunCommand;
  s.command = commandLine;
  return s;
}

UndoStep RemoveFolderStep(const std::wstring& path) {
  UndoStep s;
  s.action = UndoAction::RemoveFolder;
  s.path = path;
  return s;
}

bool RunUndoPlan(const std::vector<UndoStep>& plan) {
  bool all = true;
  for (const UndoStep& step : plan) all = RunStep(step) && all;
  return all;
}
