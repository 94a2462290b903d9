#include "ui/ui_types.h"

#include <cwctype>

#include "base/text_format.h"

namespace DuiLib {

UiRect UiRect::Intersect(const UiRect& o) const {
  UiRect r(left > o.left ? left : o.left, top > o.top ? top : o.top, right < o.right ? right : o.right,
           bottom < o.bottom ? bottom : o.bottom);
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

namespace {

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// Reads the comma-separated integers of a text; stops at the first piece that is not a number.
std::vector<int> ReadNumbers(const std::wstring& text) {
  std::vector<int> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (iswspace(text[i]) || text[i] == L',')) ++i;
    if (i >= text.size()) break;
    bool neg = false;
    if (text[i] == L'-' || text[i] == L'+') {
      neg = text[i] == L'-';
      ++i;
    }
    if (i >= text.size() || text[i] < L'0' || text[i] > L'9') break;
    long v = 0;
    while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
      if (v < 100000000) v = v * 10 + (text[i] - L'0');
      ++i;
    }
    out.push_back(static_cast<int>(neg ? -v : v));
  }
  return out;
}

// Reads key='value' / key="value" / key=value pairs starting at i.
std::vector<std::pair<std::wstring, std::wstring>> ReadPairs(const std::wstring& text) {
  std::vector<std::pair<std::wstring, std::wstring>> out;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    while (i < n && iswspace(text[i])) ++i;
    size_t keyStart = i;
    while (i < n && text[i] != L'=' && !iswspace(text[i])) ++i;
    std::wstring key = text.substr(keyStart, i - keyStart);
    while (i < n && iswspace(text[i])) ++i;
    if (i >= n || text[i] != L'=') {
      if (!key.empty()) out.emplace_back(key, std::wstring());
      continue;
    }
    ++i;  // '='
    while (i < n && iswspace(text[i])) ++i;
    std::wstring value;
    if (i < n && (text[i] == L'\'' || text[i] == L'"')) {
      wchar_t quote = text[i++];
      size_t end = text.find(quote, i);
      if (end == std::wstring::npos) end = n;
      value = text.substr(i, end - i);
      i = end < n ? end + 1 : n;
    } else {
      size_t start = i;
      while (i < n && !iswspace(text[i])) ++i;
      value = text.substr(start, i - start);
    }
    if (!key.empty()) out.emplace_back(key, value);
  }
  return out;
}

}  // namespace

bool ParseColor(const std::wstring& text, uint32_t& argb) {
  std::wstring t = Trim(text);
  if (t.empty() || t[0] != L'#') return false;
  t = t.substr(1);
  if (t.size() != 8 && t.size() != 6) return false;
  uint32_t v = 0;
  for (wchar_t c : t) {
    int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  if (t.size() == 6) v |= 0xFF000000u;
  argb = v;
  return true;
}

bool ParseRect(const std::wstring& text, UiRect& rc) {
  std::vector<int> v = ReadNumbers(text);
  if (v.empty()) return false;
  v.resize(4, 0);
  rc = UiRect(v[0], v[1], v[2], v[3]);
  return true;
}

bool ParseSize(const std::wstring& text, UiSize& sz) {
  std::vector<int> v = ReadNumbers(text);
  if (v.empty()) return false;
  v.resize(2, 0);
  sz = UiSize(v[0], v[1]);
  return true;
}

bool ParseBool(const std::wstring& text) {
  std::wstring t = Lower(Trim(text));
  return t == L"true" || t == L"1" || t == L"yes";
}

int ParseInt(const std::wstring& text) {
  size_t i = 0;
  while (i < text.size() && iswspace(text[i])) ++i;
  bool neg = false;
  if (i < text.size() && (text[i] == L'-' || text[i] == L'+')) neg = text[i++] == L'-';
  long long v = 0;
  while (i < text.size() && text[i] >= L'0' && text[i] <= L'9') {
    v = v * 10 + (text[i] - L'0');
    if (v > 0x7FFFFFFFLL) v = 0x80000000LL;
    ++i;
  }
  if (neg) v = -v;
  if (v > 0x7FFFFFFFLL) v = 0x7FFFFFFFLL;
  return static_cast<int>(v);
}

std::wstring NormalizeEntryName(const std::wstring& name) {
  std::wstring n = Trim(name);
  for (wchar_t& c : n) {
    if (c == L'\\') c = L'/';
  }
  while (n.compare(0, 2, L"./") == 0) n = n.substr(2);
  while (!n.empty() && n[0] == L'/') n = n.substr(1);
  return n;
}

bool ParseImageProps(const std::wstring& text, ImageProps& out) {
  ImageProps p;
  std::wstring t = Trim(text);
  if (t.empty()) return false;
  if (t.find(L'=') == std::wstring::npos || t.find(L'\'') == std::wstring::npos) {
    p.file = NormalizeEntryName(t);
  } else {
    for (const auto& kv : ReadPairs(t)) {
      std::wstring key = Lower(kv.first);
      if (key == L"file" || key == L"res") {
        p.file = NormalizeEntryName(kv.second);
      } else if (key == L"source") {
        p.hasSource = ParseRect(kv.second, p.source);
      } else if (key == L"dest") {
        p.hasDest = ParseRect(kv.second, p.dest);
      } else if (key == L"corner") {
        ParseRect(kv.second, p.corner);
      } else if (key == L"mask") {
        p.hasMask = ParseColor(kv.second, p.mask);
      } else if (key == L"fade") {
        int f = ParseInt(kv.second);
        p.fade = static_cast<uint8_t>(f < 0 ? 0 : f > 255 ? 255 : f);
      } else if (key == L"hole") {
        p.hole = ParseBool(kv.second);
      }
    }
  }
  if (p.file.empty()) return false;
  out = p;
  return true;
}

std::vector<std::pair<std::wstring, std::wstring>> ParseAttributeList(const std::wstring& text) {
  return ReadPairs(text);
}

std::vector<TextRun> ParseRichText(const std::wstring& text) {
  struct Style {
    int font = -1;
    bool underline = false, bold = false, italic = false, hasColor = false;
    uint32_t color = 0;
  };
  std::vector<Style> fontStack, colorStack;
  Style cur;
  int underlineDepth = 0, boldDepth = 0, italicDepth = 0;
  std::vector<TextRun> runs;
  std::wstring pending;
  bool pendingNewline = false;
  auto flush = [&]() {
    if (pending.empty() && !pendingNewline) return;
    TextRun r;
    r.text = pending;
    r.font = cur.font;
    r.underline = underlineDepth > 0;
    r.bold = boldDepth > 0;
    r.italic = italicDepth > 0;
    r.hasColor = cur.hasColor;
    r.color = cur.color;
    r.newline = pendingNewline;
    runs.push_back(r);
    pending.clear();
    pendingNewline = false;
  };
  size_t i = 0;
  while (i < text.size()) {
    wchar_t c = text[i];
    if (c != L'<') {
      pending += c;
      ++i;
      continue;
    }
    size_t close = text.find(L'>', i);
    if (close == std::wstring::npos) {  // a lone '<' is plain text
      pending += text.substr(i);
      break;
    }
    std::wstring tag = Trim(text.substr(i + 1, close - i - 1));
    i = close + 1;
    bool end = !tag.empty() && tag[0] == L'/';
    if (end) tag = Trim(tag.substr(1));
    std::wstring name = Lower(tag.substr(0, tag.find_first_of(L" \t")));
    std::wstring arg = tag.size() > name.size() ? Trim(tag.substr(name.size())) : std::wstring();
    flush();
    if (name == L"f") {
      if (end) {
        if (!fontStack.empty()) { cur.font = fontStack.back().font; fontStack.pop_back(); }
      } else {
        fontStack.push_back(cur);
        cur.font = arg.empty() ? -1 : ParseInt(arg);
      }
    } else if (name == L"u") {
      underlineDepth += end ? (underlineDepth > 0 ? -1 : 0) : 1;
    } else if (name == L"b") {
      boldDepth += end ? (boldDepth > 0 ? -1 : 0) : 1;
    } else if (name == L"i") {
      italicDepth += end ? (italicDepth > 0 ? -1 : 0) : 1;
    } else if (name == L"c") {
      if (end) {
        if (!colorStack.empty()) {
          cur.hasColor = colorStack.back().hasColor;
          cur.color = colorStack.back().color;
          colorStack.pop_back();
        }
      } else {
        colorStack.push_back(cur);
        uint32_t col = 0;
        if (ParseColor(arg, col)) {
          cur.hasColor = true;
          cur.color = col;
        }
      }
    } else if (name == L"n" && !end) {
      pendingNewline = true;
    }
  }
  flush();
  return runs;
}

std::wstring StripRichText(const std::wstring& text) {
  std::wstring out;
  for (const TextRun& r : ParseRichText(text)) {
    if (r.newline && !out.empty()) out += L'\n';
    out += r.text;
  }
  return out;
}

}  // namespace DuiLib
