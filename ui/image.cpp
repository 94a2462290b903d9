#include "ui/image.h"

#include <cstring>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#include <stb_image.h>

namespace DuiLib {

namespace {

// RGBA bytes to premultiplied 0xAARRGGBB, keying out the mask colour.
void ConvertPixels(const unsigned char* rgba, size_t count, bool hasMask, uint32_t mask,
                   std::vector<uint32_t>& out, bool& hasAlpha) {
  out.resize(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t r = rgba[i * 4], g = rgba[i * 4 + 1], b = rgba[i * 4 + 2], a = rgba[i * 4 + 3];
    if (hasMask && ((r << 16) | (g << 8) | b) == (mask & 0x00FFFFFFu)) a = 0;
    if (a != 255) hasAlpha = true;
    r = r * a / 255;
    g = g * a / 255;
    b = b * a / 255;
    out[i] = (a << 24) | (r << 16) | (g << 8) | b;
  }
}

bool IsGif(const std::string& bytes) { return bytes.size() > 6 && bytes.compare(0, 4, "GIF8") == 0; }

}  // namespace

bool DecodeImage(const std::string& bytes, bool hasMask, uint32_t mask, DecodedImage& out) {
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return false;
  const auto* data = reinterpret_cast<const stbi_uc*>(bytes.data());
  int len = static_cast<int>(bytes.size());
  DecodedImage img;
  if (IsGif(bytes)) {
    int* delays = nullptr;
    int w = 0, h = 0, frames = 0, comp = 0;
    stbi_uc* pixels = stbi_load_gif_from_memory(data, len, &delays, &w, &h, &frames, &comp, 4);
    if (pixels == nullptr) return false;
    img.width = w;
    img.height = h;
    size_t frameSize = static_cast<size_t>(w) * static_cast<size_t>(h);
    for (int f = 0; f < frames; ++f) {
      std::vector<uint32_t> px;
      ConvertPixels(pixels + frameSize * 4 * f, frameSize, hasMask, mask, px, img.hasAlpha);
      img.frames.push_back(std::move(px));
      img.delaysMs.push_back(delays ? delays[f] : 100);
    }
    stbi_image_free(pixels);
    if (delays) stbi_image_free(delays);
  } else {
    int w = 0, h = 0, comp = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, len, &w, &h, &comp, 4);
    if (pixels == nullptr) return false;
    img.width = w;
    img.height = h;
    std::vector<uint32_t> px;
    ConvertPixels(pixels, static_cast<size_t>(w) * static_cast<size_t>(h), hasMask, mask, px, img.hasAlpha);
    img.frames.push_back(std::move(px));
    stbi_image_free(pixels);
  }
  if (img.width <= 0 || img.height <= 0 || img.frames.empty()) return false;
  out = std::move(img);
  return true;
}

CImageUI::CImageUI(DecodedImage decoded) : decoded_(std::move(decoded)) {
  for (const auto& frame : decoded_.frames) {
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = decoded_.width;
    bmi.bmiHeader.biHeight = -decoded_.height;  // top-down
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp != nullptr && bits != nullptr) std::memcpy(bits, frame.data(), frame.size() * 4);
    bitmaps_.push_back(bmp);
  }
}

CImageUI::~CImageUI() {
  for (HBITMAP b : bitmaps_) {
    if (b) DeleteObject(b);
  }
}

int CImageUI::FrameDelay(int frame) const {
  if (frame < 0 || frame >= static_cast<int>(decoded_.delaysMs.size())) return 100;
  int d = decoded_.delaysMs[frame];
  return d < 20 ? 100 : d;  // browsers treat tiny delays as 100 ms
}

HBITMAP CImageUI::Frame(int frame) const {
  if (bitmaps_.empty()) return nullptr;
  if (frame < 0 || frame >= static_cast<int>(bitmaps_.size())) frame = 0;
  return bitmaps_[frame];
}

}  // namespace DuiLib
