#include "main/timing.hpp"

#include <array>
#include <limits>

#include "main/platform.hpp"

namespace qovrin::main {
namespace {

constexpr std::array<std::string_view, 10> kTagNames = {
    "read_source", "parse_lower", "encode", "fixup_resolve", "layout", "materialize",
    "patch", "defer_finalizers", "write_output", "write_listing"};

}  // namespace

std::string_view timingTagName(TimingTag tag) noexcept { return kTagNames[static_cast<std::size_t>(tag)]; }

void TimingTrace::add(TimingTag tag, std::int64_t nanoseconds) noexcept {
  if (nanoseconds < 0) nanoseconds = 0;
  for (std::size_t index = 0; index < used; ++index) {
    TimingSlot& slot = slots[index];
    if (slot.tag != tag) continue;
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    slot.nanoseconds = slot.nanoseconds > kMax - nanoseconds ? kMax : slot.nanoseconds + nanoseconds;
    return;
  }
  if (used < slots.size()) slots[used++] = {nanoseconds, tag};
}

void AssemblyTimingObserver::begin(std::uint8_t) noexcept { phaseStart = platform::monotonicNanoseconds(); }

void AssemblyTimingObserver::end(std::uint8_t phase) noexcept {
  const std::int64_t now = platform::monotonicNanoseconds();
  if (trace == nullptr || phase > 5) return;
  trace->add(static_cast<TimingTag>(phase + 2), now < phaseStart ? 0 : now - phaseStart);
}

std::string formatMilliseconds(std::int64_t nanoseconds) {
  if (nanoseconds < 0) nanoseconds = 0;
  const std::int64_t microseconds = (nanoseconds % 1'000'000) / 1'000;
  std::string text = std::to_string(nanoseconds / 1'000'000);
  text += '.';
  if (microseconds < 100) text += '0';
  if (microseconds < 10) text += '0';
  text += std::to_string(microseconds);
  return text;
}

std::string timingReport(std::string_view label, const frontend::target::Target& target, const TimingCounts& counts,
                         const TimingTrace& trace, std::int64_t totalNanoseconds, TimingMode mode) {
  std::string text(label);
  text += "_timings elapsed_ms=" + formatMilliseconds(totalNanoseconds);
  text += " bytes=" + std::to_string(counts.bytes);
  text += " instruction_fragments=" + std::to_string(counts.instructionFragments);
  text += " pending_fixups=" + std::to_string(counts.pendingFixups);
  text += " target=";
  text += targetName(target);
  text += '\n';
  if (mode != TimingMode::tracePhases) return text;
  for (std::size_t index = 0; index < trace.used; ++index) {
    text += "  phase=";
    text += timingTagName(trace.slots[index].tag);
    text += " elapsed_ms=" + formatMilliseconds(trace.slots[index].nanoseconds);
    text += '\n';
  }
  return text;
}

}  // namespace qovrin::main
