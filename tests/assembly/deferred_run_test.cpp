#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "assembly/flat.hpp"
#include "common/error_of.hpp"
#include "frontend/support/failing_allocation.hpp"

namespace {

using assembly::assembleFlat;
using frontend::module::Module;
using frontend::target::Target;
using qovrin::Error;
using qovrin::testing::errorOf;
using Bytes = std::vector<std::uint8_t>;
namespace out = frontend::output::contracts;

template <typename... Statements>
out::DeferredStatementList list(Statements&&... statements) {
  out::DeferredStatementList result;
  (result.push_back(std::forward<Statements>(statements)), ...);
  return result;
}

out::DeferredStatement call(std::string text) { return {out::DeferredApiCall{std::move(text), {}}}; }
out::DeferredStatement let(std::string name, std::string initializer, bool is_mutable = true,
                           std::optional<std::string> type = std::nullopt) {
  return {out::ValueDeclaration{std::move(name), std::move(type), std::move(initializer), {}, is_mutable}};
}
out::DeferredStatement assign(std::string name, std::string value) {
  return {out::Assignment{std::move(name), std::move(value), {}}};
}
out::DeferredStatement when(std::string condition, out::DeferredStatementList then_statements,
                            out::DeferredStatementList else_statements = {}) {
  return {out::MetaIf{std::move(condition), std::move(then_statements), std::move(else_statements), {}}};
}
out::DeferredStatement loop(std::string condition, out::DeferredStatementList body) {
  return {out::MetaWhile{std::move(condition), std::move(body), {}}};
}
out::DeferredStatement stop() { return {out::LoopBreak{}}; }
out::DeferredStatement next() { return {out::LoopContinue{}}; }

// .text at 0x1000: "start" labels eight bytes 90 .. 97.
Module imageModule() {
  Module module(Target::x86(64));
  module.sections()[0].base = 0x1000;
  EXPECT_TRUE(module.defineAnchoredLabel("start", 0, 0, 0, {}));
  EXPECT_TRUE(module.emitBytes(0, Bytes{0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}, {}));
  return module;
}

std::vector<std::string> diagnostics(const Module& module) {
  std::vector<std::string> texts;
  for (const auto& diagnostic : module.diagnostics().diagnostics())
    texts.push_back(std::to_string(static_cast<int>(diagnostic.severity)) + " " + diagnostic.message);
  return texts;
}

struct Case {
  const char* name;
  out::DeferredStatementList statements;
  std::optional<Error> error;
  Bytes image;                             // when the run succeeds
  std::vector<std::string> messages = {};  // "severity message"
  std::string cause = {};                  // told beside "failed here"
};

// Each case as the one deferred block of imageModule().
void runCases(std::vector<Case>& cases) {
  for (Case& test : cases) {
    SCOPED_TRACE(test.name);
    Module module = imageModule();
    module.deferredBlocks().push_back({std::move(test.statements), std::nullopt, {}});
    const auto result = assembleFlat(module, {});
    EXPECT_EQ(errorOf(result), test.error);
    if (result) {
      EXPECT_EQ(result->image, test.image);
    }
    // An error the block did not report itself is followed by notes that
    // lead to the statement, with its cause, and the block; one it reported
    // by a note that leads to the block.
    if (test.error && test.error != Error::FrontendDiagnostics) {
      test.messages.push_back("0 failed here");
      if (!test.cause.empty()) test.messages.push_back("0 " + test.cause);
      test.messages.push_back("0 in this defer block");
    }
    if (test.error == Error::FrontendDiagnostics) test.messages.push_back("0 in this defer block");
    EXPECT_EQ(diagnostics(module), test.messages);
  }
}

TEST(DeferredRun, StoresAssertsAndReports) {
  std::vector<Case> cases;
  cases.push_back({"stores by label, little-endian",
                   list(call("store.u8(start, 0x55)"), call("store.u16(start + 2, 0x1234)"),
                        call("store.u32(start + 4, load.u8(start) + 0x01020300)")),
                   {},
                   {0x55, 0x91, 0x34, 0x12, 0x55, 0x03, 0x02, 0x01}});
  cases.push_back({"store.u64 and bytes",
                   list(call("store.u64(start, 0x0807060504030201)"), call("store.bytes(start + 1, \"AB\")"),
                        call("store.bytes(0x1006, bytes.from_hex(\"ff\"))")),
                   {},
                   {0x01, 'A', 'B', 0x04, 0x05, 0x06, 0xff, 0x08}});
  cases.push_back(
      {"a bare address outside every region",
       list(call("store.u8(0x2000, 1)")),
       Error::InvalidApiArgument,
       {},
       {},
       "'store.u8' writes 1 byte at address 0x2000, outside the image, which holds 8 bytes, at 0x1000 to 0x1007"});
  cases.push_back(
      {"a store past the section's stored bytes",
       list(call("store.u16(start + 7, 1)")),
       Error::InvalidApiArgument,
       {},
       {},
       "'store.u16' writes 2 bytes at address 0x1007, outside the 8 bytes its section holds, at 0x1000 to 0x1007"});
  cases.push_back({"a value too wide",
                   list(call("store.u8(start, 256)")),
                   Error::InvalidApiInteger,
                   {},
                   {},
                   "256 does not fit the 8-bit field of store.u8"});
  cases.push_back({"negative values as their two's complement",
                   list(call("store.u16(start, -2)"), call("store.u8(start + 7, -128)")),
                   {},
                   {0xfe, 0xff, 0x92, 0x93, 0x94, 0x95, 0x96, 0x80}});
  cases.push_back({"a negative value too wide",
                   list(call("store.u8(start, -129)")),
                   Error::InvalidApiInteger,
                   {},
                   {},
                   "-129 does not fit the 8-bit field of store.u8"});
  cases.push_back({"a string where an integer goes",
                   list(call("store.u16(start, \"x\")")),
                   Error::InvalidApiArgument,
                   {},
                   {},
                   "'store.u16' stores an integer, and the string 'x' is none"});
  cases.push_back({"a boolean where an integer goes", list(call("store.u16(start, true)")), Error::TypeMismatch, {}});
  cases.push_back({"store arity",
                   list(call("store.u8(start)")),
                   Error::InvalidApiArity,
                   {},
                   {},
                   "'store.u8' takes 2 arguments, 1 given: store.u8(place, value)"});
  cases.push_back(
      {"print, warn and values as text",
       list(call("print(\"n\", 10, true, bytes.from_hex(\"00ab\"), 1.5)"), call("warn(load.u8(start + 7))")),
       {},
       {0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97},
       {"0 n 10 true 00ab 1.5", "1 151"}});
  cases.push_back({"err stops after reporting",
                   list(call("err(\"late\")"), call("store.u8(start, 0)")),
                   Error::FrontendDiagnostics,
                   {},
                   {"2 late"}});
  cases.push_back({"a list has no text",
                   list(call("print(list.new())")),
                   Error::InvalidApiArgument,
                   {},
                   {},
                   "'print' in a 'defer' block shows integers, floats, booleans, strings, bytes and types, and "
                   "'list.new()' is a list"});
  cases.push_back({"assert holds",
                   list(call("assert(load.u8(start) == 0x90, \"expected nop\")")),
                   {},
                   {0x90, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}});
  cases.push_back({"assert fails with its message",
                   list(call("store.u8(start, 1)"), call("assert(load.u8(start) == 0x90, \"expected nop\")")),
                   Error::FrontendDiagnostics,
                   {},
                   {"2 expected nop"}});
  cases.push_back({"assert fails without a message",
                   list(call("assert(false)")),
                   Error::FrontendDiagnostics,
                   {},
                   {"2 assertion failed"}});
  cases.push_back({"assert needs a boolean", list(call("assert(1)")), Error::TypeMismatch, {}});
  cases.push_back({"any other call", list(call("emit.u8(1)")), Error::FinalizerCannotChangeLayout, {}});
  runCases(cases);
}

TEST(DeferredRun, MetaStatementsScopesAndLoops) {
  std::vector<Case> cases;
  cases.push_back({"a counting loop",
                   list(let("i", "0"), loop("i < 1000000", list(assign("i", "i + 1"))), call("store.u32(start, i)")),
                   {},
                   {0x40, 0x42, 0x0f, 0x00, 0x94, 0x95, 0x96, 0x97}});
  cases.push_back({"the limit strikes when the condition holds once more",
                   list(let("i", "0"), loop("i < 1000001", list(assign("i", "i + 1")))),
                   Error::MetaLoopLimitExceeded,
                   {},
                   {},
                   "a 'while' loop stops after 1,000,000 rounds"});
  cases.push_back({"break inside an if ends the loop; continue skips the rest",
                   list(let("i", "0"), let("odd", "0"),
                        loop(" true ", list(assign("i", "i + 1"), when("i > 9", list(stop())),
                                            when("i % 2 == 0", list(next())), assign("odd", "odd + 1"))),
                        call("store.u8(start, i)"), call("store.u8(start + 1, odd)")),
                   {},
                   {10, 5, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}});
  cases.push_back({"else branch",
                   list(when("false", list(call("store.u8(start, 1)")), list(call("store.u8(start, 2)")))),
                   {},
                   {2, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}});
  cases.push_back({"a let inside a branch is gone after it",
                   list(when("true", list(let("x", "1"))), assign("x", "2")),
                   Error::InvalidValueDeclaration,
                   {}});
  cases.push_back(
      {"const cannot be assigned", list(let("x", "1", false), assign("x", "2")), Error::InvalidValueDeclaration, {}});
  cases.push_back(
      {"an annotation that does not hold", list(let("x", "256", true, "u8")), Error::InvalidValueDeclaration, {}});
  cases.push_back(
      {"an annotation naming no type", list(let("x", "1", true, "nosuch")), Error::InvalidValueDeclaration, {}});
  cases.push_back({"an integer condition", list(when("1", list())), Error::TypeMismatch, {}});
  cases.push_back({"an empty condition", list(loop(" ", list())), Error::InvalidMetaIf, {}});
  cases.push_back(
      {"break outside a loop", list(stop()), Error::FrontendDiagnostics, {}, {"2 break used outside of a Meta loop"}});
  cases.push_back({"continue outside a loop",
                   list(when("true", list(next()))),
                   Error::FrontendDiagnostics,
                   {},
                   {"2 continue used outside of a Meta loop"}});
  cases.push_back({"a name nothing defines",
                   list(call("print(nosuch)")),
                   Error::UndefinedSymbol,
                   {},
                   {},
                   "'nosuch' is not defined"});
  runCases(cases);
}

// list.push, list.set and map.set assigned back to the local they change
// take it over, as in lowering; a call that reads the local elsewhere copies.
TEST(DeferredRun, ChangingCallsTakeTheirLocalOver) {
  constexpr int kRounds = 2000;
  Module module = imageModule();
  module.deferredBlocks().push_back(
      {list(let("l", "list.new()"), let("m", "map.new()"), let("i", "0"),
            loop("i < " + std::to_string(kRounds),
                 list(assign("l", "list.push(l, i)"), assign("l", "list.set(l, 0, i)"),
                      assign("m", "map.set(m, to_string(i % 300), i)"), assign("i", "i + 1"))),
            assign("l", "list.push(l, len(l))"), call("store.u16(start, len(l))"),
            call("store.u16(start + 2, list.get(l, 0))"), call("store.u16(start + 4, list.get(l, len(l) - 1))"),
            call("store.u16(start + 6, map.get(m, \"7\"))")),
       std::nullopt,
       {}});
  const frontend::testing::HeapTraffic traffic;
  const auto result = assembleFlat(module, {});
  // Copying the list each round would ask for over 100 MB.
  EXPECT_LT(traffic.bytes(), 5000u * kRounds);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->image, (Bytes{0xd1, 0x07, 0xcf, 0x07, 0xd0, 0x07, 0x0f, 0x07}));
}

TEST(DeferredRun, CapturedLocalsAreImmutableLocalsOfTheirBlock) {
  Module module = imageModule();
  out::DeferredBlock first{list(call("store.bytes(start, text)")), std::vector<out::DeferredCapture>{}, {}};
  first.captures->push_back({"text", frontend::value::Value::string("xy")});
  module.deferredBlocks().push_back(std::move(first));
  const auto stored = assembleFlat(module, {});
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->image, (Bytes{'x', 'y', 0x92, 0x93, 0x94, 0x95, 0x96, 0x97}));

  // The second block does not see the first block's capture.
  module.deferredBlocks().push_back({list(call("print(text)")), std::nullopt, {}});
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::UndefinedSymbol);

  module.deferredBlocks().pop_back();
  module.deferredBlocks().front().statements.push_back(assign("text", "\"z\""));
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::InvalidValueDeclaration);
}

TEST(DeferredRun, UnreportedFailuresOfMacroBlocksAreReportedAtTheBlock) {
  Module module = imageModule();
  ASSERT_TRUE(module.addSource("main.qov", "m\ndefer {\n"));
  const frontend::SourceLocation definition{{0, 2, 9}, std::nullopt};
  const auto expansion = module.diagnostics().beginExpansion({0, 0, 1}, definition);
  ASSERT_TRUE(expansion);
  module.diagnostics().setCurrentExpansion(std::nullopt);
  const frontend::SourceLocation from_macro{{0, 2, 9}, *expansion};
  module.deferredBlocks().push_back({list(call("print(nosuch)")), std::nullopt, from_macro});
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::FrontendDiagnostics);
  ASSERT_FALSE(module.diagnostics().diagnostics().empty());
  EXPECT_EQ(module.diagnostics().diagnostics().front().message, "UndefinedSymbol");
  EXPECT_EQ(module.diagnostics().currentExpansion(), std::nullopt);

  // A block that reported something keeps its own report only.
  Module reported = imageModule();
  reported.deferredBlocks().push_back({list(call("err(\"own\")")), std::nullopt, from_macro});
  EXPECT_EQ(errorOf(assembleFlat(reported, {})), Error::FrontendDiagnostics);
  EXPECT_EQ(reported.diagnostics().diagnostics().front().message, "own");
}

TEST(DeferredRun, NeedsARegionForTheCurrentSection) {
  Module module(Target::x86(64));
  const auto region = module.createVirtualSection(0x4000);
  ASSERT_TRUE(region);
  module.setCurrentSection(*region);
  module.deferredBlocks().push_back({list(), std::nullopt, {}});
  EXPECT_EQ(errorOf(assembleFlat(module, {})), Error::InvalidSection);
}

}  // namespace
