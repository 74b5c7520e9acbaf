// Runs as the lowering steps build them: which settled lines join one, where
// its labels, fixups and warnings land, and where a run must split.

#include "frontend/module/runs.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/encode/pass.hpp"
#include "frontend/module/module.hpp"
#include "frontend/support/failing_allocation.hpp"

namespace {

using frontend::module::Module;
using frontend::target::Target;

// Lowering steps as the module sees them, for the runs settled lines join.
enum class Step { line, other_section, other_source, label, data, jump, riscv_jump, macro_line, warned };
void lowerStep(Module& module, Step step, std::uint32_t& at) {
  const std::uint32_t start = at;
  at += 10;
  frontend::SourceLocation location{{0, start, start + 6}, std::nullopt};
  std::uint32_t section = 0;
  std::string_view text = "nop";
  Target target = Target::x86(64);
  switch (step) {
    case Step::line:
      break;
    case Step::other_section:
      section = 1;
      break;
    case Step::other_source:
      location.span.source = 1;
      break;
    case Step::label:
      ASSERT_TRUE(module.defineAnchoredLabel("l" + std::to_string(start), 0, 0,
                                             static_cast<std::uint32_t>(module.sections()[0].fragments.size()),
                                             location));
      return;
    case Step::data:
      ASSERT_TRUE(module.emitBytes(0, std::vector<std::uint8_t>{1}, location));
      return;
    case Step::jump:
      text = "jmp later";
      break;
    case Step::riscv_jump:
      text = "j later";
      target = Target::riscv(64);
      break;
    case Step::macro_line:
      location.expansion = 0;
      break;
    case Step::warned:
      text = "mov eax, [rax+0xffffffff]";
      break;
  }
  const auto size = frontend::pass::appendSettledInstruction(module, section, target, text, location);
  ASSERT_TRUE(size);
  EXPECT_GT(*size, 0u);
}

// A module with a second section, after the steps, each line ten bytes
// after the one before.
Module lowerSteps(const std::vector<Step>& steps) {
  Module module(Target::x86(64));
  EXPECT_TRUE(module.createOutputSection(".b", 0x100, 0x100));
  std::uint32_t at = 0;
  for (const Step step : steps) lowerStep(module, step, at);
  return module;
}

// Each fragment in index order: "R<n>" a run of n lines, "I" an instruction
// kept on its own, "D" data.
std::string describe(const Module& module) {
  std::string text;
  for (const auto& piece : module.fragments()) {
    if (!text.empty()) text += ' ';
    const auto lines = module.linesOf(piece);
    text += piece.instruction() ? "I" : lines.empty() ? "D" : "R" + std::to_string(lines.size());
  }
  return text;
}

TEST(SettledRuns, JoinOnlyWhatDirectlyFollowsInTheSameSectionAndSource) {
  using enum Step;
  const std::vector<std::pair<std::vector<Step>, std::string>> cases = {
      {{line, line, line}, "R3"},
      {{line, label, line, line}, "R3"},
      {{label, line, label, label, line}, "R2"},
      {{line, label, jump, line}, "R3"},
      {{line, label, riscv_jump, line}, "R1 I R1"},
      {{line, data, line}, "R1 D R1"},
      {{line, jump, line, line}, "R4"},
      {{jump, riscv_jump, jump, line}, "R1 I R2"},
      {{line, other_section, line}, "R1 R1 R1"},
      {{line, macro_line, macro_line, line}, "R1 R2 R1"},
      {{line, other_source, other_source, line}, "R1 R2 R1"},
  };
  for (const auto& [steps, want] : cases) {
    Module module = lowerSteps(steps);
    EXPECT_EQ(describe(module), want);
    ASSERT_TRUE(module.defineAnchoredLabel("later", 0, 0, 0, {}));
    const auto counts = frontend::pass::encodeInstructionFragments(module);
    ASSERT_TRUE(counts);
    EXPECT_EQ(counts->instruction_fragments,
              static_cast<std::uint64_t>(std::ranges::count_if(steps, [](Step step) {
                return step != label && step != data;
              }))) << want;
  }
}

// A label between settled lines stands inside their run, at the first byte
// of the line behind it, and keeps its offset when the pass lays it out again.
TEST(SettledRuns, LabelsInsideARunKeepTheirOffsets) {
  using enum Step;
  const std::vector<Step> steps = {line, label, line, jump, label, line, line, label, line, data, label};
  Module module(Target::x86(64));
  std::uint32_t at = 0;
  for (const Step step : steps) lowerStep(module, step, at);
  EXPECT_EQ(describe(module), "R6 D");
  ASSERT_TRUE(module.defineAnchoredLabel("later", 0, 0, 0, {}));
  ASSERT_TRUE(frontend::pass::encodeInstructionFragments(module));
  // nop is one byte and jmp to a label five.
  const std::pair<const char*, std::uint64_t> labels[] = {{"l10", 1}, {"l40", 7}, {"l70", 9}, {"l100", 11}};
  for (const auto& [name, offset] : labels) {
    const auto* symbol = module.findSymbol(name);
    ASSERT_NE(symbol, nullptr) << name;
    EXPECT_EQ(symbol->label()->offset, offset) << name;
  }
}

// Labels waiting in front of the open run's next line cost what they hold
// however many there are, and all move into the run when a line joins it.
TEST(SettledRuns, LabelsWaitingForTheRunCostWhatTheyHold) {
  constexpr std::size_t kLabels = 10'000;
  Module module(Target::x86(64));
  std::uint32_t at = 0;
  lowerStep(module, Step::line, at);
  const frontend::testing::HeapTraffic traffic;
  for (std::size_t label = 0; label < kLabels; ++label) lowerStep(module, Step::label, at);
  // Copying the waiting list for each new label would ask for 200 MB.
  EXPECT_LT(traffic.bytes(), 1000 * kLabels);
  // A line close enough to the run's first, as a loop's body lowered again.
  at = 10;
  lowerStep(module, Step::line, at);
  EXPECT_EQ(describe(module), "R2");
  const auto* last = module.findSymbol("l" + std::to_string(kLabels * 10));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->label()->run_offset, 1u);
}

// Jumps join runs and bring their fixups along, which then name the run and
// each field's offset in it; a fixup's place is its own line, and a store
// drops the fixups of exactly the lines it reaches.
TEST(SettledRuns, JumpsBringTheirFixupsIntoTheRun) {
  using enum Step;
  Module module(Target::x86(64));
  std::uint32_t at = 0;
  for (const Step step : {jump, line, jump, jump, line, jump}) lowerStep(module, step, at);
  EXPECT_EQ(describe(module), "R6");
  // A jump is five bytes with its field at 1, a nop one; lines start ten apart.
  const std::pair<std::uint32_t, std::uint32_t> fields[] = {{1, 0}, {7, 20}, {12, 30}, {18, 50}};
  const auto& fixups = module.fixups();
  ASSERT_EQ(fixups.size(), std::size(fields));
  for (std::uint32_t index = 0; index < fixups.size(); ++index) {
    EXPECT_EQ(fixups[index].fragment, 0u) << index;
    EXPECT_EQ(fixups[index].offset, fields[index].first) << index;
    EXPECT_EQ(module.locationAt(0, fixups[index].offset).span.start, fields[index].second) << index;
  }
  const auto dropped = [&] {
    std::string flags;
    for (std::uint32_t index = 0; index < fixups.size(); ++index) flags += fixups[index].dropped ? 'x' : '-';
    return flags;
  };
  ASSERT_TRUE(module.storeBytesAt(0, 11, std::vector<std::uint8_t>{0xCC}));
  EXPECT_EQ(dropped(), "--x-");
  ASSERT_TRUE(module.storeBytesAt(0, 5, std::vector<std::uint8_t>{0xCC}));
  EXPECT_EQ(dropped(), "--x-");
  ASSERT_TRUE(module.storeBytesAt(0, 4, std::vector<std::uint8_t>{0xCC, 0xCC, 0xCC}));
  EXPECT_EQ(dropped(), "xxx-");
  ASSERT_TRUE(module.defineAnchoredLabel("later", 0, 0, 0, {}));
  const auto counts = frontend::pass::encodeInstructionFragments(module);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->instruction_fragments, 2u);
}

// What lowering leaves in the module: fragments with their bytes and lines,
// fixups, labels and diagnostics.
std::string snapshot(const Module& module) {
  std::string text = describe(module) + " coalesced " + std::to_string(module.coalescedInstructions()) + "\n";
  for (const auto& piece : module.fragments()) {
    text += std::to_string(piece.section) + ":";
    if (const auto* stored = piece.storedBytes())
      for (const std::uint8_t byte : *stored) text += " " + std::to_string(byte);
    for (const auto& line : module.linesOf(piece))
      text += " [" + std::to_string(line.offset) + " " + std::to_string(line.start) + "]";
    text += "\n";
  }
  const auto& fixups = module.fixups();
  for (std::uint32_t index = 0; index < fixups.size(); ++index)
    text += "fixup " + std::to_string(fixups[index].fragment) + " " + std::to_string(fixups[index].offset) + " " +
            std::string(fixups.target(fixups[index]).text) + "\n";
  for (std::uint32_t index = 0; index < module.symbols().size(); ++index) {
    const auto& symbol = module.symbols()[index];
    text += std::string(module.symbolName(symbol)) + " " + std::to_string(symbol.label()->fragment_position) + " " +
            std::to_string(symbol.label()->run_offset) + "\n";
  }
  for (const auto& diagnostic : module.diagnostics().diagnostics())
    text += diagnostic.message + " at " + std::to_string(diagnostic.location.span.start) + "\n";
  return text;
}

// Lines settle into runs with their bytes and places, their fixups at the
// fields' offsets in the run, the labels between them and the warnings at
// their own lines; a line that waits for the pass keeps its fragment.
TEST(SettledRuns, LinesJoinWithTheirFixupsLabelsAndWarnings) {
  using enum Step;
  const std::vector<std::pair<std::vector<Step>, std::string>> cases = {
      // nop, jmp and mov eax, [rax+0xffffffff] join; the data line ends the run.
      {{line, label, jump, warned, line, label, label, jump, data, label, jump, line},
       "R5 D R2 coalesced 7\n"
       "0: 144 233 251 255 255 255 139 128 255 255 255 255 144 233 251 255 255 255 [0 0] [1 20] [6 30] [12 40] "
       "[13 70]\n"
       "0: 1\n"
       "0: 233 251 255 255 255 144 [0 0] [5 10]\n"
       "fixup 0 2 later\nfixup 0 14 later\nfixup 2 1 later\n"
       "l10 0 1\nl50 0 13\nl60 0 13\nl90 2 0\n"
       "displacement exceeds bounds at 30\n"},
      // A RISC-V jump keeps its fragment and its whole-instruction fixup.
      {{jump, riscv_jump, jump, other_section, jump, macro_line, jump, label, macro_line, warned, line},
       "R1 I R1 R1 R1 R1 R1 R1 R2 coalesced 9\n"
       "0: 233 251 255 255 255 [0 0]\n0: 111 0 0 0\n0: 233 251 255 255 255 [0 0]\n1: 144 [0 0]\n"
       "0: 233 251 255 255 255 [0 0]\n0: 144 [0 0]\n0: 233 251 255 255 255 [0 0]\n0: 144 [0 0]\n"
       "0: 139 128 255 255 255 255 144 [0 0] [6 10]\n"
       "fixup 0 1 later\nfixup 1 0 later\nfixup 2 1 later\nfixup 4 1 later\nfixup 6 1 later\n"
       "l70 6 0\n"
       "displacement exceeds bounds at 90\n"},
  };
  for (const auto& [steps, want] : cases) EXPECT_EQ(snapshot(lowerSteps(steps)), want);
}

// A run stops short of 64 KiB; a store takes the lines it reaches out of the
// count, as it does with an instruction fragment.
TEST(SettledRuns, SplitAtTheirLimitAndCountLinesAStoreLeftAlone) {
  Module module(Target::x86(64));
  // One line lowered again and again, as a loop's body is.
  for (std::uint32_t line = 0; line < 70000; ++line) {
    std::uint32_t at = 0;
    lowerStep(module, Step::line, at);
  }
  EXPECT_EQ(describe(module), "R65536 R4464");
  EXPECT_EQ(module.fragments()[0].bytes()->data.size(), 65536u);
  ASSERT_TRUE(module.storeBytesAt(0, 65535, std::vector<std::uint8_t>{0xCC, 0xCC}));
  ASSERT_TRUE(module.storeBytesAt(0, 65535, std::vector<std::uint8_t>{0xCC}));
  ASSERT_TRUE(module.storeBytesAt(0, 10, std::vector<std::uint8_t>{0xCC, 0xCC, 0xCC}));
  const auto counts = frontend::pass::encodeInstructionFragments(module);
  ASSERT_TRUE(counts);
  EXPECT_EQ(counts->instruction_fragments, 70000u - 5u);
  EXPECT_EQ(module.fragments()[1].bytes()->data.size(), 4464u);
}

// A record holds where its line starts as a distance from the run's first
// line; a line farther on, or before it, starts a run of its own.
TEST(SettledRuns, SplitWhereALineStartsOutOfReach) {
  Module module(Target::x86(64));
  std::uint32_t at = 0;
  for (std::uint32_t line = 0; line < 7000; ++line) lowerStep(module, Step::line, at);
  at = 5;
  lowerStep(module, Step::line, at);
  // Lines start ten apart: 3277 of them lie within 32767 of the first.
  EXPECT_EQ(describe(module), "R3277 R3277 R446 R1");
  const std::pair<std::uint32_t, std::uint32_t> places[] = {{0, 3276}, {1, 0}, {1, 3276}, {2, 445}, {3, 0}};
  const std::uint32_t starts[] = {32760, 32770, 65530, 70000 - 10, 5};
  for (std::size_t index = 0; index < std::size(places); ++index) {
    const auto& [run, line] = places[index];
    const auto& piece = module.fragments()[run];
    const auto records = module.linesOf(piece);
    ASSERT_LT(line, records.size()) << index;
    EXPECT_EQ(records[line].location(piece.location()).span.start, starts[index]) << index;
    EXPECT_EQ(module.locationAt(run, records[line].offset).span.start, starts[index]) << index;
  }
}

// The farthest start a record holds: a jump starting exactly there joins the
// run, one a byte farther starts its own, and both fixups name their own line.
TEST(SettledRuns, JoinUpToTheFarthestStartARecordHolds) {
  const std::pair<std::uint32_t, std::string> cases[] = {{0x7FFF, "R2"}, {0x8000, "R1 R1"}};
  for (const auto& [distance, want] : cases) {
    Module module(Target::x86(64));
    std::uint32_t at = 0;
    lowerStep(module, Step::jump, at);
    at = distance;
    lowerStep(module, Step::jump, at);
    EXPECT_EQ(describe(module), want);
    const auto& fixups = module.fixups();
    ASSERT_EQ(fixups.size(), 2u);
    EXPECT_EQ(module.locationAt(fixups[0].fragment, fixups[0].offset).span.start, 0u);
    EXPECT_EQ(module.locationAt(fixups[1].fragment, fixups[1].offset).span.start, distance) << want;
  }
}

}  // namespace
