// Builds a control tree from markup (UTF-8 XML, byte-order mark allowed): element names are control
// classes, attributes are properties. The Window element's size, caption area, limits and round corners,
// its Font and Default elements go to the paint manager.
#pragma once
#include <string>

#include "ui/control.h"

namespace DuiLib {

class CPaintManagerUI;

// Lets a window create controls of classes the toolkit does not know.
class IDialogBuilderCallback {
 public:
  virtual ~IDialogBuilderCallback() = default;
  virtual CControlUI* CreateControl(const std::wstring& className) = 0;
};

// A new control of a markup class ("Label", "Button", ...); null for unknown classes.
CControlUI* CreateControlByClass(const std::wstring& className);

class CDialogBuilder {
 public:
  // Builds the tree of a file of the skin package; null when the file is missing or not well-formed.
  CControlUI* Create(const std::wstring& skinFile, IDialogBuilderCallback* callback = nullptr,
                     CPaintManagerUI* manager = nullptr);
  // Builds from markup bytes.
  CControlUI* CreateFromBytes(const std::string& bytes, IDialogBuilderCallback* callback = nullptr,
                              CPaintManagerUI* manager = nullptr);
  const std::wstring& GetLastErrorText() const { return error_; }

 private:
  std::wstring error_;
};

}  // namespace DuiLib
