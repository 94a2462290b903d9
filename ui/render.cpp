#include "ui/render.h"

#include <algorithm>
#include <vector>

#include "ui/paint_manager.h"

namespace DuiLib {

namespace {

COLORREF ToColorRef(uint32_t argb) {
  return RGB((argb >> 16) & 0xFF, (argb >> 8) & 0xFF, argb & 0xFF);
}

bool Blend(HDC dst, const UiRect& d, HDC src, const UiRect& s, uint8_t alpha) {
  if (d.IsEmpty() || s.IsEmpty()) return true;
  BLENDFUNCTION bf = {AC_SRC_OVER, 0, alpha, AC_SRC_ALPHA};
  return AlphaBlend(dst, d.left, d.top, d.Width(), d.Height(), src, s.left, s.top, s.Width(), s.Height(), bf) != FALSE;
}

}  // namespace

void CRenderEngine::DrawColor(HDC dc, const UiRect& rc, uint32_t argb) {
  if (rc.IsEmpty()) return;
  uint32_t a = argb >> 24;
  if (a == 0) return;
  if (a == 255) {
    HBRUSH brush = CreateSolidBrush(ToColorRef(argb));
    RECT r = {rc.left, rc.top, rc.right, rc.bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    return;
  }
  // A translucent colour: one premultiplied pixel stretched over the rectangle.
  BITMAPINFO bmi = {};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = 1;
  bmi.bmiHeader.biHeight = 1;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bmp == nullptr || bits == nullptr) return;
  uint32_t r = ((argb >> 16) & 0xFF) * a / 255, g = ((argb >> 8) & 0xFF) * a / 255, b = (argb & 0xFF) * a / 255;
  *static_cast<uint32_t*>(bits) = (a << 24) | (r << 16) | (g << 8) | b;
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bmp);
  Blend(dc, rc, mem, UiRect(0, 0, 1, 1), 255);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(bmp);
}

void CRenderEngine::DrawBorder(HDC dc, const UiRect& rc, int size, uint32_t argb) {
  if (size <= 0 || rc.IsEmpty()) return;
  DrawColor(dc, UiRect(rc.left, rc.top, rc.right, rc.top + size), argb);
  DrawColor(dc, UiRect(rc.left, rc.bottom - size, rc.right, rc.bottom), argb);
  DrawColor(dc, UiRect(rc.left, rc.top + size, rc.left + size, rc.bottom - size), argb);
  DrawColor(dc, UiRect(rc.right - size, rc.top + size, rc.right, rc.bottom - size), argb);
}

void CRenderEngine::DrawImage(HDC dc, const CImageUI& image, int frame, const UiRect& dest, const UiRect& clip,
                              const UiRect& source, const UiRect& corner, uint8_t fade, bool hole) {
  HBITMAP bmp = image.Frame(frame);
  if (bmp == nullptr || dest.IsEmpty() || dest.Intersect(clip).IsEmpty()) return;
  UiRect src = source.IsEmpty() ? UiRect(0, 0, image.Width(), image.Height()) : source;
  src = src.Intersect(UiRect(0, 0, image.Width(), image.Height()));
  if (src.IsEmpty()) return;
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, bmp);
  const UiRect& c = corner;
  if (c.left == 0 && c.top == 0 && c.right == 0 && c.bottom == 0) {
    Blend(dc, dest, mem, src, fade);
  } else {
    // Nine parts: the corners keep their size, the edges stretch along one axis, the middle along both.
    int dx[4] = {dest.left, dest.left + c.left, dest.right - c.right, dest.right};
    int dy[4] = {dest.top, dest.top + c.top, dest.bottom - c.bottom, dest.bottom};
    int sx[4] = {src.left, src.left + c.left, src.right - c.right, src.right};
    int sy[4] = {src.top, src.top + c.top, src.bottom - c.bottom, src.bottom};
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) {
        if (hole && row == 1 && col == 1) continue;
        Blend(dc, UiRect(dx[col], dy[row], dx[col + 1], dy[row + 1]), mem,
              UiRect(sx[col], sy[row], sx[col + 1], sy[row + 1]), fade);
      }
    }
  }
  SelectObject(mem, old);
  DeleteDC(mem);
}

bool CRenderEngine::DrawImageString(HDC dc, CPaintManagerUI* manager, const UiRect& controlRect, const UiRect& clip,
                                    const std::wstring& image, int frame) {
  if (manager == nullptr) return false;
  ImageProps props;
  if (!ParseImageProps(image, props)) return false;
  const CImageUI* img = manager->GetImage(props.file, props.hasMask, props.mask);
  if (img == nullptr) return false;
  UiRect dest = controlRect;
  if (props.hasDest) {
    dest = props.dest.Offset(controlRect.left, controlRect.top);
    dest.right = std::min(dest.right, controlRect.right);
    dest.bottom = std::min(dest.bottom, controlRect.bottom);
  }
  DrawImage(dc, *img, frame, dest, clip, props.hasSource ? props.source : UiRect(), props.corner, props.fade, props.hole);
  return true;
}

void CRenderEngine::DrawText(HDC dc, CPaintManagerUI* manager, const UiRect& rc, const std::wstring& text,
                             uint32_t argb, int font, HAlign align, VAlign valign, bool endEllipsis) {
  if (text.empty() || rc.IsEmpty() || manager == nullptr) return;
  HGDIOBJ oldFont = SelectObject(dc, manager->GetFont(font));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ToColorRef(argb));
  UINT flags = DT_NOPREFIX;
  flags |= align == HAlign::Center ? DT_CENTER : align == HAlign::Right ? DT_RIGHT : DT_LEFT;
  if (endEllipsis) flags |= DT_END_ELLIPSIS;
  RECT r = {rc.left, rc.top, rc.right, rc.bottom};
  bool multiLine = text.find(L'\n') != std::wstring::npos;
  if (!multiLine) {
    flags |= DT_SINGLELINE;
    flags |= valign == VAlign::Top ? DT_TOP : valign == VAlign::Bottom ? DT_BOTTOM : DT_VCENTER;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  } else {
    flags |= DT_WORDBREAK;
    RECT measure = r;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measure, flags | DT_CALCRECT);
    int h = measure.bottom - measure.top;
    if (valign == VAlign::Center) r.top += std::max(0, (rc.Height() - h) / 2);
    if (valign == VAlign::Bottom) r.top = std::max<LONG>(r.top, r.bottom - h);
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, flags);
  }
  SelectObject(dc, oldFont);
}

void CRenderEngine::DrawRichText(HDC dc, CPaintManagerUI* manager, const UiRect& rc, const std::wstring& text,
                                 uint32_t argb, int font, HAlign align, VAlign valign) {
  if (text.empty() || rc.IsEmpty() || manager == nullptr) return;
  struct Placed {
    TextRun run;
    HFONT font;
    SIZE size;
    int ascent;
  };
  std::vector<std::vector<Placed>> lines(1);
  for (const TextRun& run : ParseRichText(text)) {
    if (run.newline) lines.emplace_back();
    Placed p{run, manager->GetFont(run.font >= 0 ? run.font : font, run.underline, run.bold, run.italic), {0, 0}, 0};
    HGDIOBJ old = SelectObject(dc, p.font);
    TEXTMETRICW tm = {};
    GetTextMetricsW(dc, &tm);
    GetTextExtentPoint32W(dc, run.text.c_str(), static_cast<int>(run.text.size()), &p.size);
    p.size.cy = tm.tmHeight;
    p.ascent = tm.tmAscent;
    SelectObject(dc, old);
    lines.back().push_back(p);
  }
  int totalHeight = 0;
  std::vector<int> lineHeights, lineAscents, lineWidths;
  for (const auto& line : lines) {
    int h = 0, a = 0, w = 0;
    for (const Placed& p : line) {
      h = std::max<int>(h, p.size.cy);
      a = std::max(a, p.ascent);
      w += p.size.cx;
    }
    if (h == 0) {
      TEXTMETRICW tm = {};
      HGDIOBJ old = SelectObject(dc, manager->GetFont(font));
      GetTextMetricsW(dc, &tm);
      SelectObject(dc, old);
      h = tm.tmHeight;
      a = tm.tmAscent;
    }
    lineHeights.push_back(h);
    lineAscents.push_back(a);
    lineWidths.push_back(w);
    totalHeight += h;
  }
  int y = rc.top;
  if (valign == VAlign::Center) y += (rc.Height() - totalHeight) / 2;
  if (valign == VAlign::Bottom) y = rc.bottom - totalHeight;
  int saved = SaveDC(dc);
  IntersectClipRect(dc, rc.left, rc.top, rc.right, rc.bottom);
  SetBkMode(dc, TRANSPARENT);
  for (size_t i = 0; i < lines.size(); ++i) {
    int x = rc.left;
    if (align == HAlign::Center) x += (rc.Width() - lineWidths[i]) / 2;
    if (align == HAlign::Right) x = rc.right - lineWidths[i];
    for (const Placed& p : lines[i]) {
      SelectObject(dc, p.font);
      SetTextColor(dc, ToColorRef(p.run.hasColor ? p.run.color : argb));
      TextOutW(dc, x, y + lineAscents[i] - p.ascent, p.run.text.c_str(), static_cast<int>(p.run.text.size()));
      x += p.size.cx;
    }
    y += lineHeights[i];
  }
  RestoreDC(dc, saved);
}

}  // namespace DuiLib
