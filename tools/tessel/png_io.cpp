#include "png_io.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "libimagequant.h"

// libpng reports errors by longjmp to the function that called setjmp. So that
// the jump never skips a destructor, everything with one lives in a state
// object owned by the caller of that function, and the function itself keeps
// only plain values.

namespace {

struct PngReadState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const std::vector<uint8_t>* file = nullptr;
  size_t offset = 0;
  char message[200] = "";
  std::vector<uint8_t> raw;  // the decoded rows, before alpha is dropped
  std::vector<png_bytep> rows;

  ~PngReadState() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

void KeepMessage(char* to, size_t size, png_const_charp message) {
  std::snprintf(to, size, "%s", message != nullptr ? message : "unknown libpng error");
}

void OnReadError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
  KeepMessage(state->message, sizeof state->message, message);
  png_longjmp(png, 1);
}

// Warnings concern chunks that no picture of ours needs; they are not errors.
void OnWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (count > state->file->size() - state->offset) png_error(png, "the file ends too early");
  std::memcpy(out, state->file->data() + state->offset, count);
  state->offset += count;
}

// Fills state->raw with 8-bit samples of 1 to 4 channels, and the picture's
// size, kind and palette. Answers the channel count, or 0 after an error.
int ReadPngRows(PngReadState& state, Picture* picture) {
  if (setjmp(png_jmpbuf(state.png))) return 0;
  png_set_user_limits(state.png, MaxKzxSide, MaxKzxSide);
  png_read_info(state.png, state.info);

  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
  png_get_IHDR(state.png, state.info, &width, &height, &bitDepth, &colourType, nullptr, nullptr,
               nullptr);
  picture->palette.clear();
  picture->droppedTransparency = false;
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(state.png, state.info, &entries, &count) == 0 || count < 1) {
      png_error(state.png, "the palette picture has no palette");
    }
    for (int i = 0; i < count; ++i) {
      picture->palette.push_back({entries[i].red, entries[i].green, entries[i].blue});
    }
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    if (png_get_tRNS(state.png, state.info, &alpha, &alphaCount, nullptr) != 0) {
      for (int i = 0; i < alphaCount; ++i) picture->droppedTransparency |= alpha[i] != 0xFF;
    }
    png_set_packing(state.png);  // one index per byte
    picture->kind = PictureKind::Indexed;
  } else {
    if (png_get_valid(state.png, state.info, PNG_INFO_tRNS) != 0) png_set_tRNS_to_alpha(state.png);
    if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(state.png);
    png_set_strip_16(state.png);
    picture->kind = (colourType & PNG_COLOR_MASK_COLOR) != 0 ? PictureKind::Rgb : PictureKind::Grey;
  }
  png_set_interlace_handling(state.png);
  png_read_update_info(state.png, state.info);

  const int channels = png_get_channels(state.png, state.info);
  const size_t rowBytes = png_get_rowbytes(state.png, state.info);
  if (rowBytes != size_t{width} * channels) png_error(state.png, "unexpected row layout");
  state.raw.resize(rowBytes * height);
  state.rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) state.rows[y] = &state.raw[y * rowBytes];
  png_read_image(state.png, state.rows.data());
  picture->width = width;
  picture->height = height;
  return channels;
}

struct PngWriteState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t>* file = nullptr;
  char message[200] = "";
  std::vector<png_color> palette;
  std::vector<png_bytep> rows;

  ~PngWriteState() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

void OnWriteError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngWriteState*>(png_get_error_ptr(png));
  KeepMessage(state->message, sizeof state->message, message);
  png_longjmp(png, 1);
}

void WriteToMemory(png_structp png, png_bytep data, size_t count) {
  auto* state = static_cast<PngWriteState*>(png_get_io_ptr(png));
  bool stored = true;
  try {
    state->file->insert(state->file->end(), data, data + count);
  } catch (const std::bad_alloc&) {
    stored = false;
  }
  if (!stored) png_error(png, "out of memory");
}

void FlushNothing(png_structp) {}

bool WritePngRows(PngWriteState& state, const IndexedPicture& picture) {
  if (setjmp(png_jmpbuf(state.png))) return false;
  png_set_IHDR(state.png, state.info, picture.width, picture.height, 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(state.png, state.info, state.palette.data(), static_cast<int>(state.palette.size()));
  png_write_info(state.png, state.info);
  png_write_image(state.png, state.rows.data());
  png_write_end(state.png, nullptr);
  return true;
}

template <typename T, void (*Destroy)(T*)>
struct LiqDeleter {
  void operator()(T* p) const { Destroy(p); }
};
using LiqAttr = std::unique_ptr<liq_attr, LiqDeleter<liq_attr, liq_attr_destroy>>;
using LiqImage = std::unique_ptr<liq_image, LiqDeleter<liq_image, liq_image_destroy>>;
using LiqResult = std::unique_ptr<liq_result, LiqDeleter<liq_result, liq_result_destroy>>;

}  // namespace

bool DecodePng(const std::vector<uint8_t>& file, Picture* picture, std::string* error) {
  if (file.size() < 8 || png_sig_cmp(file.data(), 0, 8) != 0) {
    *error = "not a PNG file";
    return false;
  }
  PngReadState state;
  state.file = &file;
  state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, OnReadError, OnWarning);
  if (state.png != nullptr) state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) {
    *error = "out of memory";
    return false;
  }
  png_set_read_fn(state.png, &state, ReadFromMemory);
  const int channels = ReadPngRows(state, picture);
  if (channels == 0) {
    *error = std::string("bad PNG file: ") + state.message;
    return false;
  }

  const size_t count = size_t{picture->width} * picture->height;
  if (picture->kind == PictureKind::Indexed) {
    for (size_t i = 0; i < count; ++i) {
      if (state.raw[i] >= picture->palette.size()) {
        *error = "the PNG picture uses colour " + std::to_string(state.raw[i]) +
                 ", beyond its palette of " + std::to_string(picture->palette.size());
        return false;
      }
    }
    picture->samples.swap(state.raw);
    return true;
  }
  // Grey or RGB, with or without alpha: keep the colour channels.
  const size_t colourChannels = picture->BytesPerPixel();
  if (static_cast<size_t>(channels) == colourChannels) {
    picture->samples.swap(state.raw);
    return true;
  }
  picture->samples.resize(count * colourChannels);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* from = &state.raw[i * channels];
    std::copy(from, from + colourChannels, &picture->samples[i * colourChannels]);
    picture->droppedTransparency |= from[colourChannels] != 0xFF;
  }
  return true;
}

bool EncodePng(const IndexedPicture& picture, std::vector<uint8_t>* file, std::string* error) {
  const size_t count = size_t{picture.width} * picture.height;
  if (picture.width == 0 || picture.height == 0 || picture.pixels.size() != count) {
    *error = "the picture has no pixels";
    return false;
  }
  const uint8_t highest = *std::max_element(picture.pixels.begin(), picture.pixels.end());
  if (highest >= picture.palette.size()) {
    *error = "the picture uses colour " + std::to_string(highest) + ", beyond its palette of " +
             std::to_string(picture.palette.size());
    return false;
  }
  PngWriteState state;
  state.file = file;
  file->clear();
  for (size_t i = 0; i <= highest; ++i) {
    const PaletteColor& c = picture.palette[i];
    state.palette.push_back({c.red, c.green, c.blue});
  }
  state.rows.resize(picture.height);
  for (uint32_t y = 0; y < picture.height; ++y) {
    // libpng only reads the rows it writes, but takes them as non-const.
    state.rows[y] = const_cast<png_bytep>(&picture.pixels[size_t{y} * picture.width]);
  }
  state.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, OnWriteError, OnWarning);
  if (state.png != nullptr) state.info = png_create_info_struct(state.png);
  if (state.info == nullptr) {
    *error = "out of memory";
    return false;
  }
  png_set_write_fn(state.png, &state, WriteToMemory, FlushNothing);
  if (!WritePngRows(state, picture)) {
    *error = std::string("cannot make the PNG file: ") + state.message;
    return false;
  }
  return true;
}

bool QuantizePicture(const Picture& picture, unsigned maxColours, float dither,
                     IndexedPicture* indexed, std::string* error) {
  const size_t count = size_t{picture.width} * picture.height;
  std::vector<uint8_t> rgba(4 * count);
  for (size_t i = 0; i < count; ++i) {
    PaletteColor c{};
    picture.ColourAt(i, &c);
    rgba[4 * i] = c.red;
    rgba[4 * i + 1] = c.green;
    rgba[4 * i + 2] = c.blue;
    rgba[4 * i + 3] = 0xFF;
  }
  LiqAttr attr(liq_attr_create());
  if (!attr || liq_set_max_colors(attr.get(), static_cast<int>(maxColours)) != LIQ_OK) {
    *error = "cannot set up the colour quantiser";
    return false;
  }
  LiqImage image(liq_image_create_rgba(attr.get(), rgba.data(), static_cast<int>(picture.width),
                                       static_cast<int>(picture.height), 0));
  if (!image) {
    *error = "the colour quantiser does not take a " + std::to_string(picture.width) + " x " +
             std::to_string(picture.height) + " picture";
    return false;
  }
  liq_result* rawResult = nullptr;
  if (liq_image_quantize(image.get(), attr.get(), &rawResult) != LIQ_OK) {
    *error = "the colour quantiser failed";
    return false;
  }
  LiqResult result(rawResult);
  liq_set_dithering_level(result.get(), dither);
  indexed->width = picture.width;
  indexed->height = picture.height;
  indexed->pixels.resize(count);
  if (liq_write_remapped_image(result.get(), image.get(), indexed->pixels.data(),
                               indexed->pixels.size()) != LIQ_OK) {
    *error = "the colour quantiser failed to map the picture";
    return false;
  }
  const liq_palette* palette = liq_get_palette(result.get());
  indexed->palette.clear();
  for (unsigned i = 0; i < palette->count; ++i) {
    indexed->palette.push_back(
        {palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
  }
  return true;
}
