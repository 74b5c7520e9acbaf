#pragma once
// Running the program's work on a stack whose size the program chooses, so
// that how deep a source may nest does not depend on the stack limit or the
// environment of whoever started it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace qovrin::main::platform {

// Runs `work` on a new thread with a stack of `stackBytes` and waits for it;
// its result, or nothing when no such thread could be started (then `work`
// has not run). Signals sent to the process reach that thread, as they would
// reach the only thread of the program.
std::optional<int> runWithStack(std::size_t stackBytes, const std::function<int()>& work);

// Makes the stack the calling thread runs on the one the nesting checks
// measure against (common/work_stack.hpp); no checks when the system does
// not tell where that stack is. On the process's own thread under a limit on
// the address space, `mainStackShare` bytes of it (at most what the stack
// limit allows) are mapped first, so that the heap cannot take them; under
// such a limit the process's own stack, down to `stackFloor` or the share,
// is reserved where the stack limit kept it from being mapped.
void adoptWorkStack(std::optional<std::size_t> mainStackShare, std::uintptr_t stackFloor) noexcept;

}  // namespace qovrin::main::platform
