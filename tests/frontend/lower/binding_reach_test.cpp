#include "frontend/lower/binding_reach.hpp"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "frontend/lower/context.hpp"
#include "frontend/support/meta_definitions.hpp"

namespace {

namespace context = frontend::lower::context;
namespace binding_reach = frontend::lower::binding_reach;

constexpr auto define = frontend::test_support::defineAll;

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
    const auto callee = state.functions.find(row.function) ? binding_reach::Callee::statement_function
                                                           : binding_reach::Callee::value_function;
    EXPECT_EQ(binding_reach::mayName(binding_reach::functionReach(state, module.metaFunctions(), callee, row.function),
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
  const auto reach = [&] {
    return binding_reach::functionReach(state, module.metaFunctions(), binding_reach::Callee::statement_function,
                                        "add");
  };
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

namespace {

using binding_reach::Callee;

bool reaches(context::LowerContext& state, const frontend::module::Module& module, Callee callee,
             std::string_view function, std::string_view binding) {
  return binding_reach::mayName(binding_reach::functionReach(state, module.metaFunctions(), callee, function), binding);
}

// A call in an expression runs the value function of its name, a call
// statement the statement function, whatever the other store holds; one not
// defined in its own store may be defined later, with any body.
TEST(BindingReach, FollowsEachCallInItsOwnStore) {
  struct Row {
    Callee callee;
    std::string_view function;
    std::string_view binding;
    bool reaches;
  };
  const Row rows[] = {
      {Callee::value_function, "f", "G5", true},        {Callee::value_function, "f", "p", false},
      {Callee::statement_function, "g", "p", true},     {Callee::statement_function, "g", "G5", false},
      {Callee::value_function, "only_statement", "", true}, {Callee::statement_function, "only_value", "", true},
      {Callee::value_function, "calls_statement", "", true}, {Callee::statement_function, "calls_value", "", true},
      {Callee::statement_function, "f", "", true},      {Callee::value_function, "g", "", true},
  };
  frontend::module::Module module(frontend::target::Target::x86(64));
  context::LowerContext state({});
  define(module, state,
         "fn h(let p) {\n  p = p\n}\n"
         "fn h(x) -> integer {\n  return G5\n}\n"
         "fn f() -> integer {\n  return h(0)\n}\n"
         "fn g(let q) {\n  h(q)\n}\n"
         "fn only_statement(let p) {\n  p = 1\n}\n"
         "fn only_value() -> integer {\n  return 1\n}\n"
         "fn calls_statement() -> integer {\n  return only_statement(1)\n}\n"
         "fn calls_value(let q) {\n  only_value(q)\n}\n");
  for (const Row& row : rows)
    EXPECT_EQ(reaches(state, module, row.callee, row.function, row.binding), row.reaches)
        << row.function << " / " << row.binding;
}

// Each body is walked once for the answers of every function that reaches
// it; a definition walks again only the bodies that met its name while it
// was undefined in the store it was defined in, or as a word a macro of the
// name would now expand, and the bodies of their callers.
TEST(BindingReach, WalksEachBodyOnceUntilADefinitionChangesIt) {
  struct Ask {
    Callee callee;
    std::string_view function;
  };
  struct Step {
    std::string_view definitions;
    std::uint64_t walks;
  };
  struct Row {
    std::string_view label;
    std::vector<Ask> asks;
    std::vector<Step> steps;
  };
  constexpr Callee value = Callee::value_function;
  constexpr Callee statement = Callee::statement_function;
  constexpr std::string_view kUnrelated = "fn other() -> integer {\n  return 1\n}\nfn other(x) {\n  let y = x\n}\n"
                                          "macro unused(a) {\n}\n";
  const Row rows[] = {
      {"a chain asked from its end",
       {{value, "a5"}, {value, "a0"}, {value, "a1"}, {value, "a2"}, {value, "a3"}, {value, "a4"}},
       {{"fn a0(x) -> integer {\n  return x\n}\nfn a1(x) -> integer {\n  return a0(x)\n}\n"
         "fn a2(x) -> integer {\n  return a1(x)\n}\nfn a3(x) -> integer {\n  return a2(x)\n}\n"
         "fn a4(x) -> integer {\n  return a3(x)\n}\nfn a5(x) -> integer {\n  return a4(x)\n}\n",
         6},
        {kUnrelated, 0}}},
      {"a cycle that calls a function defined later",
       {{value, "q"}, {value, "p"}, {value, "r"}, {value, "s"}},
       {{"fn p(x) -> integer {\n  return q(x)\n}\nfn q(x) -> integer {\n  return r(x)\n}\n"
         "fn r(x) -> integer {\n  return p(x) + later(x)\n}\nfn s(x) -> integer {\n  return p(x)\n}\n",
         4},
        {kUnrelated, 0},
        {"fn later(x) -> integer {\n  return x\n}\n", 5}}},
      {"a call statement of a function defined later",
       {{statement, "t0"}, {statement, "t1"}},
       {{"fn t0(let l) {\n  t1(l)\n}\nfn t1(let l) {\n  u(l)\n}\n", 2},
        {"fn u(x) -> integer {\n  return x\n}\n", 0},
        {"fn u(let l) {\n  l = 1\n}\n", 3}}},
      {"a call of the assembler's own that a function takes over",
       {{statement, "w0"}},
       {{"fn w0(let l) {\n  print(l)\n}\n", 1}, {"fn print(x) -> integer {\n  return x\n}\n", 0},
        {"fn print(x) {\n  let y = x\n}\n", 2}}},
      {"an instruction word that a macro takes",
       {{statement, "v1"}, {statement, "v0"}},
       {{"fn v0(let l) {\n  later eax, l\n}\nfn v1(let l) {\n  v0(l)\n}\n", 2},
        {kUnrelated, 0},
        {"macro later(a, b) {\n}\n", 2}}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    frontend::module::Module module(frontend::target::Target::x86(64));
    context::LowerContext state({});
    for (const Step& step : row.steps) {
      define(module, state, step.definitions);
      const std::uint64_t before = state.reach.bodies_walked;
      for (int round = 0; round < 2; ++round)
        for (const Ask& ask : row.asks)
          binding_reach::functionReach(state, module.metaFunctions(), ask.callee, ask.function);
      EXPECT_EQ(state.reach.bodies_walked - before, step.walks) << step.definitions;
    }
  }
}

// What a definition changes is found again: the functions that called a
// function not defined yet, or a call the assembler's own, or named a word
// that a macro now expands.
TEST(BindingReach, AnswersFollowLaterDefinitions) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  context::LowerContext state({});
  define(module, state,
         "fn top(let l) {\n  middle(l)\n}\nfn middle(let l) {\n  print(l)\n  l = late(l)\n}\n"
         "fn words(let l) {\n  grow l\n}\n");
  EXPECT_TRUE(reaches(state, module, Callee::statement_function, "top", ""));
  EXPECT_FALSE(reaches(state, module, Callee::statement_function, "words", "secret"));
  define(module, state, "fn late(x) -> integer {\n  return x\n}\n");
  EXPECT_FALSE(reaches(state, module, Callee::statement_function, "top", "secret"));
  define(module, state, "fn print(x) {\n  secret = x\n}\nmacro grow(a) {\n}\n");
  EXPECT_TRUE(reaches(state, module, Callee::statement_function, "top", "secret"));
  EXPECT_TRUE(reaches(state, module, Callee::statement_function, "words", ""));
}

}  // namespace
