// Process entry: hands the arguments to the driver.

#include <string_view>
#include <vector>

#include "main/driver.hpp"
#include "main/platform.hpp"
#include "main/platform_memory.hpp"

int main(int argc, char** argv) {
  namespace platform = qovrin::main::platform;
  // Nothing may be allocated before this: with too little heap for the
  // runtime to throw, the run ends here with the name of its failure.
  if (!platform::heapHolds(platform::kLeastHeap)) {
    (void)platform::writeAll(2, "error: OutOfMemory\n");
    return 1;
  }
  const std::vector<std::string_view> arguments(argv, argv + argc);
  return qovrin::main::runMain(arguments);
}
