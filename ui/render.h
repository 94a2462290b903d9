// GDI drawing of the controls: colours with alpha, images (source, dest, nine-slice corners, per-pixel alpha
// through AlphaBlend), borders, plain and rich text.
#pragma once
#include <windows.h>

#include "ui/image.h"
#include "ui/ui_types.h"

namespace DuiLib {

class CPaintManagerUI;

class CRenderEngine {
 public:
  static void DrawColor(HDC dc, const UiRect& rc, uint32_t argb);
  static void DrawBorder(HDC dc, const UiRect& rc, int size, uint32_t argb);
  // Draws the source part of an image into dest; corner margins are kept unstretched.
  static void DrawImage(HDC dc, const CImageUI& image, int frame, const UiRect& dest, const UiRect& clip,
                        const UiRect& source, const UiRect& corner, uint8_t fade, bool hole);
  // Draws an image attribute ("a.png" or "file='a.png' source=... dest=...") in the control rectangle.
  static bool DrawImageString(HDC dc, CPaintManagerUI* manager, const UiRect& controlRect, const UiRect& clip,
                              const std::wstring& image, int frame = 0);
  // Plain text, one line unless it holds line breaks.
  static void DrawText(HDC dc, CPaintManagerUI* manager, const UiRect& rc, const std::wstring& text,
                       uint32_t argb, int font, HAlign align, VAlign valign, bool endEllipsis);
  // Rich text (font, underline, bold, italic, colour tags and line breaks).
  static void DrawRichText(HDC dc, CPaintManagerUI* manager, const UiRect& rc, const std::wstring& text,
                           uint32_t argb, int font, HAlign align, VAlign valign);
};

}  // namespace DuiLib
