// Reads "<xlen> <instruction>" lines and prints each encoding as
// "<size> <hex word>" or "error <ErrorName>", one line per input line, for the
// comparison with an independent assembler.

#include <iostream>
#include <string>

#include "riscv_encoder/source.hpp"

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t blank = line.find(' ');
    const unsigned xlen = static_cast<unsigned>(std::stoul(line.substr(0, blank)));
    const auto encoded = riscv_encoder::source::encodeInstructionText(line.substr(blank + 1), xlen, {});
    if (encoded)
      std::cout << static_cast<unsigned>(encoded->size) << ' ' << std::hex << encoded->word << std::dec << '\n';
    else
      std::cout << "error " << qovrin::errorName(encoded.error()) << '\n';
  }
  return 0;
}
