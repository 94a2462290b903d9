// Plain value types of the toolkit and the parsers for the markup's value forms (colours, rectangles,
// sizes, image property lists, attribute lists, rich text). No window or drawing is involved here.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace DuiLib {

struct UiRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  UiRect() = default;
  UiRect(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  UiRect Intersect(const UiRect& o) const;
  UiRect Offset(int dx, int dy) const { return UiRect(left + dx, top + dy, right + dx, bottom + dy); }
  bool operator==(const UiRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const UiRect& o) const { return !(*this == o); }
};

struct UiSize {
  int cx = 0, cy = 0;
  UiSize() = default;
  UiSize(int w, int h) : cx(w), cy(h) {}
  bool operator==(const UiSize& o) const { return cx == o.cx && cy == o.cy; }
};

// "#AARRGGBB" (or "#RRGGBB", taken as opaque); false for anything else.
bool ParseColor(const std::wstring& text, uint32_t& argb);
// "l,t,r,b"; missing trailing numbers read as 0. False when the text holds no number at all.
bool ParseRect(const std::wstring& text, UiRect& rc);
// "w,h".
bool ParseSize(const std::wstring& text, UiSize& sz);
// "true"/"false" (also "1"/"0").
bool ParseBool(const std::wstring& text);
// A signed decimal integer with optional leading blanks; text without leading digits reads as 0.
int ParseInt(const std::wstring& text);

// One image attribute: a bare file name or a property list "file='a.png' source='0,0,10,10' ...".
struct ImageProps {
  std::wstring file;       // archive entry name, backslashes turned into slashes, leading "./" removed
  UiRect source;           // part of the image to draw; empty = the whole image
  UiRect dest;             // where to draw, relative to the control's rectangle; empty = the whole control
  UiRect corner;           // nine-slice margins kept unstretched
  bool hasMask = false;
  uint32_t mask = 0;       // colour drawn as transparent
  bool hasSource = false, hasDest = false;
  uint8_t fade = 255;
  bool hole = false;       // with corners: leave the middle undrawn
};
// Parses an image attribute value; false when no file name can be found.
bool ParseImageProps(const std::wstring& text, ImageProps& out);
// The archive name an image or markup file is stored under: "res\a.png" and ".\a.png" become "res/a.png"
// and "a.png".
std::wstring NormalizeEntryName(const std::wstring& name);

// A list of name="value" pairs as code applies it to a control ("bkimage=\"file='x.png'\" text=\"a\"").
std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& text);

// Rich text: the font tag <f N>...</f>, underline <u>...</u>, bold <b>...</b>, italic <i>...</i>, colour
// <c #AARRGGBB>...</c> and line break <n>. Runs carry the style in force; unknown tags are dropped.
struct TextRun {
  std::wstring text;
  int font = -1;            // -1: the control's own font
  bool underline = false;
  bool bold = false;
  bool italic = false;
  bool hasColor = false;
  uint32_t color = 0;
  bool newline = false;     // this run starts a new line
};
std::vector<TextRun> ParseRichText(const std::wstring& text);
// The text without its tags.
std::wstring StripRichText(const std::wstring& text);

// Text alignment inside a rectangle.
enum class HAlign { Left, Center, Right };
enum class VAlign { Top, Center, Bottom };

}  // namespace DuiLib
