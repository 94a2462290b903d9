// Prints how long parsing a large catalogue takes, for catalogues of growing size (a linear parse keeps
// the time per record flat). Run through scripts/bench-catalogue.
#include <windows.h>

#include <cstdio>
#include <string>

#include "cloud/catalogue_text.h"

int main() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (int records : {1000, 4000, 16000, 64000}) {
    std::wstring text;
    for (int i = 0; i < records; ++i) {
      text += L"<line>Windows 7 旗舰版 64位 " + std::to_wstring(i) + L"|" + std::to_wstring(i % 12 + 1) +
              L"|http://127.0.0.1:8750/images/w7_" + std::to_wstring(i) + L".gho|w7_" + std::to_wstring(i) +
              L".gho|纯净安装，自动激活|4.2G|</line>\r\n";
    }
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    size_t parsed = ParseCatalogueText(text).size();
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("records=%d parsed=%u chars=%u ms=%.2f us_per_record=%.3f\n", records,
                static_cast<unsigned>(parsed), static_cast<unsigned>(text.size()), ms, 1000.0 * ms / records);
  }
  return 0;
}
