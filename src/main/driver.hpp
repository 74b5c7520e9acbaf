#pragma once
// The program's spine: picks the command from the arguments and runs it.

#include <span>
#include <string_view>

namespace qovrin::main {

// Runs one command and returns the process exit status: 0 on success, 1 on
// a failed run, 2 on command-line misuse.
int runMain(std::span<const std::string_view> arguments);

}  // namespace qovrin::main
