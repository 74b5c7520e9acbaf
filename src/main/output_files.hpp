#pragma once
// The source reader, the default output path and the output writer.

#include <string>
#include <string_view>

#include "common/error.hpp"
#include "main/platform_output.hpp"

namespace qovrin::main {

Result<std::string> readSourceFile(const std::string& path);

// The source path with the suffix of its last component replaced by ".bin";
// a leading dot of that component is part of the name, not a suffix.
std::string defaultOutputPath(std::string_view sourcePath);

// Creates missing parent directories and writes the file whole, through
// links and into devices and FIFOs (platform::writeFileThrough).
platform::FileStatus writeOutputFile(const std::string& path, std::string_view bytes);

}  // namespace qovrin::main
