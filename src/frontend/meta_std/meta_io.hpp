#pragma once
// What the file hooks hand to the file builtins.

#include <cstdint>
#include <string>
#include <vector>

namespace frontend::meta_io {

// The entry names of one directory, owned by whoever holds the listing.
using DirListing = std::vector<std::string>;

// The bytes from offset on, length of them.
struct FileWindow {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

}  // namespace frontend::meta_io
