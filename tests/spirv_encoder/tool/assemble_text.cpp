// Assembles a SPIR-V text file (one instruction a line, as spirv-dis writes
// it) into a binary module, for comparing with other assemblers. Lines whose
// first character past the blanks is ';' are comments.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.hpp"
#include "spirv_encoder/module.hpp"

namespace {

namespace module = spirv_encoder::module;

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::uint32_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    const std::string_view trimmed = qovrin::trim(line, " \t\r");
    if (!trimmed.empty() && trimmed.front() != ';') lines.push_back(line);
    start = static_cast<std::uint32_t>(end + 1);
  }
  return lines;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: assemble_spirv_text <input.spvasm> <output.spv>\n";
    return 2;
  }
  std::ifstream input(argv[1], std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(input), std::istreambuf_iterator<char>()};
  if (!input.good() && !input.eof()) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }
  const auto lines = linesOf(text);
  const auto words = module::assembleLines(lines, 0x00010600);
  if (!words) {
    const auto& failure = words.error();
    std::cerr << argv[1] << ": " << failure.message << ": " << qovrin::errorName(failure.cause) << " in line \""
              << (failure.at < lines.size() ? lines[failure.at] : std::string_view{}) << "\"\n";
    return 1;
  }
  const auto bytes = module::moduleBytes(*words);
  if (!bytes) {
    std::cerr << qovrin::errorName(bytes.error()) << "\n";
    return 1;
  }
  std::ofstream output(argv[2], std::ios::binary);
  output.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  return output.good() ? 0 : 1;
}
