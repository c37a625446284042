#include "picture.h"

#include <algorithm>
#include <array>
#include <unordered_map>

bool Picture::ColourAt(size_t i, PaletteColor* colour) const {
  switch (kind) {
    case PictureKind::Indexed:
      if (samples[i] >= palette.size()) return false;
      *colour = palette[samples[i]];
      return true;
    case PictureKind::Grey:
      *colour = {samples[i], samples[i], samples[i]};
      return true;
    case PictureKind::Rgb:
      *colour = {samples[3 * i], samples[3 * i + 1], samples[3 * i + 2]};
      return true;
  }
  return false;
}

bool IndexExactly(const Picture& picture, IndexedPicture* indexed) {
  const size_t count = static_cast<size_t>(picture.width) * picture.height;
  indexed->width = picture.width;
  indexed->height = picture.height;
  indexed->palette.clear();
  if (picture.kind == PictureKind::Indexed) {
    indexed->pixels = picture.samples;
    indexed->palette = picture.palette;
    return true;
  }

  indexed->pixels.resize(count);
  if (picture.kind == PictureKind::Grey) {
    // A palette of the levels in use, darkest first, rather than a full ramp:
    // fewer entries, and index 255 stays free unless every level occurs.
    std::array<bool, 256> used{};
    for (uint8_t level : picture.samples) used[level] = true;
    std::array<uint8_t, 256> indexOf{};
    for (int level = 0; level < 256; ++level) {
      if (!used[level]) continue;
      indexOf[level] = static_cast<uint8_t>(indexed->palette.size());
      const uint8_t v = static_cast<uint8_t>(level);
      indexed->palette.push_back({v, v, v});
    }
    for (size_t i = 0; i < count; ++i) indexed->pixels[i] = indexOf[picture.samples[i]];
    return true;
  }

  std::unordered_map<uint32_t, uint8_t> indexOf;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* rgb = &picture.samples[3 * i];
    const uint32_t key = (uint32_t{rgb[0]} << 16) | (uint32_t{rgb[1]} << 8) | rgb[2];
    auto found = indexOf.find(key);
    if (found == indexOf.end()) {
      if (indexed->palette.size() == 256) return false;
      found = indexOf.emplace(key, static_cast<uint8_t>(indexed->palette.size())).first;
      indexed->palette.push_back({rgb[0], rgb[1], rgb[2]});
    }
    indexed->pixels[i] = found->second;
  }
  return true;
}

bool CropPicture(Picture* picture, uint32_t x, uint32_t y, uint32_t w, uint32_t h,
                 std::string* error) {
  if (w == 0 || h == 0 || uint64_t{x} + w > picture->width || uint64_t{y} + h > picture->height) {
    *error = "the crop rectangle " + std::to_string(w) + "x" + std::to_string(h) + "+" +
             std::to_string(x) + "+" + std::to_string(y) + " does not lie inside the " +
             std::to_string(picture->width) + "x" + std::to_string(picture->height) + " picture";
    return false;
  }
  const size_t bpp = picture->BytesPerPixel();
  std::vector<uint8_t> cropped(size_t{w} * h * bpp);
  for (uint32_t row = 0; row < h; ++row) {
    const uint8_t* from = &picture->samples[((size_t{y} + row) * picture->width + x) * bpp];
    std::copy(from, from + size_t{w} * bpp, &cropped[size_t{row} * w * bpp]);
  }
  picture->samples.swap(cropped);
  picture->width = w;
  picture->height = h;
  return true;
}

bool ShrinkPicture(Picture* picture, uint32_t factor, std::string* error) {
  if (factor == 0 || picture->width / factor == 0 || picture->height / factor == 0) {
    *error = "a " + std::to_string(picture->width) + "x" + std::to_string(picture->height) +
             " picture cannot be made " + std::to_string(factor) + " times smaller";
    return false;
  }
  const uint32_t w = picture->width / factor;
  const uint32_t h = picture->height / factor;
  const size_t bpp = picture->BytesPerPixel();
  std::vector<uint8_t> shrunk(size_t{w} * h * bpp);
  for (uint32_t row = 0; row < h; ++row) {
    for (uint32_t col = 0; col < w; ++col) {
      const size_t first = (size_t{row} * factor * picture->width + size_t{col} * factor) * bpp;
      uint8_t* to = &shrunk[(size_t{row} * w + col) * bpp];
      if (picture->kind == PictureKind::Indexed) {
        *to = picture->samples[first];
        continue;
      }
      for (size_t c = 0; c < bpp; ++c) {
        uint64_t sum = 0;
        for (uint32_t dy = 0; dy < factor; ++dy)
          for (uint32_t dx = 0; dx < factor; ++dx)
            sum += picture->samples[first + (size_t{dy} * picture->width + dx) * bpp + c];
        const uint64_t area = uint64_t{factor} * factor;
        to[c] = static_cast<uint8_t>((sum + area / 2) / area);
      }
    }
  }
  picture->samples.swap(shrunk);
  picture->width = w;
  picture->height = h;
  return true;
}
