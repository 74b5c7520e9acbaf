#pragma once
// What the file hooks hand to the file builtins.

#include <string>
#include <vector>

namespace frontend::meta_io {

// The entry names of one directory, owned by whoever holds the listing.
using DirListing = std::vector<std::string>;

}  // namespace frontend::meta_io
