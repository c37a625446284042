// Packs are planned whole before a byte is written: every name, count, size
// and offset is checked first, so a refusal never leaves half a pack, and
// the catalogue (which holds every offset) can go out ahead of the data.
//
// What readers need, and so what the plan insists on:
// - names of 1-8 base and 0-3 extension characters from a fixed set, stored
//   space padded without the dot; a name that would list differently from
//   how it was given (a trailing dot, a trailing space) is refused, so every
//   entry lists and extracts under the name it went in with;
// - a layout-1 pack is recognised from its first four records only: their
//   names must pass the name test and their data offsets strictly increase,
//   so the first three entries must exist and hold data;
// - layout-1 offsets are signed 32-bit numbers, layout-2 offsets and sizes
//   unsigned ones; the count of records is 16 bits and includes the closing
//   record;
// - recognition reads 66 bytes before it looks at anything, so a shorter
//   pack is padded with zeros past its data.
#include "writers/pack_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <new>
#include <system_error>

#include "archive/pack_catalogue.h"
#include "frame/byte_order.h"

namespace {

constexpr char kPadding = ' ';
// The layout-2 marker stands at the catalogue start.
constexpr size_t kMarkerOffset2 = 0;

// Records, the closing one included, counted in 16 bits.
constexpr size_t kMostRecords = 0xFFFF;
constexpr size_t kMostEntries = kMostRecords - 1;
// Layout 1 is recognised only when the data offsets of records 0 to 3
// strictly increase.
constexpr size_t kLayout1LeadingEntries = 3;
// One past the largest offset each layout can store.
constexpr uint64_t kOffsetLimit1 = uint64_t{1} << 31;
constexpr uint64_t kOffsetLimit2 = uint64_t{1} << 32;
constexpr uint64_t kRecognitionLength = PackProbeLength;

constexpr size_t kCopyBlock = size_t{1} << 20;

struct PlannedEntry {
  char nameField[PackNameFieldLength];
  uint64_t size;
  uint64_t offset;
};

struct PackPlan {
  int layout = 0;
  std::vector<PlannedEntry> entries;
  uint64_t dataStart = 0;
  uint64_t dataEnd = 0;
  uint64_t packSize = 0;  // dataEnd, or more when padded for recognition
};

bool Fail(std::string* error, const std::string& message) {
  if (error != nullptr) *error = message;
  return false;
}

std::string EntryLabel(size_t index, const std::string& name) {
  return "entry " + std::to_string(index + 1) + " (\"" + name + "\")";
}

bool IsNameCharacter(char c) {
  return c == ' ' || c == '#' || c == '.' || c == '_' || (c >= '0' && c <= '9') ||
         (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string Shown(char c) {
  if (c > ' ' && c < 0x7F) return std::string("'") + c + "'";
  char hex[8];
  std::snprintf(hex, sizeof(hex), "0x%02X", static_cast<unsigned char>(c));
  return std::string("the byte ") + hex;
}

bool MakeNameField(const std::string& name, const std::string& label, char* field,
                   std::string* error) {
  if (name.empty()) return Fail(error, label + " has no name");
  for (char c : name) {
    if (!IsNameCharacter(c)) {
      return Fail(error, label + ": " + Shown(c) +
                             " cannot stand in a pack name; allowed are letters, digits, "
                             "space, '#', '.' and '_'");
    }
  }
  const size_t dot = name.rfind('.');
  const std::string base = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
  if (base.empty()) return Fail(error, label + " has nothing before its last dot");
  if (base.size() > PackBaseLength) {
    return Fail(error, label + ": \"" + base + "\" has " + std::to_string(base.size()) +
                           " characters before the extension; a pack name holds at most 8");
  }
  if (extension.size() > PackExtensionLength) {
    return Fail(error, label + ": the extension \"" + extension + "\" has " +
                           std::to_string(extension.size()) +
                           " characters; a pack name holds at most 3");
  }
  // The pack stores no dot and pads with spaces, so these would list under
  // another name than the one given.
  if (dot != std::string::npos && extension.empty()) {
    return Fail(error, label + " ends with a dot, which a pack cannot keep");
  }
  if (base.back() == kPadding || (!extension.empty() && extension.back() == kPadding)) {
    return Fail(error, label + ": a space before the dot or at the end is lost in a pack");
  }
  std::memset(field, kPadding, PackNameFieldLength);
  std::memcpy(field, base.data(), base.size());
  std::memcpy(field + PackBaseLength, extension.data(), extension.size());
  return true;
}

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

bool SourceSize(const PackEntrySource& source, const std::string& label, uint64_t* size,
                std::string* error) {
  if (source.path.empty()) {
    *size = source.data.size();
    return true;
  }
  std::error_code failure;
  const std::filesystem::path path(source.path);
  if (!std::filesystem::is_regular_file(path, failure)) {
    return Fail(error, label + ": \"" + source.path + "\" is not a file that can be read" +
                           (failure ? " (" + failure.message() + ")" : ""));
  }
  *size = std::filesystem::file_size(path, failure);
  if (failure) {
    return Fail(error, label + ": cannot learn the size of \"" + source.path +
                           "\": " + failure.message());
  }
  return true;
}

bool MakePlan(const std::vector<PackEntrySource>& sources, int layout, PackPlan* plan,
              std::string* error) {
  if (layout != 1 && layout != 2) {
    return Fail(error, "there is no pack layout " + std::to_string(layout) + "; use 1 or 2");
  }
  if (sources.size() > kMostEntries) {
    return Fail(error, std::to_string(sources.size()) +
                           " entries are too many: a pack's catalogue holds at most " +
                           std::to_string(kMostEntries));
  }
  if (layout == 1 && sources.size() < kLayout1LeadingEntries) {
    return Fail(error, "a layout-1 pack with " + std::to_string(sources.size()) +
                           " entries would not be recognised: it needs at least three, the "
                           "first three not empty; use layout 2");
  }
  plan->layout = layout;
  plan->entries.resize(sources.size());

  std::vector<std::pair<std::string, size_t>> folded;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string label = EntryLabel(i, sources[i].name);
    if (!MakeNameField(sources[i].name, label, plan->entries[i].nameField, error)) return false;
    folded.emplace_back(Folded(sources[i].name), i);
  }
  std::sort(folded.begin(), folded.end());
  for (size_t i = 1; i < folded.size(); ++i) {
    if (folded[i].first == folded[i - 1].first) {
      const size_t first = folded[i - 1].second, second = folded[i].second;
      return Fail(error, EntryLabel(first, sources[first].name) + " and " +
                             EntryLabel(second, sources[second].name) +
                             " have the same name; names are compared without regard to case, "
                             "since hosts may look entries up that way");
    }
  }

  const uint64_t records = sources.size() + 1;
  plan->dataStart = layout == 1 ? PackRecordsOffset1 + PackRecordSize1 * records
                                : PackLocationsOffset2 + (PackLocationRecordSize2 + PackNameRecordSize2) * records;
  const uint64_t offsetLimit = layout == 1 ? kOffsetLimit1 : kOffsetLimit2;
  uint64_t offset = plan->dataStart;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string label = EntryLabel(i, sources[i].name);
    PlannedEntry& entry = plan->entries[i];
    if (!SourceSize(sources[i], label, &entry.size, error)) return false;
    if (layout == 1 && i < kLayout1LeadingEntries && entry.size == 0) {
      return Fail(error, label + " is empty: a layout-1 pack is recognised only when its "
                                 "first three entries hold data; reorder the entries or use "
                                 "layout 2");
    }
    entry.offset = offset;
    // The end of the data is stored too, as the closing record's offset.
    if (entry.size >= offsetLimit - offset) {
      return Fail(error, label + " would end at byte " + std::to_string(offset + entry.size) +
                             ", past the " + std::to_string(offsetLimit - 1) +
                             " that a layout-" + std::to_string(layout) + " pack can address" +
                             (layout == 1 ? "; layout 2 reaches further" : ""));
    }
    offset += entry.size;
  }
  plan->dataEnd = offset;
  plan->packSize = std::max(plan->dataEnd, kRecognitionLength);
  return true;
}

std::vector<uint8_t> MakeCatalogue(const PackPlan& plan) {
  const size_t records = plan.entries.size() + 1;
  std::vector<uint8_t> catalogue(static_cast<size_t>(plan.dataStart), 0);
  auto nameField = [&](size_t i) {
    static const char kClosingName[PackNameFieldLength + 1] = "           ";
    return i < plan.entries.size() ? plan.entries[i].nameField : kClosingName;
  };
  if (plan.layout == 1) {
    StoreU16LE(&catalogue[PackCountOffset1], static_cast<uint16_t>(records));
    for (size_t i = 0; i < records; ++i) {
      uint8_t* record = &catalogue[PackRecordsOffset1 + PackRecordSize1 * i];
      std::memcpy(record, nameField(i), PackNameFieldLength);
      const uint64_t offset = i < plan.entries.size() ? plan.entries[i].offset : plan.dataEnd;
      StoreU32LE(record + PackDataOffsetInRecord1, static_cast<uint32_t>(offset));
    }
  } else {
    StoreU16LE(&catalogue[kMarkerOffset2], PackLayout2Marker);
    StoreU16LE(&catalogue[PackCountOffset2], static_cast<uint16_t>(records));
    const size_t namesOffset = PackLocationsOffset2 + PackLocationRecordSize2 * records;
    for (size_t i = 0; i < records; ++i) {
      // The location record's first 4 bytes stay zero: walking back from a
      // record, the name test then fails there at once.
      uint8_t* location = &catalogue[PackLocationsOffset2 + PackLocationRecordSize2 * i];
      uint8_t* names = &catalogue[namesOffset + PackNameRecordSize2 * i];
      const bool closing = i == plan.entries.size();
      StoreU32LE(location + PackDataOffsetInLocation2,
                 static_cast<uint32_t>(closing ? plan.dataEnd : plan.entries[i].offset));
      std::memcpy(names, nameField(i), PackNameFieldLength);
      StoreU32LE(names + PackSizeInNameRecord2,
                 static_cast<uint32_t>(closing ? 0 : plan.entries[i].size));
    }
  }
  return catalogue;
}

using Sink = std::function<bool(const uint8_t* bytes, size_t length)>;

bool CopyFileData(const PackEntrySource& source, uint64_t size, const std::string& label,
                  const Sink& sink, std::vector<uint8_t>* buffer, std::string* error) {
  std::FILE* file = std::fopen(source.path.c_str(), "rb");
  if (file == nullptr) return Fail(error, label + ": cannot open \"" + source.path + "\"");
  bool ok = true;
  for (uint64_t left = size; ok && left > 0;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer->size()));
    const size_t got = std::fread(buffer->data(), 1, want, file);
    if (got != want) {
      ok = Fail(error, label + ": \"" + source.path + "\" " +
                           (std::ferror(file) ? "could not be read" : "got shorter") +
                           " while the pack was written");
    } else if (!sink(buffer->data(), got)) {
      ok = Fail(error, label + ": the pack could not be written");
    }
    left -= got;
  }
  if (ok && std::fgetc(file) != EOF) {
    ok = Fail(error, label + ": \"" + source.path + "\" grew while the pack was written");
  }
  std::fclose(file);
  return ok;
}

bool EmitPack(const std::vector<PackEntrySource>& sources, const PackPlan& plan, const Sink& sink,
              std::string* error) {
  const std::vector<uint8_t> catalogue = MakeCatalogue(plan);
  if (!sink(catalogue.data(), catalogue.size())) {
    return Fail(error, "the pack's catalogue could not be written");
  }
  std::vector<uint8_t> buffer;
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string label = EntryLabel(i, sources[i].name);
    if (sources[i].path.empty()) {
      if (!sink(sources[i].data.data(), sources[i].data.size())) {
        return Fail(error, label + ": the pack could not be written");
      }
      continue;
    }
    if (buffer.empty()) buffer.resize(kCopyBlock);
    if (!CopyFileData(sources[i], plan.entries[i].size, label, sink, &buffer, error)) return false;
  }
  const std::vector<uint8_t> padding(static_cast<size_t>(plan.packSize - plan.dataEnd), 0);
  if (!sink(padding.data(), padding.size())) return Fail(error, "the pack could not be written");
  return true;
}

// A name beside outPath that nothing else uses, so that the rename at the
// end stays within one directory.
std::string TemporaryPathFor(const std::string& outPath) {
  for (unsigned attempt = 0;; ++attempt) {
    const std::string candidate = outPath + ".partial" + std::to_string(attempt);
    std::error_code failure;
    if (!std::filesystem::exists(candidate, failure) && !failure) return candidate;
    if (attempt >= 1000) return std::string();
  }
}

}  // namespace

bool BuildPack(const std::vector<PackEntrySource>& entries, int layout, std::vector<uint8_t>* pack,
               std::string* error) {
  if (pack == nullptr) return Fail(error, "no place to put the pack was given");
  try {
    PackPlan plan;
    if (!MakePlan(entries, layout, &plan, error)) return false;
    if (plan.packSize > SIZE_MAX) return Fail(error, "the pack is too large to hold in memory");
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(plan.packSize));
    const Sink sink = [&out](const uint8_t* bytes, size_t length) {
      out.insert(out.end(), bytes, bytes + length);
      return true;
    };
    if (!EmitPack(entries, plan, sink, error)) return false;
    pack->swap(out);
    return true;
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory to build the pack");
  }
}

bool WritePack(const std::string& outPath, const std::vector<PackEntrySource>& entries, int layout,
               std::string* error) {
  PackPlan plan;
  try {
    if (!MakePlan(entries, layout, &plan, error)) return false;
  } catch (const std::bad_alloc&) {
    return Fail(error, "not enough memory to plan the pack");
  }
  const std::string temporaryPath = TemporaryPathFor(outPath);
  std::FILE* file = temporaryPath.empty() ? nullptr : std::fopen(temporaryPath.c_str(), "wb");
  if (file == nullptr) {
    return Fail(error, "cannot create a file beside \"" + outPath + "\" to write the pack in");
  }
  const Sink sink = [file](const uint8_t* bytes, size_t length) {
    return std::fwrite(bytes, 1, length, file) == length;
  };
  bool ok;
  try {
    ok = EmitPack(entries, plan, sink, error);
  } catch (const std::bad_alloc&) {
    ok = Fail(error, "not enough memory to write the pack");
  }
  if (std::fclose(file) != 0 && ok) {
    ok = Fail(error, "\"" + outPath + "\" could not be written to the end");
  }
  std::error_code failure;
  if (ok) {
    std::filesystem::rename(temporaryPath, outPath, failure);
    if (failure) {
      ok = Fail(error, "the pack could not take the name \"" + outPath + "\": " + failure.message());
    }
  }
  if (!ok) std::filesystem::remove(temporaryPath, failure);
  return ok;
}
