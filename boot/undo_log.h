// What a boot preparation did, kept as the steps that take it back: a failed preparation runs them in the
// reverse order of their recording and leaves the system drive and the boot configuration as they were.
#pragma once
#include <string>
#include <vector>

enum class UndoAction {
  RemoveFile,    // path: a file this preparation wrote
  PutBackBytes,  // path: a file edited in place; bytes: its former content, or remove it when it did not exist
  CopyBack,      // from: a saved copy, path: the file it replaces; the copy is removed afterwards
  RunCommand,    // command: a command line that takes a tool's change back; it must exit 0
  RemoveFolder,  // path: a folder this preparation created (removed only when empty)
};

struct UndoStep {
  UndoAction action = UndoAction::RemoveFile;
  std::wstring path;
  std::wstring from;
  std::string bytes;
  bool existed = false;
  std::wstring command;
};

UndoStep RemoveFileStep(const std::wstring& path);
UndoStep PutBackBytesStep(const std::wstring& path, bool existed, const std::string& bytes);
UndoStep CopyBackStep(const std::wstring& savedCopy, const std::wstring& path);
UndoStep RunCommandStep(const std::wstring& commandLine);
UndoStep RemoveFolderStep(const std::wstring& path);

class UndoLog {
 public:
  // Recorded before the change it takes back is made, so that a change that fails half-way is taken back
  // too.
  void Add(UndoStep step) { steps_.push_back(std::move(step)); }
  // The steps in the order they run: the reverse of their recording.
  std::vector<UndoStep> Plan() const { return {steps_.rbegin(), steps_.rend()}; }
  bool Empty() const { return steps_.empty(); }
  void Clear() { steps_.clear(); }

 private:
  std::vector<UndoStep> steps_;
};

// Runs every step of the plan, also after one failed; true when each did its part (a file already gone
// counts as removed).
bool RunUndoPlan(const std::vector<UndoStep>& plan);

// The undo steps of a preparation under way and, once a step failed, what failed (the text the user is
// shown after "准备重装环境失败：").
struct PreparationLog {
  UndoLog undo;
  std::wstring failure;
  // Records what failed; answers false, for "return log.Fail(...)".
  bool Fail(const std::wstring& what) {
    failure = what;
    return false;
  }
};
