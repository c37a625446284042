// How fast Pelko turns a KZX image in memory into a bitmap, next to libpng
// and libspng decoding the same picture stored as an 8-bit palette PNG, and
// next to a plain memcpy of as many pixel bytes.
//
// Every picture of the shared corpus is made into an 8-bit indexed picture
// (palette pictures as they are; grey ones by grey level, RGB ones by a fixed
// 3-3-2 colour cube), then into KZX images in both encodings with EncodeKzx
// and into a palette PNG with libpng, all in memory. Pelko is loaded as a host
// loads it and called through GetPicture; the blocks it hands over are freed
// with LocalFree. Each measurement is repeated and the median taken.
//
// Usage: pelko_bench [--quick] [--plugins DIR] [--corpus DIR]
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_api.h"
#include "writers/kzx_writer.h"

namespace {

struct Options {
  bool quick = false;
  std::string plugins = TESSEL_PLUGIN_DIR;
  std::string corpus = std::string(TESSEL_SHARED_DIR) + "/corpus";
};

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct MemoryReader {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

void ReadFromMemory(png_structp png, png_bytep out, png_size_t length) {
  MemoryReader* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (reader->at + length > reader->bytes->size()) png_error(png, "read past the end");
  std::memcpy(out, reader->bytes->data() + reader->at, length);
  reader->at += length;
}

// Some corpus pictures carry colour profiles libpng finds fault with; their
// pixels are what counts here.
void IgnoreWarning(png_structp, png_const_charp) {}

// libpng structures that read the PNG from memory.
png_structp StartPngRead(MemoryReader* reader, png_infop* info) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnoreWarning);
  *info = png_create_info_struct(png);
  png_set_read_fn(png, reader, ReadFromMemory);
  return png;
}

// Any PNG of the corpus as an indexed picture: palette pictures keep their
// indices; grey becomes 255 grey levels; colour a 3-3-2 cube. At most 255
// colours, so that the chunked encoding, which cannot store index 255, takes
// every picture unchanged.
bool LoadIndexed(const std::vector<uint8_t>& file, IndexedPicture* picture) {
  MemoryReader reader = {&file, 0};
  png_infop info = nullptr;
  png_structp png = StartPngRead(&reader, &info);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_read_info(png, info);
  const int colorType = png_get_color_type(png, info);
  png_set_strip_16(png);
  png_set_packing(png);
  png_set_strip_alpha(png);
  if (colorType == PNG_COLOR_TYPE_GRAY || colorType == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
  }
  png_read_update_info(png, info);
  const uint32_t width = png_get_image_width(png, info);
  const uint32_t height = png_get_image_height(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<uint8_t> rows(rowBytes * height);
  std::vector<png_bytep> pointers(height);
  for (uint32_t y = 0; y < height; ++y) pointers[y] = &rows[y * rowBytes];
  png_read_image(png, pointers.data());

  picture->width = width;
  picture->height = height;
  picture->pixels.resize(static_cast<size_t>(width) * height);
  picture->palette.clear();
  const size_t channels = rowBytes / width;
  if (colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp colours = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colours, &count);
    for (int i = 0; i < count; ++i) picture->palette.push_back({colours[i].red, colours[i].green, colours[i].blue});
    for (uint32_t y = 0; y < height; ++y) std::memcpy(&picture->pixels[y * width], pointers[y], width);
    // A picture that uses index 255 is kept for the bit stream only.
  } else if (channels == 1) {
    for (int i = 0; i < 255; ++i) {
      const uint8_t level = static_cast<uint8_t>(i * 255 / 254);
      picture->palette.push_back({level, level, level});
    }
    for (size_t i = 0; i < picture->pixels.size(); ++i) picture->pixels[i] = static_cast<uint8_t>(rows[i] * 254 / 255);
  } else {
    for (int i = 0; i < 255; ++i) {
      picture->palette.push_back({static_cast<uint8_t>((i >> 5) * 255 / 7), static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
                                  static_cast<uint8_t>((i & 3) * 255 / 3)});
    }
    for (uint32_t y = 0; y < height; ++y) {
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* rgb = pointers[y] + x * channels;
        const int index = (rgb[0] >> 5) << 5 | (rgb[1] >> 5) << 2 | rgb[2] >> 6;
        picture->pixels[y * width + x] = static_cast<uint8_t>(std::min(index, 254));
      }
    }
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void WriteToMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void FlushNothing(png_structp) {}

std::vector<uint8_t> EncodePalettePng(const IndexedPicture& picture) {
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, WriteToMemory, FlushNothing);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> colours(256);
  for (size_t i = 0; i < picture.palette.size(); ++i) {
    colours[i] = {picture.palette[i].red, picture.palette[i].green, picture.palette[i].blue};
  }
  png_set_PLTE(png, info, colours.data(), 256);
  png_write_info(png, info);
  for (uint32_t y = 0; y < picture.height; ++y) {
    png_write_row(png, const_cast<png_bytep>(&picture.pixels[static_cast<size_t>(y) * picture.width]));
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// libpng, from the file in memory to a block of 8-bit indices.
bool DecodeWithLibpng(const std::vector<uint8_t>& file, uint8_t* pixels) {
  MemoryReader reader = {&file, 0};
  png_infop info = nullptr;
  png_structp png = StartPngRead(&reader, &info);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_read_info(png, info);
  const uint32_t width = png_get_image_width(png, info);
  const uint32_t height = png_get_image_height(png, info);
  for (uint32_t y = 0; y < height; ++y) png_read_row(png, pixels + static_cast<size_t>(y) * width, nullptr);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// libspng, the same.
bool DecodeWithSpng(const std::vector<uint8_t>& file, uint8_t* pixels, size_t pixelBytes) {
  spng_ctx* context = spng_ctx_new(0);
  if (context == nullptr) return false;
  bool ok = spng_set_png_buffer(context, file.data(), file.size()) == 0;
  size_t size = 0;
  ok = ok && spng_decoded_image_size(context, SPNG_FMT_PNG, &size) == 0 && size == pixelBytes;
  ok = ok && spng_decode_image(context, pixels, size, SPNG_FMT_PNG, 0) == 0;
  spng_ctx_free(context);
  return ok;
}

// Each into a new buffer, as a viewer decodes every picture it shows.
bool DecodeWithLibpng(const std::vector<uint8_t>& file, size_t pixelBytes) {
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[pixelBytes]);
  return DecodeWithLibpng(file, pixels.get());
}

bool DecodeWithSpng(const std::vector<uint8_t>& file, size_t pixelBytes) {
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[pixelBytes]);
  return DecodeWithSpng(file, pixels.get(), pixelBytes);
}

struct Pelko {
  HMODULE module = nullptr;
  GetPictureFn getPicture = nullptr;
};

// GetPicture from memory; the pixel rows, top first, when `pixels` is given.
bool DecodeWithPelko(const Pelko& pelko, const std::vector<uint8_t>& file, uint32_t width, uint32_t height,
                     std::vector<uint8_t>* pixels) {
  HLOCAL header = nullptr;
  HLOCAL bits = nullptr;
  if (pelko.getPicture(reinterpret_cast<LPCSTR>(file.data()), static_cast<intptr_t>(file.size()), 1, &header,
                       &bits, nullptr, 0) != ResultOk) {
    return false;
  }
  if (pixels != nullptr) {
    const size_t stride = (width + 3) & ~3u;
    const uint8_t* block = static_cast<const uint8_t*>(LocalLock(bits));
    pixels->resize(static_cast<size_t>(width) * height);
    for (uint32_t k = 0; k < height; ++k) {
      std::memcpy(&(*pixels)[static_cast<size_t>(height - 1 - k) * width], block + k * stride, width);
    }
    LocalUnlock(bits);
  }
  LocalFree(bits);
  LocalFree(header);
  return true;
}

// Seconds per call of each method: the median of `samples` timed batches,
// each batch long enough (minSeconds) for the clock to resolve it. The
// methods take turns batch by batch, so that a change in the machine's load
// falls on all of them alike.
std::vector<double> MeasureTogether(const std::vector<std::function<void()>>& calls, int samples,
                                    double minSeconds) {
  using Clock = std::chrono::steady_clock;
  std::vector<int> batches;
  for (const auto& call : calls) {
    int batch = 1;
    for (;;) {
      const auto start = Clock::now();
      for (int i = 0; i < batch; ++i) call();
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (seconds >= minSeconds || batch >= (1 << 20)) break;
      batch *= 2;
    }
    batches.push_back(batch);
  }
  std::vector<std::vector<double>> times(calls.size());
  for (int s = 0; s < samples; ++s) {
    for (size_t m = 0; m < calls.size(); ++m) {
      const auto start = Clock::now();
      for (int i = 0; i < batches[m]; ++i) calls[m]();
      times[m].push_back(std::chrono::duration<double>(Clock::now() - start).count() / batches[m]);
    }
  }
  std::vector<double> medians;
  for (auto& sampleTimes : times) {
    std::sort(sampleTimes.begin(), sampleTimes.end());
    medians.push_back(sampleTimes[sampleTimes.size() / 2]);
  }
  return medians;
}

struct Row {
  std::string name;
  double pixels;
  double seconds[5];  // bit stream, chunked, libpng, libspng, memcpy; < 0: not measured
};

constexpr const char* kMethods[5] = {"KZX bit stream", "KZX chunked", "libpng", "libspng", "memcpy"};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quick") {
      options.quick = true;
    } else if (arg == "--plugins" && i + 1 < argc) {
      options.plugins = argv[++i];
    } else if (arg == "--corpus" && i + 1 < argc) {
      options.corpus = argv[++i];
    } else {
      std::fprintf(stderr, "usage: %s [--quick] [--plugins DIR] [--corpus DIR]\n", argv[0]);
      return 2;
    }
  }
  const int samples = options.quick ? 3 : 15;
  const double minSeconds = options.quick ? 0.002 : 0.01;

  Pelko pelko;
  const std::string library = options.plugins + "/libpelko.so";
  pelko.module = LoadLibraryA(library.c_str());
  if (pelko.module != nullptr) {
    pelko.getPicture = reinterpret_cast<GetPictureFn>(GetProcAddress(pelko.module, "GetPicture"));
  }
  if (pelko.getPicture == nullptr) {
    std::fprintf(stderr, "cannot load GetPicture from %s\n", library.c_str());
    return 1;
  }

  std::vector<std::string> paths;
  for (const char* folder : {"art", "photo", "small"}) {
    const std::filesystem::path dir = std::filesystem::path(options.corpus) / folder;
    if (!std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (entry.path().extension() == ".png") paths.push_back(entry.path().string());
    }
  }
  std::sort(paths.begin(), paths.end());
  if (paths.empty()) {
    std::fprintf(stderr, "no pictures in %s\n", options.corpus.c_str());
    return 1;
  }

  std::printf("Decoding from memory to 8-bit indices; megapixels per second, median of %d%s\n\n", samples,
              options.quick ? " (quick run)" : "");
  std::printf("%-34s %9s %9s %9s %9s %9s %9s %9s\n", "picture", "pixels", kMethods[0], kMethods[1], kMethods[2],
              kMethods[3], kMethods[4], "KZX bytes");
  std::vector<Row> rows;
  int failures = 0;
  for (const std::string& path : paths) {
    IndexedPicture picture;
    if (!LoadIndexed(ReadWholeFile(path), &picture)) {
      std::fprintf(stderr, "%s: not a PNG this benchmark reads\n", path.c_str());
      ++failures;
      continue;
    }
    const std::string name = std::filesystem::path(path).parent_path().filename().string() + "/" +
                             std::filesystem::path(path).filename().string();
    const std::vector<uint8_t> png = EncodePalettePng(picture);
    std::vector<uint8_t> kzx[2];
    std::string error;
    const bool encoded[2] = {EncodeKzx(picture, KzxEncoding::BitStream, &kzx[0], &error),
                             EncodeKzx(picture, KzxEncoding::Chunked, &kzx[1], &error)};

    // Every decoder must give the picture's own indices before it is timed.
    std::vector<uint8_t> decoded(picture.pixels.size());
    bool same = DecodeWithLibpng(png, decoded.data()) && decoded == picture.pixels;
    same = same && DecodeWithSpng(png, decoded.data(), decoded.size()) && decoded == picture.pixels;
    for (int e = 0; e < 2; ++e) {
      if (!encoded[e]) continue;
      same = same && DecodeWithPelko(pelko, kzx[e], picture.width, picture.height, &decoded) &&
             (decoded == picture.pixels || e == 1);  // chunked may move index 255
    }
    if (!same) {
      std::fprintf(stderr, "%s: a decoder does not give the picture back\n", name.c_str());
      ++failures;
      continue;
    }

    Row row{name, static_cast<double>(picture.pixels.size()), {-1, -1, -1, -1, -1}};
    // Each decode makes a new bitmap, as a viewer does for every picture it
    // shows: GetPicture allocates its blocks, the PNG decoders a new buffer.
    const size_t pixelBytes = picture.pixels.size();
    std::vector<std::function<void()>> calls;
    std::vector<int> methods;
    for (int e = 0; e < 2; ++e) {
      if (!encoded[e]) continue;
      methods.push_back(e);
      calls.push_back([&, e] { DecodeWithPelko(pelko, kzx[e], picture.width, picture.height, nullptr); });
    }
    methods.push_back(2);
    calls.push_back([&] { DecodeWithLibpng(png, pixelBytes); });
    methods.push_back(3);
    calls.push_back([&] { DecodeWithSpng(png, pixelBytes); });
    methods.push_back(4);
    calls.push_back([&] {
      std::unique_ptr<uint8_t[]> target(new uint8_t[pixelBytes]);
      std::memcpy(target.get(), picture.pixels.data(), pixelBytes);
      asm volatile("" : : "r"(target.get()) : "memory");
    });
    const std::vector<double> medians = MeasureTogether(calls, samples, minSeconds);
    for (size_t i = 0; i < methods.size(); ++i) row.seconds[methods[i]] = medians[i];
    std::printf("%-34s %9.0f", name.c_str(), row.pixels);
    for (double seconds : row.seconds) {
      if (seconds < 0) {
        std::printf(" %9s", "-");
      } else {
        std::printf(" %9.1f", row.pixels / seconds / 1e6);
      }
    }
    std::printf(" %4zu/%-4zu\n", kzx[0].size() / 1024, kzx[1].size() / 1024);
    rows.push_back(row);
  }

  // Aggregate: all pixels over all time, for the pictures every method took.
  double pixels = 0, seconds[5] = {0, 0, 0, 0, 0};
  for (const Row& row : rows) {
    if (*std::min_element(std::begin(row.seconds), std::end(row.seconds)) < 0) continue;
    pixels += row.pixels;
    for (int m = 0; m < 5; ++m) seconds[m] += row.seconds[m];
  }
  std::printf("\nAll pictures (%.1f megapixels per pass):\n", pixels / 1e6);
  for (int m = 0; m < 5; ++m) std::printf("  %-16s %8.1f MP/s\n", kMethods[m], pixels / seconds[m] / 1e6);
  std::printf("\nRatios of speed (higher is faster):\n");
  for (int e = 0; e < 2; ++e) {
    std::printf("  %-16s %5.2fx libpng  %5.2fx libspng  %5.2fx memcpy\n", kMethods[e], seconds[2] / seconds[e],
                seconds[3] / seconds[e], seconds[4] / seconds[e]);
  }
  std::printf("  Goals: bit stream >= 1.50x libpng, chunked >= 3.00x libpng\n");
  FreeLibrary(pelko.module);
  return failures == 0 ? 0 : 1;
}
