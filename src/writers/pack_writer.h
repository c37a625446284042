// Builds packs of either catalogue layout from named entries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackEntrySource {
  std::string name;           // display name, such as "README.TXT": 8.3 in the allowed characters
  std::string path;           // a file to take the data from; empty: use data
  std::vector<uint8_t> data;  // the data when path is empty
};

// Writes the pack to outPath, streaming entry data from the source files. On
// failure answers false, says why in *error (naming the entry), and leaves no
// partial file at outPath. layout is 1 or 2. Names must list back as given
// and differ in more than case; a layout-1 pack needs three entries, the
// first three not empty, to be recognised. A pack shorter than the 66 bytes
// that recognition reads is padded with zeros.
bool WritePack(const std::string& outPath, const std::vector<PackEntrySource>& entries, int layout,
               std::string* error);

// The same pack in memory.
bool BuildPack(const std::vector<PackEntrySource>& entries, int layout, std::vector<uint8_t>* pack,
               std::string* error);
