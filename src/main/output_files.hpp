#pragma once
// The source reader, the default output path and the output writer.

#include <string>
#include <string_view>

#include "common/error.hpp"

namespace qovrin::main {

Result<std::string> readSourceFile(const std::string& path);

// The source path with the suffix of its last component replaced by ".bin";
// a leading dot of that component is part of the name, not a suffix.
std::string defaultOutputPath(std::string_view sourcePath);

// Creates missing parent directories and replaces the file whole.
Status writeOutputFile(const std::string& path, std::string_view bytes);

}  // namespace qovrin::main
