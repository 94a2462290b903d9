// Reading the catalogue text: "<line>" records of "|"-terminated fields, and the row picture table.
#pragma once
#include <string>
#include <vector>

#include "cloud/catalogue_entry.h"

// One record (the text between "<line>" and "</line>") as an entry. Field 0 is the text before the first
// "|"; field j (1 to 5) the text between the j-th "|" and the next one. An optional field 6 holding exactly
// 64 hexadecimal digits becomes sha256 (in lower case); anything else leaves sha256 empty.
CatalogueEntry ParseCatalogueRecord(const std::wstring& record);

// Every record of a catalogue text in order, stopping at the first record that is missing or empty. Text
// outside the tags is ignored. Linear in the length of the text.
std::vector<CatalogueEntry> ParseCatalogueText(const std::wstring& text);

// The skin image of a row picture number: 1 gives "xt1.png" ... 12 gives "xt12.png"; any other number
// gives the empty name (the row shows no picture).
std::wstring CataloguePictureName(int pictureNumber);
