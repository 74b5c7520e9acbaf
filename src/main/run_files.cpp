#include "main/run_files.hpp"

namespace qovrin::main {
namespace {

std::optional<RunFile> identify(std::string_view role, std::string path) {
  auto identity = platform::fileIdentity(path);
  if (!identity) return std::nullopt;
  return RunFile{role, std::move(path), std::move(*identity)};
}

std::string describeClash(const RunFile& written, const RunFile& other) {
  return std::string(written.role) + " " + written.path + " is the same file as " + std::string(other.role) + " " +
         other.path;
}

}  // namespace

void InputFiles::record(std::string_view role, std::string path) {
  auto file = identify(role, std::move(path));
  if (!file || !file->identity.exists) return;
  if (known_.emplace(file->identity.device, file->identity.inode).second) files_.push_back(std::move(*file));
}

std::vector<RunFile> outputFiles(std::string_view outputPath, const std::optional<std::string>& listingPath) {
  std::vector<RunFile> outputs;
  // An output whose identity cannot be told is left to the writer, which
  // reports the same cause by name.
  if (auto output = identify("output", std::string(outputPath))) outputs.push_back(std::move(*output));
  if (listingPath) {
    if (auto listing = identify("listing", *listingPath)) outputs.push_back(std::move(*listing));
  }
  return outputs;
}

std::optional<std::string> findOverwrittenFile(std::span<const RunFile> outputs, std::span<const RunFile> inputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (const RunFile& input : inputs)
      if (outputs[i].identity == input.identity) return describeClash(outputs[i], input);
    for (std::size_t j = 0; j < i; ++j)
      if (outputs[i].identity == outputs[j].identity) return describeClash(outputs[i], outputs[j]);
  }
  return std::nullopt;
}

}  // namespace qovrin::main
