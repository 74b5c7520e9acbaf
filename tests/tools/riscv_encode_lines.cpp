// Reads "<xlen> <instruction>" lines and prints each encoding as
// "<size> <hex word>" or "error <ErrorName>", one line per input line, for the
// comparison with an independent assembler. With --stand-in, operand text that
// is no literal reads as a pending 0, as in the first encoding pass.

#include <iostream>
#include <string>
#include <string_view>

#include "riscv_encoder/source.hpp"

namespace {

qovrin::Result<riscv_encoder::RiscvResolvedExpression> standIn(void*, std::string_view) {
  return riscv_encoder::RiscvResolvedExpression{0, true};
}

}  // namespace

int main(int argc, char** argv) {
  riscv_encoder::RiscvExpressionHook hook;
  if (argc == 2 && std::string_view(argv[1]) == "--stand-in") hook = {nullptr, &standIn, true};
  std::ios::sync_with_stdio(false);
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    const unsigned xlen = static_cast<unsigned>(std::stoul(line.substr(0, blank)));
    const auto encoded = riscv_encoder::source::encodeInstructionText(line.substr(blank + 1), xlen, hook);
    if (encoded)
      std::cout << static_cast<unsigned>(encoded->size) << ' ' << std::hex << encoded->word << std::dec << '\n';
    else
      std::cout << "error " << qovrin::errorName(encoded.error()) << '\n';
  }
  return 0;
}
