// Packs built byte by byte, so that tests can make both well-formed packs and
// the broken ones that the readers must refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/byte_order.h"

struct FixtureEntry {
  std::string nameField;  // the stored 11 bytes, such as "README  TXT"
  std::vector<uint8_t> data;
};

inline std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

// Deterministic data that differs from entry to entry and from byte to byte.
inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return data;
}

inline void PutNameField(uint8_t* field, const std::string& nameField) {
  for (size_t i = 0; i < 11; ++i) field[i] = i < nameField.size() ? nameField[i] : ' ';
}

// Layout 1: a count of entries + 1, one record per entry, a closing record
// whose offset ends the last entry's data, then the data.
inline std::vector<uint8_t> MakePack1(const std::vector<FixtureEntry>& entries) {
  const size_t n = entries.size() + 1;
  std::vector<uint8_t> pack(2 + 16 * n, 0);
  StoreU16LE(pack.data(), static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) {
    uint8_t* record = pack.data() + 2 + 16 * i;
    PutNameField(record, i < entries.size() ? entries[i].nameField : "");
    StoreU32LE(record + 12, static_cast<uint32_t>(pack.size()));
    if (i < entries.size()) pack.insert(pack.end(), entries[i].data.begin(), entries[i].data.end());
  }
  return pack;
}

// Layout 2: the marker, a count of entries + 1, location records, name
// records with sizes, then the data. The last record is never listed.
inline std::vector<uint8_t> MakePack2(const std::vector<FixtureEntry>& entries) {
  const size_t n = entries.size() + 1;
  std::vector<uint8_t> pack(4 + 24 * n, 0);
  StoreU16LE(pack.data(), 0x4000);
  StoreU16LE(pack.data() + 2, static_cast<uint16_t>(n));
  for (size_t i = 0; i < n; ++i) {
    uint8_t* location = pack.data() + 4 + 8 * i;
    uint8_t* nameRecord = pack.data() + 4 + 8 * n + 16 * i;
    StoreU32LE(location + 4, static_cast<uint32_t>(pack.size()));
    PutNameField(nameRecord, i < entries.size() ? entries[i].nameField : "");
    if (i < entries.size()) {
      StoreU32LE(nameRecord + 12, static_cast<uint32_t>(entries[i].data.size()));
      pack.insert(pack.end(), entries[i].data.begin(), entries[i].data.end());
    }
  }
  return pack;
}

inline std::vector<uint8_t> MakePack(int layout, const std::vector<FixtureEntry>& entries) {
  return layout == 1 ? MakePack1(entries) : MakePack2(entries);
}

// The offset of entry i's catalogue record: what the listing reports.
inline uint32_t PackPosition(int layout, size_t i) {
  return static_cast<uint32_t>(layout == 1 ? 2 + 16 * i : 4 + 8 * i);
}

// Three small entries, the fewest that a layout-1 pack can hold.
inline std::vector<FixtureEntry> ThreeEntries() {
  return {{"README  TXT", Pattern(10, 1)}, {"MAKEFILE   ", Pattern(2 * 1024 + 452, 2)},
          {"A B X   Y  ", Pattern(3, 3)}};
}
