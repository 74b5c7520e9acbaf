#include <gtest/gtest.h>

#include "frontend/lower/expression_bridge.hpp"
#include "frontend/lower/root.hpp"
#include "frontend/syntax/parser.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::expectCases;

TEST(Scopes, ShadowingAndBindings) {
  expectCases({
      {"let seen_inner = 0\nlet seen_after = 0\n{\n  let a = 1\n  {\n    let a = 2\n    seen_inner = a\n  }\n"
       "  seen_after = a\n}\n",
       {},
       {{"seen_inner", 2}, {"seen_after", 1}}},
      {"{\n  let a = 1\n  let a = 2\n}\n", {"main.qov:3:3: lowering failed: DuplicateSymbol"}},
      {"const c = 1\nc = 2\n", {"main.qov:2:1: lowering failed: InvalidValueDeclaration"}},
      {"{\n  const c = 1\n  c = 2\n}\n", {"main.qov:3:3: lowering failed: InvalidValueDeclaration"}},
      {"nowhere = 1\n", {"main.qov:1:1: lowering failed: InvalidValueDeclaration"}},
      {"start:\nstart = 1\n", {"main.qov:2:1: lowering failed: InvalidValueDeclaration"}},
      {"let m = 1\nm = m + 41\n", {}, {{"m", 42}}},
      {"let m = 1\n{\n  m = 7\n  let m = 9\n  m = 10\n}\n", {}, {{"m", 7}}},
      {"{\n  let local = 1\n}\nlet after = local\n", {"main.qov:4:1: undefined name in this expression: local"}},
      {"for i in range(0, 2) {\n  i = 5\n}\n", {"main.qov:2:3: lowering failed: InvalidValueDeclaration"}},
      {"let x: u8 = 255\n", {}, {{"x", 255}}},
      {"let x: u8 = 256\n", {"main.qov:1:1: lowering failed: InvalidValueDeclaration"}},
      {"let x: nosuch = 1\n", {"main.qov:1:1: lowering failed: InvalidValueDeclaration"}},
  });
}

TEST(Loops, RoundsAndLimits) {
  expectCases({
      {"let i = 0\nwhile i < 1000000 {\n  i = i + 1\n}\n", {}, {{"i", 1000000}}},
      {"while true {\n}\n", {"main.qov:1:1: lowering failed: MetaLoopLimitExceeded"}},
      {"for i in range(0, 1000001) {\n}\n", {"main.qov:1:1: lowering failed: MetaLoopLimitExceeded"}},
      {"for i in range(5, 3) {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaFor"}},
      {"let n = 0\nfor i in range(3, 3) {\n  n = 1\n}\n", {}, {{"n", 0}}},
      {"let sum = 0\nfor i in range(1, 5) {\n  sum = sum + i\n}\n", {}, {{"sum", 10}}},
      {"for i in 5 {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaFor"}},
      {"let i = 0\nwhile i < 10 {\n  i = i + 1\n  if i == 3 {\n    break\n  }\n}\n", {}, {{"i", 3}}},
      {"let odd = 0\nfor i in range(0, 10) {\n  if i % 2 == 0 {\n    continue\n  }\n  odd = odd + 1\n}\n",
       {},
       {{"odd", 5}}},
      {"let n = 0\nfor i in range(0, 3) {\n  for j in range(0, 3) {\n    break\n  }\n  n = n + 1\n}\n", {}, {{"n", 3}}},
      {"break\n", {"main.qov:1:1: break used outside of a Meta loop"}},
      {"if true {\n  continue\n}\n", {"main.qov:2:3: continue used outside of a Meta loop"}},
      {"let i = 0\nwhile i < 3 {\n  if true {\n    i = nope\n  }\n}\n",
       {"main.qov:4:5: undefined name in this expression: nope"}},
      {"let i = 0\nwhile i < 3 {\n  i = i + 1\n  if i == 2 {\n    nosuch(1)\n  }\n}\n",
       {"main.qov:5:5: unknown call: nosuch"}},
  });
}

TEST(Loops, LoopNamesAndBodyLocalsLiveOneRound) {
  expectCases({
      {"let last = 0\nfor i in range(0, 3) {\n  let twice = i * 2\n  last = twice\n}\n", {}, {{"last", 4}}},
      {"let i = 0\nwhile i < 3 {\n  let step = 1\n  i = i + step\n}\n", {}, {{"i", 3}}},
      {"for i in range(0, 2) {\n}\nlet after = i\n", {"main.qov:3:1: undefined name in this expression: i"}},
  });
}

TEST(Conditions, FixedFormsAndExpressions) {
  expectCases({
      {"let r = 0\nif target.bits == 64 {\n  r = 1\n} else {\n  r = 2\n}\n", {}, {{"r", 1}}},
      {"let r = 0\nif target.xlen != 32 {\n  r = 1\n}\n", {}, {{"r", 1}}},
      {"let r = 0\nif target.isa == .riscv64 {\n  r = 1\n} else if target.isa == \"x86_64\" {\n  r = 2\n}\n",
       {},
       {{"r", 2}}},
      {"if target.isa == arm {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaIf"}},
      {"let r = 0\n{\n  let x = 1\n  if defined(x) {\n    r = 1\n  }\n}\nif defined(x) {\n  r = 2\n}\n",
       {},
       {{"r", 1}}},
      {"let r = 0\nstart:\nstruct S {\n  a: u8\n}\nif defined(start) && true {\n}\n",
       {"main.qov:6:1: lowering failed: InvalidMetaIf"}},
      {"let r = 0\nstart:\nstruct S {\n  a: u8\n}\nif defined(start) {\n  if defined(\"S\") {\n    if defined(r) {\n"
       "      r = 3\n    }\n  }\n}\n",
       {},
       {{"r", 3}}},
      {"if defined() {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaIf"}},
      {"if defined(1x) {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaIf"}},
      {"let a = 2\nlet r = 0\nif a == 2 && a != 3 {\n  r = 1\n}\n", {}, {{"r", 1}}},
      {"if 1 {\n}\n", {"main.qov:1:1: lowering failed: InvalidMetaIf"}},
      {"if 1 + {\n}\n", {"main.qov:1:1: lowering failed: UnknownMetaCondition"}},
      {"if nope {\n}\n", {"main.qov:1:1: lowering failed: UndefinedSymbol"}},
  });
}

TEST(Conditions, TargetWidthFollowsTheModuleTarget) {
  frontend::module::Module module(frontend::target::Target::riscv(32));
  const auto lowered =
      lower_test::lower(module, "let r = 0\nif target.xlen != 64 {\n  if target.isa == riscv64 {\n    r = 1\n  }\n}\n");
  EXPECT_TRUE(lowered.status);
  EXPECT_EQ(lower_test::integerValue(module, "r"), 1u);

  frontend::module::Module spirv(frontend::target::Target::spirv());
  EXPECT_EQ(lower_test::lower(spirv, "if target.bits == 32 {\n}\n").diagnostics,
            std::vector<std::string>{"main.qov:1:1: lowering failed: InvalidMetaIf"});
}

namespace root = frontend::lower::root;
using qovrin::Error;

// Lowers text as the body of a running value function.
std::optional<Error> lowerInValueFunction(frontend::module::Module& module, std::string_view text) {
  frontend::lower::context::LowerContext context({});
  frontend::lower::expression_bridge::bindHooks(context);
  context.value_function_depth = 1;
  const frontend::lower::context::ScopeGuard scope(context);
  frontend::parser::Parser parser(text);
  const auto statements = parser.parseSource();
  EXPECT_TRUE(statements);
  frontend::lower::contracts::ActiveOutput cursor;
  root::ActiveOutputStack active_outputs;
  const auto lowered = root::lowerStatementSlice(module, cursor, active_outputs, *statements, context);
  if (lowered) return std::nullopt;
  return lowered.error();
}

TEST(ValueFunctionBodies, RefuseEverySideEffect) {
  for (const std::string_view text :
       {"start:", "nop", "emit.u8(1)", "store.u8(0, 1)", "origin(0)", "output.section(\"a\", 0)", "x86.use32()",
        "spv.use()", "include(\"a.qov\")", "import(\"a.qov\")", "module_value = 2", "defer {\n}"}) {
    SCOPED_TRACE(text);
    frontend::module::Module module(frontend::target::Target::x86(64));
    ASSERT_TRUE(module.defineValue("module_value", frontend::value::Value::integer(1), true, {}));
    EXPECT_EQ(lowerInValueFunction(module, text), Error::SideEffectInValueFunction);
  }
  frontend::module::Module module(frontend::target::Target::x86(64));
  EXPECT_EQ(lowerInValueFunction(module, "let a = 1\na = a + 1\nreturn a"), Error::MetaFunctionReturned);
}

TEST(Reporting, NotesDoNotCountAsReports) {
  lower_test::Files files;
  frontend::module::Module module(frontend::target::Target::x86(64));
  auto options = lower_test::pathOptions(files);
  options.resolve_file_include = [&module](const frontend::lower::contracts::IncludeRequest&)
      -> qovrin::Result<frontend::lower::contracts::IncludeSource> {
    module.diagnostics().add(frontend::diagnostic::Severity::note, {}, "looked in the include roots");
    return qovrin::fail(Error::ReadFailed);
  };
  EXPECT_FALSE(root::lowerSourceIntoModuleWithPathOptions(module, "main.qov", "include(\"x.qov\")\n", options));
  const auto& diagnostics = module.diagnostics().diagnostics();
  ASSERT_EQ(diagnostics.size(), 2u);
  EXPECT_EQ(diagnostics[1].message, "lowering failed: ReadFailed");
  EXPECT_EQ(diagnostics[1].severity, frontend::diagnostic::Severity::error);
}

}  // namespace
