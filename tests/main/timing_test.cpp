#include "main/timing.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using namespace qovrin::main;

TEST(Timing, MillisecondsKeepThreeDigitsAndClampNegatives) {
  EXPECT_EQ(formatMilliseconds(12'345'678), "12.345");
  EXPECT_EQ(formatMilliseconds(999), "0.000");
  EXPECT_EQ(formatMilliseconds(1'005'000), "1.005");
  EXPECT_EQ(formatMilliseconds(-5), "0.000");
}

TEST(Timing, TraceSumsPerTagInFirstSeenOrderAndSaturates) {
  TimingTrace trace;
  trace.add(TimingTag::readSource, 1'000'000);
  trace.add(TimingTag::encode, -7);
  trace.add(TimingTag::readSource, 2'000'000);
  trace.add(TimingTag::encode, std::numeric_limits<std::int64_t>::max());
  trace.add(TimingTag::encode, 5);
  ASSERT_EQ(trace.used, 2u);
  EXPECT_EQ(trace.slots[0].nanoseconds, 3'000'000);
  EXPECT_EQ(trace.slots[1].nanoseconds, std::numeric_limits<std::int64_t>::max());

  AssemblyTimingObserver observer{0, &trace};
  for (std::uint8_t phase = 0; phase < 6; ++phase) {
    observer.begin(phase);
    observer.end(phase);
  }
  ASSERT_EQ(trace.used, 7u);
  EXPECT_EQ(trace.slots[6].tag, TimingTag::deferFinalizers);

  const std::string report = timingReport("assemble", frontend::target::Target::x86(16), {3, 1, 0}, trace,
                                          1'500'000, TimingMode::tracePhases);
  EXPECT_EQ(report.substr(0, report.find('\n') + 1),
            "assemble_timings elapsed_ms=1.500 bytes=3 instruction_fragments=1 pending_fixups=0 target=x86\n");
  EXPECT_NE(report.find("\n  phase=read_source elapsed_ms=3.000\n  phase=encode elapsed_ms="), std::string::npos);
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 8);
  EXPECT_EQ(timingReport("build", frontend::target::Target::riscv(64), {}, trace, 0, TimingMode::timings),
            "build_timings elapsed_ms=0.000 bytes=0 instruction_fragments=0 pending_fixups=0 target=rv64\n");
}

}  // namespace
