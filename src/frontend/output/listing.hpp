#pragma once
// One row of the listing file: line, address, file offset, bytes, source.

#include <cstdint>
#include <string>
#include <string_view>

namespace frontend::listing {

struct ListingRow {
  std::uint64_t address = 0;
  std::uint64_t fileOffset = 0;
  bool hasFileOffset = false;
  std::string_view bytes;
  std::string_view source;
  std::uint32_t line = 0;  // 0: no line
};

// Appends exactly one line ending in "\n".
void appendListingRow(std::string& out, const ListingRow& row);

}  // namespace frontend::listing
