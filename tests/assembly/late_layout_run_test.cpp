#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "assembly/flat.hpp"
#include "common/error_of.hpp"

namespace {

using assembly::assembleFlat;
using assembly::AssemblyObserver;
using assembly::Phase;
using frontend::module::Module;
using frontend::target::Target;
using qovrin::Error;
using qovrin::testing::errorOf;
namespace out = frontend::output::contracts;

out::LateLayoutStatement when(std::string condition) {
  return {out::LateLayoutConditional{std::move(condition), {}, {}, {}}};
}

out::LateLayoutBlock block(std::string condition, const frontend::SourceLocation& location = {}) {
  out::LateLayoutBlock made{{}, location};
  made.statements.push_back(when(std::move(condition)));
  return made;
}

TEST(LateLayoutRun, FailuresEndAssemblyBeforeFixupResolution) {
  std::string phases;
  const AssemblyObserver observer{&phases,
                                  [](void* context, Phase phase) noexcept {
                                    *static_cast<std::string*>(context) += 'b' + std::to_string(int(phase));
                                  },
                                  [](void*, Phase) noexcept {}, true};
  Module module(Target::x86(64));
  ASSERT_TRUE(module.addSource("main.qov", "late_layout {\n    if 1 + {\n"));
  module.lateLayoutBlocks().push_back(block("target.bits == 64"));
  module.lateLayoutBlocks().push_back(block("1 +", {{0, 0, 13}, std::nullopt}));
  std::get<out::LateLayoutConditional>(module.lateLayoutBlocks().back().statements[0].payload).location = {
      {0, 18, 26}, std::nullopt};
  EXPECT_EQ(errorOf(assembleFlat(module, observer)), Error::UnknownMetaCondition);
  EXPECT_EQ(phases, "b0");
  // The error line itself has no place: notes lead to the statement and its block.
  const auto& notes = module.diagnostics().diagnostics();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].message, "failed here");
  EXPECT_EQ(notes[0].location.span.start, 18u);
  EXPECT_EQ(notes[1].message, "in this late_layout block");
  EXPECT_EQ(notes[1].location.span.start, 0u);
  EXPECT_EQ(notes[1].severity, frontend::diagnostic::Severity::note);
}

TEST(LateLayoutRun, UnreportedFailuresOfMacroBlocksAreReportedAtTheBlock) {
  Module module(Target::x86(64));
  ASSERT_TRUE(module.addSource("main.qov", "m\nlate_layout {\n"));
  const auto expansion = module.diagnostics().beginExpansion({0, 0, 1}, {{0, 2, 15}, std::nullopt});
  ASSERT_TRUE(expansion);
  module.diagnostics().setCurrentExpansion(std::nullopt);
  module.lateLayoutBlocks().push_back(block("1 +", {{0, 2, 15}, *expansion}));
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::FrontendDiagnostics);
  ASSERT_FALSE(module.diagnostics().diagnostics().empty());
  EXPECT_EQ(module.diagnostics().diagnostics().front().message, "UnknownMetaCondition");
  EXPECT_EQ(module.diagnostics().currentExpansion(), std::nullopt);
}

TEST(LateLayoutRun, NeedsTheCurrentSection) {
  Module module(Target::x86(64));
  module.setCurrentSection(7);
  module.lateLayoutBlocks().push_back(block("true"));
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::InvalidSection);
}

}  // namespace
