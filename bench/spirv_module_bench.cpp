// Assembles one SPIR-V module of 500,000 instructions and prints the rate
// beside spirv-as (SPIRV-Tools) on the same text in the same run. spirv-as is
// timed as a whole process, reading the text from a file; the text is large
// enough that its start-up does not matter.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "spirv_encoder/module.hpp"

namespace {

namespace module = spirv_encoder::module;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kInstructions = 500000;
constexpr int kRuns = 3;

// A function body that cycles through common instruction shapes: arithmetic,
// an extended instruction, memory access with masks, constants and names.
std::string moduleText() {
  std::string text =
      "OpCapability Shader\n"
      "OpMemoryModel Logical GLSL450\n"
      "%1 = OpExtInstImport \"GLSL.std.450\"\n"
      "%2 = OpTypeVoid\n"
      "%3 = OpTypeFunction %2\n"
      "%4 = OpTypeInt 32 1\n"
      "%5 = OpTypeFloat 32\n"
      "%6 = OpTypePointer Function %5\n"
      "%7 = OpConstant %4 42\n"
      "%8 = OpConstant %5 1.5\n"
      "%9 = OpFunction %2 None %3\n"
      "%10 = OpLabel\n"
      "%11 = OpVariable %6 Function\n";
  std::size_t count = 13;
  std::size_t id = 12;
  const char* const shapes[] = {
      "%{} = OpIAdd %4 %7 %7\n",         "%{} = OpFMul %5 %8 %8\n",
      "%{} = OpExtInst %5 %1 Sqrt %8\n", "OpStore %11 %8 Aligned|Volatile 4\n",
      "%{} = OpLoad %5 %11 Volatile\n",  "%{} = OpConstant %4 -7\n",
      "OpName %{} \"value\"\n",
  };
  // A result takes the next id; a name names the latest result.
  for (std::size_t index = 0; count + 2 < kInstructions; ++index, ++count) {
    std::string line = shapes[index % std::size(shapes)];
    if (const auto hole = line.find("{}"); hole != std::string::npos)
      line.replace(hole, 2, std::to_string(line.front() == '%' ? id++ : id - 1));
    text += line;
  }
  text += "OpReturn\nOpFunctionEnd\n";
  return text;
}

std::vector<std::string_view> linesOf(const std::string& text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(std::string_view(text).substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

double bestSeconds(auto run) {
  double best = 1e30;
  for (int attempt = 0; attempt < kRuns; ++attempt) {
    const auto begin = Clock::now();
    if (!run()) return -1;
    best = std::min(best, std::chrono::duration<double>(Clock::now() - begin).count());
  }
  return best;
}

}  // namespace

int main() {
  const std::string text = moduleText();
  const auto lines = linesOf(text);
  std::size_t words = 0;
  const double ours = bestSeconds([&] {
    const auto result = module::assembleLines(lines, 0x00010600);
    if (!result) std::cerr << "qovrin failed: " << qovrin::errorName(result.error().cause) << "\n";
    words = result ? result->size() : 0;
    return result.has_value();
  });
  if (ours < 0) return 1;
  std::printf("qovrin    %zu instructions (%zu words): %.3f s, %.0f instructions/s\n", lines.size(), words, ours,
              static_cast<double>(lines.size()) / ours);

  const auto folder = std::filesystem::temp_directory_path() / "qovrin_spirv_bench";
  std::filesystem::create_directories(folder);
  const auto input = folder / "module.spvasm";
  std::ofstream(input) << text;
  const std::string command = "spirv-as --preserve-numeric-ids --target-env spv1.6 '" + input.string() + "' -o '" +
                              (folder / "module.spv").string() + "'";
  const double theirs = bestSeconds([&] { return std::system(command.c_str()) == 0; });
  std::filesystem::remove_all(folder);
  if (theirs < 0) {
    std::printf("spirv-as  not run (not installed or failed)\n");
    return 0;
  }
  std::printf("spirv-as  %zu instructions: %.3f s, %.0f instructions/s (qovrin %.1fx)\n", lines.size(), theirs,
              static_cast<double>(lines.size()) / theirs, theirs / ours);
  return 0;
}
