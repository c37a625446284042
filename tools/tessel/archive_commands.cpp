// tessel list, extract and cat: packs through the archive plug-ins; tessel
// pack: packs through our writer.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "commands.h"
#include "frame/byte_order.h"
#include "plugin_host.h"
#include "progress_bar.h"
#include "writers/pack_writer.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace fs = std::filesystem;

namespace {

// One ArchiveEntryInfo as tessel uses it.
struct PackEntry {
  std::string name;  // path and file name joined, as the plug-in matches them
  std::string method;
  uint32_t position = 0;
  uint32_t packedSize = 0;
};

// A zero-terminated field of a record, never read past its width.
std::string FieldText(const uint8_t* field, size_t width) {
  const char* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, width));
}

PackEntry EntryFromRecord(const uint8_t* record) {
  PackEntry entry;
  entry.method =
      FieldText(record + offsetof(ArchiveEntryInfo, method), sizeof(ArchiveEntryInfo::method));
  entry.position = LoadU32LE(record + offsetof(ArchiveEntryInfo, position));
  entry.packedSize = LoadU32LE(record + offsetof(ArchiveEntryInfo, packedSize));
  entry.name =
      FieldText(record + offsetof(ArchiveEntryInfo, path), sizeof(ArchiveEntryInfo::path)) +
      FieldText(record + offsetof(ArchiveEntryInfo, fileName), sizeof(ArchiveEntryInfo::fileName));
  return entry;
}

// Every entry through GetArchiveInfo: the list is walked record by record up
// to the record with a zero first byte, and never past the block's end.
bool ListEntries(const Plugin& plugin, const std::string& pack, std::vector<PackEntry>* entries) {
  HLOCAL handle = nullptr;
  const ResultCode code = plugin.getArchiveInfo(pack.c_str(), 0, InputKindFile, &handle);
  if (code != ResultOk) {
    ReportError(pack + ": " + plugin.fileName + " " + DescribeResult("GetArchiveInfo", code));
    return false;
  }
  ReceivedBlock list(handle);
  if (!list.Lock()) {
    ReportError(pack + ": " + plugin.fileName + " handed over an entry list that cannot be locked");
    return false;
  }
  size_t offset = 0;
  for (; offset + sizeof(ArchiveEntryInfo) <= list.size(); offset += sizeof(ArchiveEntryInfo)) {
    const uint8_t* record = list.data() + offset;
    if (record[0] == 0) return true;
    entries->push_back(EntryFromRecord(record));
  }
  ReportNote(pack + ": the entry list of " + plugin.fileName + " has no end record");
  return true;
}

// One entry by name through GetFileInfo.
bool FindEntry(const Plugin& plugin, const std::string& pack, const std::string& name,
               bool ignoreCase, PackEntry* entry) {
  uint8_t record[sizeof(ArchiveEntryInfo)] = {};
  const uint32_t flag = InputKindFile | (ignoreCase ? FlagIgnoreCase : 0);
  const ResultCode code = plugin.getFileInfo(pack.c_str(), 0, name.c_str(), flag,
                                             reinterpret_cast<ArchiveEntryInfo*>(record));
  if (code == ResultNoMatch) {
    ReportError(pack + ": no entry named " + Printable(name) +
                (ignoreCase ? "" : " (--ignore-case compares without regard to case)"));
    return false;
  }
  if (code != ResultOk) {
    ReportError(pack + ": entry " + Printable(name) + ": " + plugin.fileName + " " +
                DescribeResult("GetFileInfo", code));
    return false;
  }
  *entry = EntryFromRecord(record);
  return true;
}

// A JSON string of a name in the ANSI code page: printable ASCII as it is,
// every other byte as the code point of the same number.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    }
  }
  return out + "\"";
}

}  // namespace

int RunList(const std::string& pluginDir, const std::string& pack, bool json) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  const Plugin* plugin = FindPluginFor(host, PluginRole::Archive, pack);
  std::vector<PackEntry> entries;
  if (plugin == nullptr || !ListEntries(*plugin, pack, &entries)) return ExitFailed;

  if (json) {
    for (const PackEntry& entry : entries) {
      std::printf("{\"name\": %s, \"size\": %u, \"position\": %u, \"method\": %s}\n",
                  JsonString(entry.name).c_str(), entry.packedSize, entry.position,
                  JsonString(entry.method).c_str());
    }
    return ExitOk;
  }
  std::vector<std::string> names;
  size_t nameWidth = 4, sizeWidth = 4, positionWidth = 8;
  for (const PackEntry& entry : entries) {
    names.push_back(Printable(entry.name));
    nameWidth = std::max(nameWidth, names.back().size());
    sizeWidth = std::max(sizeWidth, std::to_string(entry.packedSize).size());
    positionWidth = std::max(positionWidth, std::to_string(entry.position).size());
  }
  std::printf("%-*s  %*s  %*s  %s\n", static_cast<int>(nameWidth), "NAME",
              static_cast<int>(sizeWidth), "SIZE", static_cast<int>(positionWidth), "POSITION",
              "METHOD");
  for (size_t i = 0; i < entries.size(); ++i) {
    std::printf("%-*s  %*u  %*u  %s\n", static_cast<int>(nameWidth), names[i].c_str(),
                static_cast<int>(sizeWidth), entries[i].packedSize, static_cast<int>(positionWidth),
                entries[i].position, Printable(entries[i].method).c_str());
  }
  return ExitOk;
}

int RunExtract(const std::string& pluginDir, const ExtractOptions& options) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  const Plugin* plugin = FindPluginFor(host, PluginRole::Archive, options.pack);
  if (plugin == nullptr) return ExitFailed;

  int status = ExitOk;
  std::vector<PackEntry> entries;
  if (options.names.empty()) {
    if (!ListEntries(*plugin, options.pack, &entries)) return ExitFailed;
  } else {
    for (const std::string& name : options.names) {
      PackEntry entry;
      if (FindEntry(*plugin, options.pack, name, options.ignoreCase, &entry)) {
        entries.push_back(entry);
      } else {
        status = ExitFailed;
      }
    }
  }

  // An absolute path in Windows form: the plug-in creates missing directories
  // only along backslashes, and only from an existing root.
  const std::string destination = PluginDirectoryPath(options.outputDir);
  CatchInterrupt();
  ProgressBar bar(entries.size());
  for (size_t i = 0; i < entries.size() && !Interrupted(); ++i) {
    const PackEntry& entry = entries[i];
    ProgressBar::Ticket ticket = bar.Begin(i, Printable(entry.name));
    // GetFile takes a writable string; the plug-in does not change it.
    std::vector<char> target(destination.begin(), destination.end());
    target.push_back('\0');
    const ResultCode code =
        plugin->getFile(options.pack.c_str(), static_cast<intptr_t>(entry.position), target.data(),
                        InputKindFile | (OutputKindDirectory << 8), ProgressBar::Callback,
                        reinterpret_cast<intptr_t>(&ticket));
    bar.End(ticket);
    if (code != ResultOk) {
      ReportError(options.pack + ": entry " + Printable(entry.name) + ": " + plugin->fileName +
                  " " + DescribeResult("GetFile", code));
      status = ExitFailed;
    }
  }
  if (Interrupted()) {
    ReportError("stopped");
    return ExitInterrupted;
  }
  return status;
}

int RunCat(const std::string& pluginDir, const std::string& pack, const std::string& name,
           bool ignoreCase) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  const Plugin* plugin = FindPluginFor(host, PluginRole::Archive, pack);
  PackEntry entry;
  if (plugin == nullptr || !FindEntry(*plugin, pack, name, ignoreCase, &entry)) return ExitFailed;

  HLOCAL handle = nullptr;
  const ResultCode code = plugin->getFile(pack.c_str(), static_cast<intptr_t>(entry.position),
                                          reinterpret_cast<LPSTR>(&handle),
                                          InputKindFile | (OutputKindMemory << 8), nullptr, 0);
  if (code != ResultOk) {
    ReportError(pack + ": entry " + Printable(entry.name) + ": " + plugin->fileName + " " +
                DescribeResult("GetFile", code));
    return ExitFailed;
  }
  ReceivedBlock block(handle);
  if (!block.Lock() && entry.packedSize != 0) {
    ReportError(pack + ": entry " + Printable(entry.name) + ": " + plugin->fileName +
                " handed over a block that cannot be locked");
    return ExitFailed;
  }
  if (block.size() < entry.packedSize) {
    ReportError(pack + ": entry " + Printable(entry.name) + ": " + plugin->fileName +
                " handed over " + std::to_string(block.size()) + " bytes of " +
                std::to_string(entry.packedSize));
    return ExitFailed;
  }
#ifdef _WIN32
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  if ((entry.packedSize != 0 &&
       std::fwrite(block.data(), 1, entry.packedSize, stdout) != entry.packedSize) ||
      std::fflush(stdout) != 0) {
    ReportError("cannot write to standard output: " + std::string(std::strerror(errno)));
    return ExitFailed;
  }
  return ExitOk;
}

int RunPack(const std::string& output, const std::vector<std::string>& files, int layout) {
  std::vector<PackEntrySource> entries;
  for (const std::string& file : files) {
    PackEntrySource entry;
    entry.name = fs::path(file).filename().string();
    entry.path = file;
    entries.push_back(std::move(entry));
  }
  std::string error;
  if (!WritePack(output, entries, layout, &error)) {
    ReportError(output + ": " + error);
    return ExitFailed;
  }
  std::printf("%s: %zu entries, layout %d\n", output.c_str(), entries.size(), layout);
  return ExitOk;
}
