// tessel info, convert, encode and compare: pictures through the image
// plug-ins, and pictures into KZX files through our writer.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <thread>

#include "bmp_io.h"
#include "commands.h"
#include "file_io.h"
#include "picture.h"
#include "plugin_host.h"
#include "progress_bar.h"
#include "writers/kzx_writer.h"

#ifdef TESSEL_HAVE_PNG
#include "png_io.h"
#endif

namespace fs = std::filesystem;

namespace {

#ifndef TESSEL_HAVE_PNG
const char* const PngUnavailable = "PNG is not available in this build";
#endif

std::string LowerExtension(const std::string& path) {
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool StartsWith(const std::vector<uint8_t>& bytes, const char* magic) {
  const size_t n = std::strlen(magic);
  return bytes.size() >= n && std::memcmp(bytes.data(), magic, n) == 0;
}

// A PNG or BMP file, told apart by its first bytes rather than its name.
bool LoadPicture(const std::string& path, Picture* picture, std::string* error) {
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file, error)) return false;
  bool loaded = false;
  if (StartsWith(file, "\x89PNG\r\n\x1a\n")) {
#ifdef TESSEL_HAVE_PNG
    loaded = DecodePng(file, picture, error);
#else
    *error = PngUnavailable;
#endif
  } else if (StartsWith(file, "BM")) {
    loaded = DecodeBmp(file.data(), file.size(), picture, error);
  } else {
    *error = "not a PNG or BMP file";
  }
  if (!loaded) *error = path + ": " + *error;
  return loaded;
}

struct ConvertJob {
  std::string input;
  std::string output;
  std::string format;
};

// The output of a decoded picture. BMP: the blocks exactly as the plug-in
// handed them over, behind a file header. PNG: the picture as 8-bit indices.
bool WriteConverted(const ConvertJob& job, ReceivedBlock& info, ReceivedBlock& bits,
                    std::string* error) {
  if (!info.Lock() || !bits.Lock()) {
    *error = "the plug-in's bitmap blocks cannot be locked";
    return false;
  }
  DibBlocks dib;
  dib.info = info.data();
  dib.infoSize = info.size();
  dib.bits = bits.data();
  dib.bitsSize = bits.size();
  // Even the blocks written unchanged are read first: a bitmap the plug-in got
  // wrong is reported, not stored.
  Picture picture;
  if (!DecodeDib(dib, &picture, error)) {
    *error = "the plug-in handed over a bitmap that cannot be used: " + *error;
    return false;
  }
  if (job.format == "bmp") {
    uint8_t header[BmpFileHeaderSize];
    if (!MakeBmpFileHeader(info.size(), bits.size(), header, error)) return false;
    return WriteFileReplacing(
        job.output,
        {{header, sizeof header}, {info.data(), info.size()}, {bits.data(), bits.size()}}, error);
  }
#ifdef TESSEL_HAVE_PNG
  if (picture.kind != PictureKind::Indexed) {
    *error = "PNG output needs a palette picture; the plug-in handed over a true-colour one";
    return false;
  }
  IndexedPicture indexed;
  IndexExactly(picture, &indexed);
  std::vector<uint8_t> png;
  return EncodePng(indexed, &png, error) &&
         WriteFileReplacing(job.output, {{png.data(), png.size()}}, error);
#else
  *error = PngUnavailable;
  return false;
#endif
}

bool ConvertOne(const PluginHost& host, const ConvertJob& job, ProgressBar& bar, size_t item) {
  const Plugin* plugin = FindPluginFor(host, PluginRole::Image, job.input);
  if (plugin == nullptr) return false;
  ProgressBar::Ticket ticket = bar.Begin(item, job.input);
  HLOCAL infoHandle = nullptr;
  HLOCAL bitsHandle = nullptr;
  const ResultCode code =
      plugin->getPicture(job.input.c_str(), 0, InputKindFile, &infoHandle, &bitsHandle,
                         ProgressBar::Callback, reinterpret_cast<intptr_t>(&ticket));
  bar.End(ticket);
  // The blocks are ours only after ResultOk; after a failure the plug-in has
  // freed them, whatever it left in the handles.
  if (code != ResultOk) {
    ReportError(job.input + ": " + plugin->fileName + " " + DescribeResult("GetPicture", code));
    return false;
  }
  ReceivedBlock info(infoHandle);
  ReceivedBlock bits(bitsHandle);
  if (Interrupted()) return false;
  std::string error;
  if (!WriteConverted(job, info, bits, &error)) {
    ReportError(job.input + ": " + error);
    return false;
  }
  return true;
}

bool PlanConversions(const ConvertOptions& options, std::vector<ConvertJob>* jobs) {
  if (options.outputDir.empty()) {
    if (options.files.size() != 2) {
      ReportError("convert takes IN OUT, or several inputs with -o DIR");
      return false;
    }
    ConvertJob job{options.files[0], options.files[1], options.format};
    if (job.format.empty()) {
      const std::string extension = LowerExtension(job.output);
      if (extension != ".png" && extension != ".bmp") {
        ReportError(job.output +
                    ": cannot tell the output format; name it .png or .bmp, or use --format");
        return false;
      }
      job.format = extension.substr(1);
    }
    jobs->push_back(job);
  } else {
    std::error_code ec;
    fs::create_directories(fs::path(options.outputDir), ec);
    if (ec) {
      ReportError(options.outputDir + ": cannot create the output directory: " + ec.message());
      return false;
    }
    const std::string format = options.format.empty() ? "png" : options.format;
    std::map<std::string, std::string> inputOf;
    for (const std::string& input : options.files) {
      const std::string output =
          (fs::path(options.outputDir) / fs::path(input).stem()).string() + "." + format;
      const auto [it, fresh] = inputOf.emplace(output, input);
      if (!fresh) {
        ReportError(input + " and " + it->second + " would both become " + output);
        return false;
      }
      jobs->push_back({input, output, format});
    }
  }
#ifndef TESSEL_HAVE_PNG
  for (const ConvertJob& job : *jobs) {
    if (job.format == "png") {
      ReportError(std::string(PngUnavailable) + "; use --format bmp");
      return false;
    }
  }
#endif
  return true;
}

// Turns whatever the file held into an indexed picture: a palette picture as
// it is, others with at most maxColours colours; *reduced tells whether
// colours were lost on the way.
bool IndexPicture(const Picture& picture, unsigned maxColours, float dither,
                  IndexedPicture* indexed, bool* reduced, std::string* error) {
  *reduced = false;
  if (IndexExactly(picture, indexed) &&
      (picture.kind == PictureKind::Indexed || indexed->palette.size() <= maxColours)) {
    return true;
  }
  *reduced = true;
#ifdef TESSEL_HAVE_PNG
  return QuantizePicture(picture, maxColours, dither, indexed, error);
#else
  (void)dither;
  *error = "the picture has more than " + std::to_string(maxColours) +
           " colours, and this build has no colour quantiser";
  return false;
#endif
}

bool ParseCrop(const std::string& text, uint32_t* x, uint32_t* y, uint32_t* w, uint32_t* h) {
  unsigned values[4];
  int consumed = 0;
  if (std::sscanf(text.c_str(), "%ux%u+%u+%u%n", &values[0], &values[1], &values[2], &values[3],
                  &consumed) != 4 ||
      static_cast<size_t>(consumed) != text.size() || text.find('-') != std::string::npos) {
    return false;
  }
  *w = values[0];
  *h = values[1];
  *x = values[2];
  *y = values[3];
  return true;
}

const char* EncodingName(KzxEncoding encoding) {
  return encoding == KzxEncoding::BitStream ? "bit-stream" : "chunked";
}

}  // namespace

int RunInfo(const std::string& pluginDir, const std::vector<std::string>& files) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  int status = ExitOk;
  for (const std::string& file : files) {
    const Plugin* plugin = FindPluginFor(host, PluginRole::Image, file);
    if (plugin == nullptr) {
      status = ExitFailed;
      continue;
    }
    PictureInfo info{};
    const ResultCode code = plugin->getPictureInfo(file.c_str(), 0, InputKindFile, &info);
    if (code != ResultOk) {
      ReportError(file + ": " + plugin->fileName + " " + DescribeResult("GetPictureInfo", code));
      status = ExitFailed;
      continue;
    }
    std::printf("%s: %d x %d pixels, %d bits per pixel (%s)\n", file.c_str(), info.width,
                info.height, info.colorDepth, plugin->fileName.c_str());
  }
  return status;
}

int RunConvert(const std::string& pluginDir, const ConvertOptions& options) {
  std::vector<ConvertJob> jobs;
  if (!PlanConversions(options, &jobs)) return ExitFailed;
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;

  CatchInterrupt();
  ProgressBar bar(jobs.size());
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&]() {
    for (size_t i = next++; i < jobs.size() && !Interrupted(); i = next++) {
      bool done = false;
      try {
        done = ConvertOne(host, jobs[i], bar, i);
      } catch (const std::bad_alloc&) {
        ReportError(jobs[i].input + ": out of memory");
      }
      if (!done) failed = true;
    }
  };
  const size_t threads = std::min<size_t>(std::max(1u, options.jobs), jobs.size());
  std::vector<std::thread> workers;
  for (size_t t = 1; t < threads; ++t) workers.emplace_back(work);
  work();
  for (std::thread& worker : workers) worker.join();
  if (Interrupted()) {
    ReportError("stopped");
    return ExitInterrupted;
  }
  return failed ? ExitFailed : ExitOk;
}

int RunEncode(const EncodeOptions& options) {
  KzxEncoding only = KzxEncoding::BitStream;
  const bool automatic = options.encoding == "auto";
  if (options.encoding == "chunked") only = KzxEncoding::Chunked;

  Picture picture;
  std::string error;
  if (!LoadPicture(options.input, &picture, &error)) {
    ReportError(error);
    return ExitFailed;
  }
  if (!options.crop.empty()) {
    uint32_t x = 0, y = 0, w = 0, h = 0;
    if (!ParseCrop(options.crop, &x, &y, &w, &h)) {
      ReportError("--crop: " + options.crop + " is not of the form WxH+X+Y");
      return ExitUsage;
    }
    if (!CropPicture(&picture, x, y, w, h, &error)) {
      ReportError(options.input + ": " + error);
      return ExitFailed;
    }
  }
  if (options.shrink > 1 && !ShrinkPicture(&picture, options.shrink, &error)) {
    ReportError(options.input + ": " + error);
    return ExitFailed;
  }
  if (picture.droppedTransparency) {
    ReportNote(options.input + ": transparency is dropped; a KZX picture has none");
  }
  // The chunked encoding cannot store index 255, so colours reduced for
  // it are reduced to 255 at most.
  const unsigned maxColours = options.encoding == "chunked" ? 255 : 256;
  IndexedPicture indexed;
  bool reduced = false;
  if (!IndexPicture(picture, maxColours, options.dither, &indexed, &reduced, &error)) {
    ReportError(options.input + ": " + error);
    return ExitFailed;
  }

  std::vector<uint8_t> best;
  KzxEncoding chosen = only;
  std::string reasons;
  for (KzxEncoding encoding : {KzxEncoding::BitStream, KzxEncoding::Chunked}) {
    if (!automatic && encoding != only) continue;
    std::vector<uint8_t> file;
    if (!EncodeKzx(indexed, encoding, &file, &error)) {
      reasons += (reasons.empty() ? "" : "; ") + std::string(EncodingName(encoding)) + ": " + error;
      continue;
    }
    if (best.empty() || file.size() < best.size()) {
      best.swap(file);
      chosen = encoding;
    }
  }
  if (best.empty()) {
    ReportError(options.input + ": cannot encode: " + reasons);
    return ExitFailed;
  }
  if (!WriteFileReplacing(options.output, {{best.data(), best.size()}}, &error)) {
    ReportError(error);
    return ExitFailed;
  }
  std::printf("%s: %u x %u pixels, %zu colours%s, %s encoding, %zu bytes\n", options.output.c_str(),
              indexed.width, indexed.height, indexed.palette.size(), reduced ? " (reduced)" : "",
              EncodingName(chosen), best.size());
  return ExitOk;
}

int RunCompare(const std::string& first, const std::string& second, bool coloursOnly) {
  Picture a, b;
  std::string error;
  if (!LoadPicture(first, &a, &error) || !LoadPicture(second, &b, &error)) {
    ReportError(error);
    return ExitFailed;
  }
  if (a.width != b.width || a.height != b.height) {
    ReportError(first + " is " + std::to_string(a.width) + " x " + std::to_string(a.height) + ", " +
                second + " is " + std::to_string(b.width) + " x " + std::to_string(b.height));
    return ExitFailed;
  }
  const bool indices =
      !coloursOnly && a.kind == PictureKind::Indexed && b.kind == PictureKind::Indexed;
  const size_t count = size_t{a.width} * a.height;
  auto where = [&](size_t i) {
    return "pixel (" + std::to_string(i % a.width) + ", " + std::to_string(i / a.width) + ")";
  };
  for (size_t i = 0; i < count; ++i) {
    if (indices && a.samples[i] != b.samples[i]) {
      ReportError(first + " and " + second + " differ at " + where(i) + ": index " +
                  std::to_string(a.samples[i]) + " against " + std::to_string(b.samples[i]));
      return ExitFailed;
    }
    PaletteColor ca{}, cb{};
    a.ColourAt(i, &ca);
    b.ColourAt(i, &cb);
    if (ca.red != cb.red || ca.green != cb.green || ca.blue != cb.blue) {
      char text[64];
      std::snprintf(text, sizeof text, ": #%02x%02x%02x against #%02x%02x%02x", ca.red, ca.green,
                    ca.blue, cb.red, cb.green, cb.blue);
      ReportError(first + " and " + second + " differ at " + where(i) + text);
      return ExitFailed;
    }
  }
  std::printf("%s and %s: same %s\n", first.c_str(), second.c_str(),
              indices ? "indices and colours" : "colours");
  return ExitOk;
}
