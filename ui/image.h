// Decoded images: PNG, JPEG, BMP and GIF (every frame) from the skin package, as 32-bit top-down
// premultiplied BGRA pixels ready for AlphaBlend.
#pragma once
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace DuiLib {

struct DecodedImage {
  int width = 0;
  int height = 0;
  std::vector<std::vector<uint32_t>> frames;  // premultiplied 0xAARRGGBB per pixel, one vector per frame
  std::vector<int> delaysMs;                   // per frame (GIF); empty for still images
  bool hasAlpha = false;                       // some pixel is not fully opaque
};

// Decodes image bytes; with a mask colour every pixel of that colour (alpha ignored) becomes transparent.
// False when the bytes are no image stb_image can read.
bool DecodeImage(const std::string& bytes, bool hasMask, uint32_t mask, DecodedImage& out);

// An image prepared for drawing: one DIB section per frame.
class CImageUI {
 public:
  explicit CImageUI(DecodedImage decoded);
  ~CImageUI();
  CImageUI(const CImageUI&) = delete;
  CImageUI& operator=(const CImageUI&) = delete;
  int Width() const { return decoded_.width; }
  int Height() const { return decoded_.height; }
  int FrameCount() const { return static_cast<int>(bitmaps_.size()); }
  int FrameDelay(int frame) const;
  HBITMAP Frame(int frame) const;
  bool HasAlpha() const { return decoded_.hasAlpha; }

 private:
  DecodedImage decoded_;
  std::vector<HBITMAP> bitmaps_;
};

}  // namespace DuiLib
