// tessel plugins, tessel probe: what the plug-ins say about themselves and
// about files.
#include <cstdio>

#include "commands.h"
#include "plugin_host.h"
#include "progress_bar.h"

void ReportError(const std::string& message) { PrintLine("tessel: " + message); }

void ReportNote(const std::string& message) { PrintLine("tessel: note: " + message); }

bool LoadPlugins(const std::string& pluginDir, PluginHost* host) {
  const std::string directory = pluginDir.empty() ? ExecutableDirectory() : pluginDir;
  std::string error;
  if (!host->LoadDirectory(directory, &error)) {
    ReportError(error);
    return false;
  }
  if (host->plugins().empty()) {
    ReportError("no plug-ins in " + directory + " (choose the directory with --plugins)");
    return false;
  }
  return true;
}

const Plugin* FindPluginFor(const PluginHost& host, PluginRole role, const std::string& path) {
  std::vector<uint8_t> header;
  std::string error;
  if (!ReadProbeHeader(path, &header, &error)) {
    ReportError(error);
    return nullptr;
  }
  const Plugin* plugin = host.FindFor(path, header, role);
  if (plugin == nullptr) {
    ReportError(path + (role == PluginRole::Archive
                            ? ": not a pack that any archive plug-in recognises"
                            : ": not a picture that any image plug-in recognises"));
  }
  return plugin;
}

int RunPlugins(const std::string& pluginDir) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  for (const auto& plugin : host.plugins()) {
    std::printf("%s\n  kind:        %s\n  description: %s\n  pattern:     %s\n  type name:   %s\n",
                plugin->fileName.c_str(), Printable(plugin->kindCode).c_str(),
                Printable(plugin->description).c_str(), Printable(plugin->pattern).c_str(),
                Printable(plugin->typeName).c_str());
  }
  for (const std::string& note : host.skipped()) ReportNote("skipped " + note);
  return ExitOk;
}

int RunProbe(const std::string& pluginDir, const std::vector<std::string>& files) {
  PluginHost host;
  if (!LoadPlugins(pluginDir, &host)) return ExitFailed;
  int status = ExitOk;
  for (const std::string& file : files) {
    std::vector<uint8_t> header;
    std::string error;
    if (!ReadProbeHeader(file, &header, &error)) {
      ReportError(error);
      status = ExitFailed;
      continue;
    }
    const Plugin* plugin = host.FindFor(file, header, PluginRole::Any);
    if (plugin == nullptr) {
      std::printf("%s: not recognised\n", file.c_str());
    } else {
      std::printf("%s: %s (%s)\n", file.c_str(), plugin->fileName.c_str(),
                  Printable(plugin->typeName).c_str());
    }
  }
  return status;
}
