// tessel: a command-line host for the viewer's plug-ins. It loads them as the
// viewer does and talks to them only through their exports.
#include <CLI/CLI.hpp>
#include <new>
#include <thread>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"tessel: shows, converts and unpacks files through the viewer's plug-ins"};
  app.require_subcommand(1);
  app.fallthrough();
  std::string pluginDir;
  app.add_option("--plugins", pluginDir,
                 "directory of the plug-in libraries (default: the one tessel is in)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

  auto* plugins =
      app.add_subcommand("plugins", "list the plug-ins and what they say of themselves");

  std::vector<std::string> files;
  auto* probe = app.add_subcommand("probe", "name the plug-in that recognises each file");
  probe->add_option("FILE", files, "files to probe")->required();

  auto* info = app.add_subcommand("info", "size and depth of pictures");
  info->add_option("FILE", files, "pictures")->required();

  ConvertOptions convertOptions;
  convertOptions.jobs = std::max(1u, std::thread::hardware_concurrency());
  auto* convert = app.add_subcommand(
      "convert", "decode pictures to PNG or BMP: IN OUT, or IN... -o DIR (in parallel)");
  convert->add_option("FILE", convertOptions.files, "IN OUT, or the inputs with -o")->required();
  convert->add_option("-o,--output", convertOptions.outputDir,
                      "directory for the outputs, named after the inputs");
  convert
      ->add_option("--format", convertOptions.format,
                   "png or bmp (default: from OUT's name; png with -o)")
      ->check(CLI::IsMember({"png", "bmp"}));
  convert->add_option("-j,--jobs", convertOptions.jobs, "pictures decoded at once")
      ->check(CLI::Range(1u, 256u));

  EncodeOptions encodeOptions;
  auto* encode = app.add_subcommand("encode", "make a KZX picture from a PNG or BMP");
  encode->add_option("IN", encodeOptions.input, "PNG or BMP picture")->required();
  encode->add_option("OUT", encodeOptions.output, "KZX file to write")->required();
  encode
      ->add_option("--encoding", encodeOptions.encoding,
                   "auto (the smaller of the two), bitstream or chunked (which holds at "
                   "most 255 colours of a reduced picture)")
      ->check(CLI::IsMember({"auto", "bitstream", "chunked"}));
  encode->add_option("--crop", encodeOptions.crop, "keep only the rectangle WxH+X+Y");
  encode
      ->add_option("--shrink", encodeOptions.shrink,
                   "make the picture N times smaller in each direction (after --crop)")
      ->check(CLI::Range(1u, 65535u));
  encode
      ->add_option("--dither", encodeOptions.dither,
                   "dithering when colours must be reduced, 0 (none) to 1 (full, default)")
      ->check(CLI::Range(0.0f, 1.0f));

  bool coloursOnly = false;
  std::string first, second;
  auto* compare = app.add_subcommand("compare", "compare two pictures pixel by pixel");
  compare->group("");  // a helper of the round-trip tests
  compare->add_option("A", first)->required();
  compare->add_option("B", second)->required();
  compare->add_flag("--colours-only", coloursOnly, "compare colours, not indices");

  std::string pack;
  bool json = false;
  auto* list = app.add_subcommand("list", "list the entries of a pack");
  list->add_option("PACK", pack, "pack file")->required();
  list->add_flag("--json", json, "one JSON object per entry and line");

  ExtractOptions extractOptions;
  auto* extract = app.add_subcommand("extract", "extract entries of a pack into a directory");
  extract->add_option("PACK", extractOptions.pack, "pack file")->required();
  extract->add_option("NAME", extractOptions.names, "entries to extract (default: all)");
  extract->add_option("-o,--output", extractOptions.outputDir,
                      "directory to extract into, created if missing (default: .)");
  extract->add_flag("-i,--ignore-case", extractOptions.ignoreCase,
                    "find names without regard to letter case");

  std::string entryName;
  bool catIgnoreCase = false;
  auto* cat = app.add_subcommand("cat", "write one entry of a pack to standard output");
  cat->add_option("PACK", pack, "pack file")->required();
  cat->add_option("NAME", entryName, "the entry")->required();
  cat->add_flag("-i,--ignore-case", catIgnoreCase, "find the name without regard to letter case");

  std::string packOut;
  int layout = 2;
  auto* packCommand = app.add_subcommand("pack", "make a pack of files, named by their base names");
  packCommand->add_option("OUT", packOut, "pack file to write")->required();
  packCommand->add_option("FILE", files, "files to store")->required();
  packCommand->add_option("--layout", layout, "catalogue layout 1 or 2 (default 2)")
      ->check(CLI::IsMember({1, 2}));

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    ReportError(std::string(e.what()) + " (see --help)");
    return ExitUsage;
  }

  try {
    if (plugins->parsed()) return RunPlugins(pluginDir);
    if (probe->parsed()) return RunProbe(pluginDir, files);
    if (info->parsed()) return RunInfo(pluginDir, files);
    if (convert->parsed()) return RunConvert(pluginDir, convertOptions);
    if (encode->parsed()) return RunEncode(encodeOptions);
    if (compare->parsed()) return RunCompare(first, second, coloursOnly);
    if (list->parsed()) return RunList(pluginDir, pack, json);
    if (extract->parsed()) return RunExtract(pluginDir, extractOptions);
    if (cat->parsed()) return RunCat(pluginDir, pack, entryName, catIgnoreCase);
    if (packCommand->parsed()) return RunPack(packOut, files, layout);
  } catch (const std::bad_alloc&) {
    ReportError("out of memory");
    return ExitFailed;
  }
  return ExitUsage;
}
