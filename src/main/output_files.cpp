#include "main/output_files.hpp"

#include "main/platform.hpp"

namespace qovrin::main {

Result<std::string> readSourceFile(const std::string& path) { return platform::readWholeFile(path); }

std::string defaultOutputPath(std::string_view sourcePath) {
  // Only the last component can carry the suffix: "build.d/demo" keeps its
  // directory, and ".hidden" or "./demo" are names without a suffix.
  const std::size_t separator = sourcePath.find_last_of("/\\");
  const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
  const std::size_t dot = sourcePath.rfind('.');
  const bool hasSuffix = dot != std::string_view::npos && dot > nameStart;
  std::string path(hasSuffix ? sourcePath.substr(0, dot) : sourcePath);
  path += ".bin";
  return path;
}

platform::FileStatus writeOutputFile(const std::string& path, std::string_view bytes) {
  return platform::writeFileThrough(path, bytes);
}

}  // namespace qovrin::main
