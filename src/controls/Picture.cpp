#include "controls/Picture.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// The largest side a picture may have: what the drawing code's image surfaces accept.
constexpr png_uint_32 kMaxSide = 32767;

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// A tolerable flaw (an odd ancillary chunk): the picture still loads, and nothing is printed.
void OnWarning(png_structp, png_const_charp) {}

void ReadBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<std::FILE*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, file) != length) png_error(png, "short read");
}

unsigned Multiply(unsigned alpha, unsigned color) {
  const unsigned t = alpha * color + 0x80;
  return (t + (t >> 8)) >> 8;
}

// RGBA bytes to premultiplied 0xAARRGGBB words, in place; a fully transparent pixel becomes 0.
void Premultiply(png_structp, png_row_infop row, png_bytep data) {
  for (png_size_t i = 0; i + 4 <= row->rowbytes; i += 4) {
    png_bytep p = data + i;
    const unsigned a = p[3];
    uint32_t word = 0;
    if (a != 0) {
      unsigned r = p[0], g = p[1], b = p[2];
      if (a != 0xFF) {
        r = Multiply(a, r);
        g = Multiply(a, g);
        b = Multiply(a, b);
      }
      word = static_cast<uint32_t>(a << 24 | r << 16 | g << 8 | b);
    }
    std::memcpy(p, &word, sizeof word);
  }
}

// Reads the whole picture as 8-bit RGBA (palette, grey, transparency key and 16-bit channels
// converted, no gamma change) into pixels. libpng leaves this function by longjmp on a damaged
// file, so nothing in it may need a destructor: what it allocates belongs to the caller.
bool Decode(png_structp png, png_infop info, std::vector<uint32_t>* pixels, std::vector<png_bytep>* rows,
            png_uint_32* width, png_uint_32* height) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  int depth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(png, info, width, height, &depth, &colorType, &interlace, nullptr, nullptr);
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colorType == PNG_COLOR_TYPE_GRAY) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (depth == 16) png_set_strip_16(png);
  if (depth < 8) png_set_packing(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  if (interlace != PNG_INTERLACE_NONE) png_set_interlace_handling(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_read_user_transform_fn(png, Premultiply);
  png_read_update_info(png, info);
  png_get_IHDR(png, info, width, height, &depth, &colorType, &interlace, nullptr, nullptr);
  if (depth != 8 || (colorType != PNG_COLOR_TYPE_RGB && colorType != PNG_COLOR_TYPE_RGB_ALPHA)) return false;
  if (*width == 0 || *height == 0 || *width > kMaxSide || *height > kMaxSide) return false;
  if (png_get_rowbytes(png, info) != *width * 4) return false;
  pixels->assign(static_cast<size_t>(*width) * *height, 0);
  rows->resize(*height);
  for (png_uint_32 y = 0; y < *height; ++y) {
    (*rows)[y] = reinterpret_cast<png_bytep>(pixels->data() + static_cast<size_t>(y) * *width);
  }
  png_read_image(png, rows->data());
  png_read_end(png, info);
  return true;
}

}  // namespace

Picture::Picture(int width, int height, std::vector<uint32_t> pixels, int scale) {
  if (width <= 0 || height <= 0 || scale < 1 || pixels.size() != static_cast<size_t>(width) * height) return;
  width_ = width;
  height_ = height;
  scale_ = scale;
  pixels_ = std::move(pixels);
}

Picture Picture::Load(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return Picture();
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint32_t> pixels;
  std::vector<png_bytep> rows;
  png_uint_32 width = 0, height = 0;
  bool decoded = false;
  if (info) {
    png_set_read_fn(png, file, ReadBytes);
    decoded = Decode(png, info, &pixels, &rows, &width, &height);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(file);
  if (!decoded) return Picture();
  return Picture(static_cast<int>(width), static_cast<int>(height), std::move(pixels));
}

std::string Picture::ScaledPath(const std::string& path, int scale) {
  const std::string suffix = ".png";
  if (scale <= 1 || path.size() <= suffix.size() ||
      path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
    return {};
  }
  return path.substr(0, path.size() - suffix.size()) + "@" + std::to_string(scale) + "x" + suffix;
}

Picture Picture::LoadForScale(const std::string& path, int scale) {
  const std::string scaledPath = ScaledPath(path, scale);
  if (!scaledPath.empty()) {
    Picture scaled = Load(scaledPath);
    if (!scaled.Empty()) {
      scaled.scale_ = scale;
      return scaled;
    }
  }
  return Load(path);
}
