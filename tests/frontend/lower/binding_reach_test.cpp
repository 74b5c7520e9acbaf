#include "frontend/lower/binding_reach.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "frontend/lower/context.hpp"
#include "frontend/syntax/parser.hpp"

namespace {

namespace context = frontend::lower::context;
namespace binding_reach = frontend::lower::binding_reach;
namespace ast = frontend::ast;

// Functions and macros as lowering defines them: value functions in the
// module, statement functions and macros in the context.
void define(frontend::module::Module& module, context::LowerContext& state, std::string_view text) {
  frontend::parser::Parser parser(text);
  auto statements = parser.parseSource();
  ASSERT_TRUE(statements);
  for (const ast::Statement& statement : *statements) {
    if (const auto* macro = std::get_if<ast::MacroStatement>(&statement.payload)) {
      ASSERT_TRUE(state.macros.add(*macro));
    } else {
      const auto& function = std::get<ast::MetaFunctionStatement>(statement.payload);
      ASSERT_TRUE(function.return_type ? module.metaFunctions().define(function) : state.functions.define(function));
    }
  }
}

constexpr std::string_view kFunctions =
    "fn norm(x) -> integer {\n  return x & 255\n}\n"
    "fn sets() -> integer {\n  s = \"new\"\n  return 0\n}\n"
    "fn put(let m, k, v) {\n  m = map.set(m, k, norm(v))\n}\n"
    "fn add(let m, k, v) {\n  put(m, k, v)\n  log(k)\n}\n"
    "fn log(k) {\n  print(k)\n}\n"
    "fn by_operator() -> integer {\n  return 1 * 2 + sets()\n}\n"
    "fn by_minus() -> integer {\n  return -sets()\n}\n"
    "fn by_argument() -> integer {\n  return norm(len(to_string(sets())))\n}\n"
    "fn pair(v) -> integer {\n  return v\n}\n"
    "fn by_field() -> integer {\n  return pair(sets()).x\n}\n"
    "fn by_condition() -> integer {\n  if sets() == 0 {\n    return 1\n  }\n  return 0\n}\n"
    "fn by_instruction() {\n  mov eax, sets()\n}\n"
    "fn by_eval(op) -> integer {\n  return operand.eval(op)\n}\n"
    "fn by_import() {\n  import(\"part.qov\")\n}\n"
    "fn by_macro() {\n  expand 1\n}\n"
    "fn by_macro_call() {\n  expand (1)\n}\n"
    "fn by_load() -> integer {\n  return load.u8(0)\n}\n"
    "fn by_unknown() -> integer {\n  return later()\n}\n"
    "fn ping(n) -> integer {\n  if n > 0 {\n    return pong(n - 1)\n  }\n  return 0\n}\n"
    "fn pong(n) -> integer {\n  return ping(n)\n}\n"
    "macro expand(a) {\n}\n";

// What each function may name, through the functions it calls, and what
// makes it reach any binding at all.
TEST(BindingReach, FollowsCallsAndStopsAtCodeItCannotSee) {
  struct Row {
    std::string_view function;
    std::string_view binding;
    bool reaches;
  };
  const Row rows[] = {
      {"norm", "reg", false},         {"norm", "x", true},           {"put", "reg", false},
      {"put", "x", true},             {"add", "reg", false},         {"add", "", false},
      {"log", "k", true},             {"by_operator", "s", true},    {"by_minus", "s", true},
      {"by_argument", "s", true},     {"by_field", "s", true},       {"by_condition", "s", true},
      {"by_instruction", "s", true},  {"by_operator", "reg", false}, {"by_eval", "", true},
      {"by_import", "", true},        {"by_macro", "", true},        {"by_macro_call", "", true},
      {"by_load", "", true},
      {"by_unknown", "", true},       {"ping", "reg", false},        {"pong", "n", true},
      {"nowhere", "", true},
  };
  frontend::module::Module module(frontend::target::Target::x86(64));
  context::LowerContext state({});
  define(module, state, kFunctions);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.function) + " / " + std::string(row.binding));
    EXPECT_EQ(binding_reach::mayName(binding_reach::functionReach(state, module.metaFunctions(), row.function),
                                     row.binding),
              row.reaches);
  }
}

// Each function's bodies are walked once for all its calls, until a
// definition may give a name a body to follow.
TEST(BindingReach, WalksABodyOncePerDefinition) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  context::LowerContext state({});
  define(module, state, "fn norm(x) -> integer {\n  return later(x)\n}\nfn add(let m, v) {\n  m = norm(v)\n}\n");
  const auto reach = [&] { return binding_reach::functionReach(state, module.metaFunctions(), "add"); };
  for (int call = 0; call < 3; ++call) EXPECT_TRUE(reach().anything);
  EXPECT_EQ(state.reach.bodies_walked, 2u);
  define(module, state, "fn later(x) -> integer {\n  return x\n}\n");
  for (int call = 0; call < 3; ++call) EXPECT_FALSE(binding_reach::mayName(reach(), "reg"));
  EXPECT_EQ(state.reach.bodies_walked, 5u);
}

// A value call's argument asks the same question every round; the answer
// kept for it is the answer to that question only, until a definition.
TEST(BindingReach, ValueCallsAskInTurn) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  context::LowerContext state({});
  define(module, state, "fn norm(x) -> integer {\n  return x\n}\nfn uses() -> integer {\n  return s + later()\n}\n");
  struct Row {
    std::string_view function;
    std::string_view binding;
    bool reaches;
  };
  const Row before[] = {{"norm", "s", false}, {"norm", "s", false},   {"uses", "s", true},
                        {"norm", "x", true},  {"nowhere", "x", true}, {"uses", "x", true}};
  const Row after[] = {{"uses", "x", false}, {"uses", "s", true}};
  const auto ask = [&](std::span<const Row> rows) {
    for (const Row& row : rows)
      EXPECT_EQ(binding_reach::valueFunctionMayReach(state, module.metaFunctions(), row.function, row.binding),
                row.reaches)
          << row.function << " / " << row.binding;
  };
  ask(before);
  define(module, state, "fn later() -> integer {\n  return 1\n}\n");
  ask(after);
}

}  // namespace
