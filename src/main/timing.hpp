#pragma once
// Phase times of one run: always measured, printed only when asked for.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "frontend/values/target.hpp"
#include "main/cli.hpp"

namespace qovrin::main {

enum class TimingTag : std::uint8_t {
  readSource = 0,
  parseLower = 1,
  encode = 2,
  fixupResolve = 3,
  layout = 4,
  materialize = 5,
  patch = 6,
  deferFinalizers = 7,
  writeOutput = 8,
  writeListing = 9,
};

std::string_view timingTagName(TimingTag tag) noexcept;

struct TimingSlot {
  std::int64_t nanoseconds = 0;
  TimingTag tag = TimingTag::readSource;
};

// Slots in the order their tags were first measured; a tag has one slot.
struct TimingTrace {
  std::int64_t start = 0;
  std::array<TimingSlot, 32> slots{};
  std::size_t used = 0;

  // Negative durations count as 0; sums saturate.
  void add(TimingTag tag, std::int64_t nanoseconds) noexcept;
};

// Measures the assembler's phases into the run's trace (phase code + 2 is
// the tag).
struct AssemblyTimingObserver {
  std::int64_t phaseStart = 0;
  TimingTrace* trace = nullptr;

  void begin(std::uint8_t phase) noexcept;
  void end(std::uint8_t phase) noexcept;
};

// "12.345" for 12,345,678 ns.
std::string formatMilliseconds(std::int64_t nanoseconds);

struct TimingCounts {
  std::uint64_t bytes = 0;
  std::uint64_t instructionFragments = 0;
  std::uint64_t pendingFixups = 0;
};

// The summary line and, for the trace mode, one line per measured step.
std::string timingReport(std::string_view label, const frontend::target::Target& target, const TimingCounts& counts,
                         const TimingTrace& trace, std::int64_t totalNanoseconds, TimingMode mode);

}  // namespace qovrin::main
