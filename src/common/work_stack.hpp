#pragma once
// The stack the program's work runs on, whatever stack the process was
// started with. The nesting limits bound the recursion of parsing, lowering
// and assembly: about 1 MiB for one file at its limits in an optimized build,
// under 40 MiB for the deepest chain of includes or calls each nested that
// deep, and several times as much under the address sanitizer, whose
// optimised frames keep every inlined local apart (an expression level takes
// over 9 KiB there, against a few hundred bytes without it). Only the pages
// a run touches cost memory.

#include <cstddef>

namespace qovrin {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kWorkStackBytes = std::size_t{1} << 30;
#else
inline constexpr std::size_t kWorkStackBytes = std::size_t{64} << 20;
#endif

}  // namespace qovrin
