#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "common/error_of.hpp"
#include "frontend/lower/deferred.hpp"
#include "frontend/lower/late_layout.hpp"
#include "frontend/module/module.hpp"
#include "frontend/syntax/expr.hpp"
#include "lower_test_support.hpp"

namespace {

using frontend::module::Module;
using frontend::target::Target;
namespace out = frontend::output::contracts;

std::string dump(const out::DeferredStatementList& list);

std::string dumpOne(const out::DeferredStatement& statement) {
  return std::visit(
      [](const auto& payload) -> std::string {
        using Payload = std::decay_t<decltype(payload)>;
        if constexpr (std::is_same_v<Payload, out::DeferredApiCall>) {
          return payload.text;
        } else if constexpr (std::is_same_v<Payload, out::MetaIf>) {
          return "if " + payload.condition + " {" + dump(payload.then_statements) + "} else {" +
                 dump(payload.else_statements) + "}";
        } else if constexpr (std::is_same_v<Payload, out::ValueDeclaration>) {
          return std::string(payload.is_mutable ? "let " : "const ") + payload.name +
                 (payload.type_name ? ": " + *payload.type_name : "") + " = " + payload.initializer;
        } else if constexpr (std::is_same_v<Payload, out::Assignment>) {
          return payload.target + " = " + payload.value;
        } else if constexpr (std::is_same_v<Payload, out::MetaWhile>) {
          return "while " + payload.condition + " {" + dump(payload.body) + "}";
        } else if constexpr (std::is_same_v<Payload, out::LoopBreak>) {
          return "break";
        } else {
          return "continue";
        }
      },
      statement.payload);
}

std::string dump(const out::DeferredStatementList& list) {
  std::string text;
  for (const auto& statement : list) text += (text.empty() ? "" : "; ") + dumpOne(statement);
  return text;
}

std::string dump(const out::LateLayoutStatementList& list) {
  std::string text;
  for (const auto& statement : list) {
    if (!text.empty()) text += "; ";
    if (const auto* call = std::get_if<out::LateLayoutCall>(&statement.payload)) {
      text += call->text;
      continue;
    }
    const auto& conditional = std::get<out::LateLayoutConditional>(statement.payload);
    text += "if " + conditional.condition + " {" + dump(conditional.then_statements) + "} else {" +
            dump(conditional.else_statements) + "}";
  }
  return text;
}

struct FrozenCase {
  std::string source;
  std::string frozen;                         // the last block's statements, when lowering succeeds
  std::vector<std::string> diagnostics = {};  // errors; none: lowering must succeed
  std::vector<std::string> captures = {};     // names captured by the last defer block
};

// Lowered into a module whose current section starts at 0x1000, so a frozen
// here() shows the address.
Module lowerAt0x1000(const std::string& source, lower_test::Lowered& lowered) {
  Module module(Target::x86(64));
  const auto data = module.createOutputSection(".data", 0x1000, 0);
  EXPECT_TRUE(data);
  module.setCurrentSection(*data);
  lowered = lower_test::lower(module, source);
  return module;
}

// How many blocks of one kind the module holds, and the last one frozen.
struct Frozen {
  std::size_t blocks = 0;
  std::string text;
  std::vector<std::string> captures;
};

Frozen deferredOf(const Module& module) {
  Frozen frozen{module.deferredBlocks().size(), "", {}};
  if (frozen.blocks == 0) return frozen;
  const auto& block = module.deferredBlocks().back();
  frozen.text = dump(block.statements);
  if (block.captures)
    for (const auto& capture : *block.captures) frozen.captures.push_back(capture.name);
  return frozen;
}

Frozen lateLayoutOf(const Module& module) {
  Frozen frozen{module.lateLayoutBlocks().size(), "", {}};
  if (frozen.blocks > 0) frozen.text = dump(module.lateLayoutBlocks().back().statements);
  return frozen;
}

// A failing case adds no block; a passing one adds exactly one.
void expectFrozen(const std::vector<FrozenCase>& cases, Frozen (*frozen_of)(const Module&)) {
  for (const FrozenCase& test : cases) {
    SCOPED_TRACE(test.source);
    lower_test::Lowered lowered;
    const Module module = lowerAt0x1000(test.source, lowered);
    EXPECT_EQ(lowered.diagnostics, test.diagnostics);
    const Frozen frozen = frozen_of(module);
    if (!test.diagnostics.empty()) {
      EXPECT_EQ(frozen.blocks, 0u);
      continue;
    }
    EXPECT_TRUE(lowered.status);
    EXPECT_EQ(frozen.blocks, 1u);
    EXPECT_EQ(frozen.text, test.frozen);
    EXPECT_EQ(frozen.captures, test.captures);
  }
}

TEST(DeferBlocks, FreezeAtTopLevelAndInsideScopes) {
  const std::vector<FrozenCase> cases = {
      // At top level nothing is frozen: names and here() are read when the block runs.
      {"let n = 5\ndefer {\n  store.u8(start, n)\n  print(here())\n  let a = 1 + 2 * 3\n}\n",
       "store.u8(start, n); print(here()); let a = (1 + (2 * 3))"},
      {"{\n  let n = 5\n  defer {\n    store.u8(addr, n)\n  }\n}\n", "store.u8(addr, 5)"},
      // A chain of one level reads back the same without inner parentheses.
      {"{\n  let n = 5\n  defer {\n    print(n - 2 + 3 * n - 1 || n << 1 << 2)\n  }\n}\n",
       "print(((5 - 2 + (3 * 5) - 1) || (5 << 1 << 2)))"},
      {"{\n  defer {\n    print(here(), \"a\"\"b\")\n  }\n}\n", "print(4096, \"a\"\"b\")"},
      {"{\n  let t = 1\n  let n = 2\n  defer {\n    let t = n\n    print(t)\n  }\n}\n", "let t = 2; print(t)"},
      // A name declared inside an if body is a local again after it.
      {"{\n  let x = 3\n  defer {\n    if true {\n      const x = 1\n      print(x)\n    }\n    print(x)\n  }\n}\n",
       "if true {const x = 1; print(x)} else {}; print(3)"},
      {"{\n  let s = \"q\"\n  let f = 1.5\n  let b = false\n  defer {\n    while f > 0.5 && b {\n      s = s\n"
       "      break\n      continue\n    }\n  }\n}\n",
       "while ((1.5 > 0.5) && false) {s = \"q\"; break; continue}"},
      {"{\n  let h = f32(0.5)\n  let b = b\"A\"\"B\"\n  defer {\n    print(h, b)\n  }\n}\n",
       "print(f32(0.5), b\"A\"\"B\")"},
      {"{\n  let ty = u8\n  defer {\n    print(ty, ty)\n    let w: u16 = sizeof(ty)\n  }\n}\n",
       "print(ty, ty); let w: u16 = sizeof(ty)",
       {},
       {"ty"}},
      {"defer {\n  if a == 1 {\n    print(1)\n  } else if a == 2 {\n    print(2)\n  }\n}\n",
       "if a == 1 {print(1)} else {if a == 2 {print(2)} else {}}"},
      {"defer {\n  emit.u8(1)\n}\n", "", {"main.qov:2:3: lowering failed: FinalizerCannotChangeLayout"}},
      {"{\n  defer {\n    for i in range(0, 2) {\n    }\n  }\n}\n",
       "",
       {"main.qov:3:5: lowering failed: FinalizerCannotChangeLayout"}},
      {"defer {\n  here:\n}\n", "", {"main.qov:2:3: lowering failed: FinalizerCannotChangeLayout"}},
      {"defer {\n  defer {\n  }\n}\n", "", {"main.qov:2:3: lowering failed: FinalizerCannotChangeLayout"}},
      {"defer {\n  mov eax, 1\n}\n", "", {"main.qov:2:3: lowering failed: FinalizerCannotChangeLayout"}},
      {"{\n  defer {\n    store.bytes(Point{ x: 1 }, 1)\n  }\n}\n",
       "",
       {"main.qov:2:3: lowering failed: InvalidApiArgument"}},
      {"defer {\n  let p = Point{ x: 1 }\n}\n", "", {"main.qov:1:1: lowering failed: InvalidApiArgument"}},
  };
  expectFrozen(cases, &deferredOf);
}

// Frozen text is read again when the block runs, so it must parse back to
// the tree it was made from: for every pair of operators, one below the
// other on either side, and for chains below, at and past the links a chain
// keeps inline.
TEST(DeferBlocks, RenderedExpressionsReadBackAsTheSameTree) {
  const auto render = [](const std::string& text) {
    const auto tree = frontend::expr::parseOwned(text);
    return tree ? frontend::lower::deferred::renderExpressionSource(*tree) : "!" + text;
  };
  const char* const kOperators[] = {"||", "&&", "==", "!=", "<", "<=", ">", ">=", "+",
                                    "-",  "*",  "/",  "%",  "<<", ">>", "&",  "|", "^"};
  std::vector<std::string> texts;
  for (const std::string lower : kOperators)
    for (const std::string upper : kOperators) {
      texts.push_back("(a " + lower + " b) " + upper + " c");
      texts.push_back("a " + upper + " (b " + lower + " c)");
    }
  for (const std::size_t links : {7u, 8u, 9u, 17u}) {
    std::string chain(links, '(');
    chain += "a";
    for (std::size_t index = 0; index < links; ++index)
      chain += std::string(" ") + kOperators[(index * 5) % std::size(kOperators)] + " " + std::to_string(index) + ")";
    texts.push_back(chain);
  }
  for (const std::string& text : texts) {
    const std::string once = render(text);
    EXPECT_EQ(render(once), once) << text;
  }
  EXPECT_EQ(render("(a + 2) * 3"), "((a + 2) * 3)");
  EXPECT_EQ(render("a - (b - c)"), "(a - (b - c))");
}

TEST(DeferBlocks, TopLevelBlocksCaptureNothingAndScopedOnesKeepTheirLocation) {
  lower_test::Lowered lowered;
  const Module module = lowerAt0x1000("defer {\n}\n{\n  defer {\n  }\n}\n", lowered);
  ASSERT_TRUE(lowered.status);
  ASSERT_EQ(module.deferredBlocks().size(), 2u);
  EXPECT_FALSE(module.deferredBlocks()[0].captures.has_value());
  EXPECT_TRUE(module.deferredBlocks()[1].captures.has_value());
  EXPECT_LT(module.deferredBlocks()[0].location.span.start, module.deferredBlocks()[1].location.span.start);
}

TEST(LateLayoutBlocks, FreezeAtTopLevelAndInsideScopes) {
  const std::vector<FrozenCase> cases = {
      {"late_layout {\n  if target.bits == 64 {\n    align(a)\n  } else {\n    db(1)\n  }\n}\n",
       "if target.bits == 64 {align(a)} else {db(1)}"},
      {"{\n  let a = 16\n  late_layout {\n    align(a)\n    emit.u32(here() - a)\n    print(\"x\")\n  }\n}\n",
       "align(16); emit.u32((here() - 16)); print(\"x\")"},
      {"{\n  let x = 2\n  late_layout {\n    if x > 1 {\n      db(1)\n    } else {\n      db(2)\n    }\n  }\n}\n",
       "db(1)"},
      {"{\n  let x = 0\n  late_layout {\n    if x > 1 {\n      db(1)\n    } else if x == 0 {\n      db(3)\n    }\n  "
       "}\n}\n",
       "db(3)"},
      {"late_layout {\n  let a = 1\n}\n", "", {"main.qov:2:3: lowering failed: InvalidLateLayout"}},
      {"{\n  late_layout {\n    while true {\n    }\n  }\n}\n",
       "",
       {"main.qov:3:5: lowering failed: InvalidLateLayout"}},
      {"late_layout {\n  isa(\"nop\")\n}\n", "", {"main.qov:2:3: lowering failed: InvalidLateLayout"}},
      {"late_layout {\n  label.define(\"x\")\n}\n", "", {"main.qov:2:3: lowering failed: InvalidLateLayout"}},
      {"{\n  late_layout {\n    include(\"x\")\n  }\n}\n", "", {"main.qov:3:5: lowering failed: InvalidLateLayout"}},
      {"{\n  let ty = u8\n  late_layout {\n    db(ty)\n  }\n}\n",
       "",
       {"main.qov:3:3: lowering failed: InvalidApiArgument"}},
  };
  expectFrozen(cases, &lateLayoutOf);
}

out::LateLayoutStatement call(std::string text) { return {out::LateLayoutCall{std::move(text), {}}}; }

out::LateLayoutStatement when(std::string condition, out::LateLayoutStatementList then_statements,
                              out::LateLayoutStatementList else_statements = {}) {
  return {out::LateLayoutConditional{std::move(condition), std::move(then_statements), std::move(else_statements), {}}};
}

template <typename... Statements>
out::LateLayoutStatementList list(Statements&&... statements) {
  out::LateLayoutStatementList result;
  (result.push_back(std::forward<Statements>(statements)), ...);
  return result;
}

std::string recorded_calls;

qovrin::Status recordCall(Module&, frontend::lower::contracts::ActiveOutput& cursor,
                          frontend::lower::root::ActiveOutputStack&, frontend::lower::context::LowerContext&,
                          const out::LateLayoutCall& call) {
  if (call.text == "fail()") return qovrin::fail(qovrin::Error::InvalidApiCall);
  ++cursor.offset;
  recorded_calls += call.text + " ";
  return {};
}

// "moved" holds once a call has moved the cursor.
qovrin::Result<bool> decide(Module&, frontend::lower::context::LowerContext&,
                            const frontend::lower::contracts::ActiveOutput& cursor, std::string_view text) {
  if (text == "bad") return qovrin::fail(qovrin::Error::InvalidMetaIf);
  return text == "yes" || (text == "moved" && cursor.offset > 0);
}

// The run with recording callbacks: calls in order, conditionals decided at
// the cursor as it stands, the first failure ends everything.
TEST(LateLayoutRun, RunsCallsAndChosenBranchesUntilTheFirstFailure) {
  struct Run {
    out::LateLayoutStatementList statements;
    std::string calls;
    std::optional<qovrin::Error> error;
  };
  std::vector<Run> runs;
  runs.push_back({{}, "", {}});
  runs.push_back({list(call("a()"), when("moved", list(call("b()"))), when("no", {}, list(call("c()"), call("d()")))),
                  "a() b() c() d() ",
                  {}});
  runs.push_back({list(call("a()"), call("fail()"), call("b()")), "a() ", qovrin::Error::InvalidApiCall});
  runs.push_back({list(when("yes", list(when("bad", {}))), call("b()")), "", qovrin::Error::InvalidMetaIf});
  namespace late = frontend::lower::late_layout;
  const late::LateLayoutCallbacks callbacks{nullptr, nullptr, &recordCall, &decide};
  for (std::size_t index = 0; index < runs.size(); ++index) {
    SCOPED_TRACE(index);
    Module module(Target::x86(64));
    frontend::lower::context::LowerContext context(frontend::lower::contracts::PathOptions{});
    frontend::lower::contracts::ActiveOutput cursor{};
    frontend::lower::root::ActiveOutputStack stack;
    recorded_calls.clear();
    const auto status = late::runStatements(module, cursor, stack, context, runs[index].statements, callbacks);
    EXPECT_EQ(recorded_calls, runs[index].calls);
    EXPECT_EQ(qovrin::testing::errorOf(status), runs[index].error);
  }
}

// Blocks that a macro writes keep its expansion for the notes of what they
// report later; blocks written in the source have none.
TEST(FrozenBlocks, CarryTheExpansionThatWroteThem) {
  Module module(Target::x86(64));
  const auto expansion = module.diagnostics().beginExpansion({}, {});
  ASSERT_TRUE(expansion);
  module.diagnostics().setCurrentExpansion(*expansion);
  ASSERT_TRUE(lower_test::lower(module, "defer {\n}\nlate_layout {\n}\n").status);
  module.diagnostics().setCurrentExpansion(std::nullopt);
  ASSERT_TRUE(lower_test::lower(module, "defer {\n}\n").status);
  ASSERT_EQ(module.deferredBlocks().size(), 2u);
  ASSERT_EQ(module.lateLayoutBlocks().size(), 1u);
  EXPECT_EQ(module.deferredBlocks()[0].location.expansion, expansion.value());
  EXPECT_EQ(module.lateLayoutBlocks()[0].location.expansion, expansion.value());
  EXPECT_EQ(module.deferredBlocks()[1].location.expansion, std::nullopt);
}

}  // namespace
