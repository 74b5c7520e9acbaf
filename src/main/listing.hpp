#pragma once
// The listing file: for every emitted piece its line, address, file offset,
// final bytes and source line.

#include <string>
#include <string_view>

#include "common/error.hpp"
#include "main/assembled_flat.hpp"

namespace qovrin::main {

Result<std::string> renderListing(std::string_view sourcePath, const AssembledFlat& assembled);

}  // namespace qovrin::main
