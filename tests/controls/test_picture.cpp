// PNG decoding without the drawing library, checked pixel for pixel against the drawing
// library's own loader (what the artwork was drawn with before).
#include <gtest/gtest.h>

#include <cairo.h>
#include <png.h>

#include <cstdint>
#include <string>
#include <vector>

#include "controls/Picture.h"
#include "support/Sandbox.h"

namespace {

// Every pixel of the picture equals the one Cairo loads from the same file (its RGB24 pixels
// count as opaque), or both fail.
void ExpectSameAsCairo(const std::string& path) {
  SCOPED_TRACE(path);
  const Picture picture = Picture::Load(path);
  cairo_surface_t* reference = cairo_image_surface_create_from_png(path.c_str());
  const bool cairoLoads = cairo_surface_status(reference) == CAIRO_STATUS_SUCCESS;
  EXPECT_EQ(!picture.Empty(), cairoLoads);
  if (cairoLoads && !picture.Empty()) {
    ASSERT_EQ(picture.Width(), cairo_image_surface_get_width(reference));
    ASSERT_EQ(picture.Height(), cairo_image_surface_get_height(reference));
    const bool opaque = cairo_image_surface_get_format(reference) == CAIRO_FORMAT_RGB24;
    const unsigned char* data = cairo_image_surface_get_data(reference);
    const int stride = cairo_image_surface_get_stride(reference);
    int differing = 0;
    for (int y = 0; y < picture.Height(); ++y) {
      for (int x = 0; x < picture.Width(); ++x) {
        uint32_t expected = reinterpret_cast<const uint32_t*>(data + y * stride)[x];
        if (opaque) expected |= 0xFF000000u;
        differing += picture.Pixel(x, y) != expected;
      }
    }
    EXPECT_EQ(differing, 0);
  }
  cairo_surface_destroy(reference);
}

TEST(PngPicture, ArtworkDecodesLikeTheDrawingLibrary) {
  for (const char* name : {"background.png", "background@2x.png", "btn-close.png", "btn-close@2x.png",
                           "btn-minimise.png", "btn-minimise@2x.png", "cursor.png", "cursor@2x.png", "icon.png"}) {
    ExpectSameAsCairo(std::string(VELLMORA_SOURCE_DIR) + "/res/" + name);
  }
}

// The colour layouts a PNG can have (grey, grey with alpha, palette with transparency, 16-bit
// channels), with every alpha from clear to opaque, convert and premultiply like the reference.
TEST(PngPicture, EveryColourLayoutDecodesLikeTheDrawingLibrary) {
  Sandbox sandbox;
  constexpr int kW = 23, kH = 13;
  struct Layout {
    const char* name;
    png_uint_32 format;
  };
  const Layout layouts[] = {
      {"grey", PNG_FORMAT_GRAY},
      {"grey-alpha", PNG_FORMAT_GA},
      {"rgb", PNG_FORMAT_RGB},
      {"rgba", PNG_FORMAT_RGBA},
      {"palette", PNG_FORMAT_RGBA | PNG_FORMAT_FLAG_COLORMAP},
      {"rgba16", PNG_FORMAT_LINEAR_RGB_ALPHA},
  };
  for (const Layout& l : layouts) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = kW;
    image.height = kH;
    image.format = l.format;
    std::vector<png_byte> colormap;
    std::vector<png_byte> bytes(PNG_IMAGE_SIZE(image));
    if (l.format & PNG_FORMAT_FLAG_COLORMAP) {
      image.colormap_entries = 256;
      colormap.resize(PNG_IMAGE_COLORMAP_SIZE(image));
      for (size_t i = 0; i < colormap.size(); ++i) colormap[i] = static_cast<png_byte>(i * 37 + i / 4);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<png_byte>(i * 11);
    } else if (l.format & PNG_FORMAT_FLAG_LINEAR) {
      auto* words = reinterpret_cast<png_uint_16*>(bytes.data());
      for (size_t i = 0; i < bytes.size() / 2; i += 4) {
        const png_uint_16 alpha = static_cast<png_uint_16>(i * 977);
        for (int c = 0; c < 3; ++c) words[i + c] = static_cast<png_uint_16>((i * 131 + c * 7919) % (alpha + 1u));
        words[i + 3] = alpha;
      }
    } else {
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<png_byte>(i * 13 + i / 7);
    }
    const std::string path = sandbox.Root() + "/" + l.name + ".png";
    ASSERT_TRUE(
        png_image_write_to_file(&image, path.c_str(), 0, bytes.data(), 0, colormap.empty() ? nullptr : colormap.data()))
        << l.name << ": " << image.message;
    ExpectSameAsCairo(path);
    EXPECT_FALSE(Picture::Load(path).Empty()) << l.name;
  }
}

TEST(PngPicture, DamagedOrMissingFilesGiveAnEmptyPicture) {
  Sandbox sandbox;
  const std::string good = Sandbox::ReadFile(std::string(VELLMORA_SOURCE_DIR) + "/res/btn-close.png");
  ASSERT_GT(good.size(), 200u);
  std::string flipped = good;
  flipped[flipped.size() / 2] ^= 0x5A;  // inside the image data: its checksum no longer matches
  struct Case {
    const char* name;
    std::string content;
  };
  const Case cases[] = {
      {"truncated.png", good.substr(0, good.size() / 2)},
      {"no-end.png", good.substr(0, good.size() - 12)},
      {"flipped.png", flipped},
      {"text.png", "not a picture\n"},
      {"empty.png", ""},
  };
  for (const Case& c : cases) {
    const std::string path = sandbox.Root() + "/" + c.name;
    Sandbox::WriteFile(path, c.content);
    EXPECT_TRUE(Picture::Load(path).Empty()) << c.name;
    ExpectSameAsCairo(path);
  }
  EXPECT_TRUE(Picture::Load(sandbox.Root() + "/missing.png").Empty());
  EXPECT_TRUE(Picture::LoadForScale(sandbox.Root() + "/missing.png", 2).Empty());
}

TEST(PngPicture, ScaledPathAndPicturesMadeInMemory) {
  EXPECT_EQ(Picture::ScaledPath("/r/btn.png", 2), "/r/btn@2x.png");
  EXPECT_EQ(Picture::ScaledPath("/r/btn.png", 3), "/r/btn@3x.png");
  EXPECT_EQ(Picture::ScaledPath("/r/btn.png", 1), "");
  EXPECT_EQ(Picture::ScaledPath("/r/btn.PNG", 2), "");
  EXPECT_EQ(Picture::ScaledPath(".png", 2), "");

  EXPECT_FALSE(Picture(2, 2, std::vector<uint32_t>(4, 1)).Empty());
  EXPECT_TRUE(Picture(2, 2, std::vector<uint32_t>(3, 1)).Empty());  // too few pixels
  EXPECT_TRUE(Picture(0, 2, {}).Empty());
  const Picture doubled(4, 2, std::vector<uint32_t>(8, 1), 2);
  EXPECT_EQ(doubled.LogicalWidth(), 2);
  EXPECT_EQ(doubled.LogicalHeight(), 1);
}

}  // namespace
