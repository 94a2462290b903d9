// One system image offered by the online catalogue.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct CatalogueEntry {
  std::wstring rawText;      // the whole record
  std::wstring name;         // field 0: display name
  int32_t pictureNumber = 0; // field 1: row picture, 1 to 12
  std::wstring imageUrl;     // field 2: URL of the image file
  std::wstring fileName;     // field 3: file name on disk
  std::wstring sizeText;     // field 5: size as display text
  std::wstring description;  // field 4: one-line description
  std::wstring sha256;       // optional field 6: SHA-256 of the image in hexadecimal, empty when absent
};

