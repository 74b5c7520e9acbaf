// Process entry: hands the arguments to the driver.

#include <string_view>
#include <vector>

#include "main/driver.hpp"

int main(int argc, char** argv) {
  const std::vector<std::string_view> arguments(argv, argv + argc);
  return qovrin::main::runMain(arguments);
}
