// The leaf controls: labels, buttons, options, read-only edits, animated GIFs and the hidden web client.
#pragma once
#include <atomic>

#include "ui/control.h"

namespace DuiLib {

class CLabelUI : public CControlUI {
 public:
  std::wstring GetClass() const override { return L"Label"; }
  uint32_t GetTextColor() const;
  void SetTextColor(uint32_t argb);
  int GetFont() const;
  bool IsShowHtml() const;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void PaintText(const PaintContext& ctx) override;
  // The colour the text is drawn in for the current state.
  virtual uint32_t CurrentTextColor() const;

  int font_ = -1;
  uint32_t textColor_ = 0;
  uint32_t disabledTextColor_ = 0;
  HAlign align_ = HAlign::Left;
  VAlign valign_ = VAlign::Center;
  UiRect textPadding_;
  bool showHtml_ = false;
  bool endEllipsis_ = false;
};

class CButtonUI : public CLabelUI {
 public:
  CButtonUI();
  std::wstring GetClass() const override { return L"Button"; }
  bool IsInteractive() const override { return true; }
  void DoEvent(TEventUI& event) override;
  // Sends "click" to the window's notifiers.
  bool Activate() override;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(const PaintContext& ctx) override;
  uint32_t CurrentTextColor() const override;

  std::wstring normalImage_, hotImage_, pushedImage_, disabledImage_, focusedImage_;
  uint32_t hotTextColor_ = 0, pushedTextColor_ = 0, focusedTextColor_ = 0;
};

// An option: with a group it is one of a set (selecting it clears the others of the window's group);
// without a group it is an independent check box.
class COptionUI : public CButtonUI {
 public:
  ~COptionUI() override;
  std::wstring GetClass() const override { return L"Option"; }
  bool Activate() override;
  bool IsSelected() const;
  // Changes the selected state; sends "selectchanged" when it changed (unless sendNotify is false).
  void Selected(bool selected, bool sendNotify = true);
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void PaintStatusImage(const PaintContext& ctx) override;
  uint32_t CurrentTextColor() const override;

 private:
  std::wstring group_;
  bool selected_ = false;
  std::wstring selectedImage_, selectedHotImage_;
  uint32_t selectedTextColor_ = 0;
};

// A single-line text field; the program uses it read-only to show paths.
class CEditUI : public CLabelUI {
 public:
  std::wstring GetClass() const override { return L"Edit"; }
  bool IsReadOnly() const;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void PaintBkColor(const PaintContext& ctx) override;

 private:
  bool readOnly_ = false;
  uint32_t nativeBkColor_ = 0;
};

// Plays the frames of a GIF named by bkimage.
class CGifAnimUI : public CControlUI {
 public:
  ~CGifAnimUI() override;
  std::wstring GetClass() const override { return L"GifAnim"; }
  void PlayGif();
  // Stops and goes back to the first frame.
  void StopGif();
  // Stops on the frame shown; PlayGif goes on from there.
  void PauseGif();
  bool IsPlaying() const;
  int GetFrame() const;
  void DoEvent(TEventUI& event) override;
  void SetManager(CPaintManagerUI* manager, CControlUI* parent) override;

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void PaintBkImage(const PaintContext& ctx) override;

 private:
  void ArmTimer();
  bool playing_ = false;
  bool autoPlay_ = true;
  int frame_ = 0;
};

// The embedded browser the program needs: a hidden control whose navigation issues one background GET of
// the address (WinINet, in its own thread); nothing is shown.
class CWebBrowserUI : public CControlUI {
 public:
  std::wstring GetClass() const override { return L"WebBrowser"; }
  // Starts the request and returns at once.
  void Navigate(const std::wstring& url);
  std::wstring GetHomePage() const;
  // Called with every address navigated to (the sandbox records them). Set once at start-up.
  static void SetNavigateObserver(void (*observer)(const std::wstring& url));
  // Requests started and finished so far (for tests).
  static int RequestsFinished();

 protected:
  bool SetAttributeLocked(const std::wstring& name, const std::wstring& value) override;
  void DoPaint(const PaintContext& ctx, const UiRect& clip) override {}

 private:
  std::wstring homePage_;
};

}  // namespace DuiLib
