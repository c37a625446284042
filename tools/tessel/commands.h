// tessel's commands. Each answers the process exit code: 0 done, 1 failed
// (after one line on stderr per failure), 130 stopped by Ctrl-C.
#pragma once

#include <string>
#include <vector>

constexpr int ExitOk = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

class PluginHost;
struct Plugin;
enum class PluginRole;

// Prints "tessel: <message>" on stderr.
void ReportError(const std::string& message);
// Prints "tessel: note: <message>" on stderr.
void ReportNote(const std::string& message);

// Loads the plug-ins of pluginDir (empty: the directory of tessel itself).
// False, after an error line, when the directory cannot be read or holds none.
bool LoadPlugins(const std::string& pluginDir, PluginHost* host);

// The plug-in of the role that accepts the file, as a viewer finds it; null,
// after an error line, when the file cannot be read or none accepts it.
const Plugin* FindPluginFor(const PluginHost& host, PluginRole role, const std::string& path);

int RunPlugins(const std::string& pluginDir);
int RunProbe(const std::string& pluginDir, const std::vector<std::string>& files);
int RunInfo(const std::string& pluginDir, const std::vector<std::string>& files);

struct ConvertOptions {
  std::vector<std::string> files;  // IN OUT, or the inputs when outputDir is set
  std::string outputDir;
  std::string format;  // "png", "bmp", or empty: from OUT's extension (png with outputDir)
  unsigned jobs = 1;
};
int RunConvert(const std::string& pluginDir, const ConvertOptions& options);

struct EncodeOptions {
  std::string input;
  std::string output;
  std::string encoding = "auto";  // auto, bitstream or chunked
  std::string crop;               // WxH+X+Y, or empty
  unsigned shrink = 1;
  float dither = 1.0f;
};
int RunEncode(const EncodeOptions& options);

int RunCompare(const std::string& first, const std::string& second, bool coloursOnly);

int RunList(const std::string& pluginDir, const std::string& pack, bool json);

struct ExtractOptions {
  std::string pack;
  std::vector<std::string> names;  // empty: every entry
  std::string outputDir = ".";
  bool ignoreCase = false;
};
int RunExtract(const std::string& pluginDir, const ExtractOptions& options);

int RunCat(const std::string& pluginDir, const std::string& pack, const std::string& name,
           bool ignoreCase);

int RunPack(const std::string& output, const std::vector<std::string>& files, int layout);
