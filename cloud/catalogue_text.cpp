#include "cloud/catalogue_text.h"

#include "cloud/delimited_text.h"

namespace {

const wchar_t kRecordOpen[] = L"<line>";
const wchar_t kRecordClose[] = L"</line>";
const wchar_t kFieldMark[] = L"|";

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

std::wstring ValidSha256(const std::wstring& field) {
  if (field.size() != 64) return std::wstring();
  std::wstring lower(field);
  for (wchar_t& c : lower) {
    if (!IsHexDigit(c)) return std::wstring();
    if (c >= L'A' && c <= L'F') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

}  // namespace

CatalogueEntry ParseCatalogueRecord(const std::wstring& record) {
  CatalogueEntry entry;
  entry.rawText = record;
  size_t firstMark = record.find(kFieldMark);
  if (firstMark != std::wstring::npos) entry.name = record.substr(0, firstMark);

  // Fields 1 to 6, each the text between one "|" and the next.
  std::wstring fields[7];
  DelimitedScanner scanner(record, kFieldMark, kFieldMark);
  for (int j = 1; j <= 6 && scanner.Next(); ++j) fields[j] = scanner.Current();

  entry.pictureNumber = ParseDecimal(fields[1]);
  entry.imageUrl = fields[2];
  entry.fileName = fields[3];
  entry.description = fields[4];
  entry.sizeText = fields[5];
  entry.sha256 = ValidSha256(fields[6]);
  return entry;
}

std::vector<CatalogueEntry> ParseCatalogueText(const std::wstring& text) {
  std::vector<CatalogueEntry> entries;
  DelimitedScanner scanner(text, kRecordOpen, kRecordClose);
  while (scanner.Next()) {
    std::wstring record = scanner.Current();
    if (record.empty()) break;
    entries.push_back(ParseCatalogueRecord(record));
  }
  return entries;
}

std::wstring CataloguePictureName(int pictureNumber) {
  static const wchar_t* const kPictures[12] = {L"xt1.png", L"xt2.png", L"xt3.png",  L"xt4.png",
                                               L"xt5.png", L"xt6.png", L"xt7.png",  L"xt8.png",
                                               L"xt9.png", L"xt10.png", L"xt11.png", L"xt12.png"};
  if (pictureNumber < 1 || pictureNumber > 12) return std::wstring();
  return kPictures[pictureNumber - 1];
}
