// Whole-file reads and writes of tessel's own inputs and outputs (the plug-ins
// open their files themselves). Errors come back as one line for a person.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Reads at most limit bytes from the start of the file; fewer when it is shorter.
bool ReadFileStart(const std::string& path, size_t limit, std::vector<uint8_t>* bytes,
                   std::string* error);

struct OutputPart {
  const void* data;
  size_t size;
};

// Writes the parts one after another into a temporary file beside path and
// then gives it path's name, so that a failed write never leaves a partial
// file behind nor spoils an older file of that name.
bool WriteFileReplacing(const std::string& path, const std::vector<OutputPart>& parts,
                        std::string* error);
