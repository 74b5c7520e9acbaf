// Reach answers against a plain search of the same call graphs, written as
// a model: random graphs of value and statement functions that share names,
// call themselves and each other, and call functions defined only later.

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "frontend/lower/binding_reach.hpp"
#include "frontend/lower/context.hpp"
#include "frontend/support/meta_definitions.hpp"

namespace {

namespace context = frontend::lower::context;
namespace binding_reach = frontend::lower::binding_reach;
using binding_reach::Callee;

// One function of the model: the names its body reads in expressions and
// in an instruction line, and the functions it calls from expressions and
// from call statements.
struct ModelFunction {
  Callee callee = Callee::value_function;
  std::string name;
  std::vector<std::string> reads;
  std::vector<std::string> words;
  std::vector<std::string> value_calls;
  std::vector<std::string> statement_calls;
};

std::string joinedTerms(const ModelFunction& function, std::string_view argument) {
  std::string terms(argument);
  for (const std::string& call : function.value_calls) terms += " + " + call + "(" + std::string(argument) + ")";
  for (const std::string& read : function.reads) terms += " + " + read;
  return terms;
}

std::string sourceOf(const ModelFunction& function) {
  const bool value = function.callee == Callee::value_function;
  std::string text = "fn " + function.name + (value ? "(x) -> integer {\n" : "(let l, x) {\n");
  text += "  let t = " + joinedTerms(function, "x") + "\n";
  for (const std::string& call : function.statement_calls) text += "  " + call + (value ? "(x)\n" : "(l, x)\n");
  if (!function.words.empty()) {
    text += "  mov eax";
    for (const std::string& word : function.words) text += ", " + word;
    text += "\n";
  }
  return text + (value ? "  return t\n}\n" : "  l = t\n}\n");
}

struct Model {
  std::map<std::pair<Callee, std::string>, ModelFunction> functions;
  std::set<std::string> macros;

  const ModelFunction* find(Callee callee, const std::string& name) const {
    const auto found = functions.find({callee, name});
    return found == functions.end() ? nullptr : &found->second;
  }

  // Every function reachable by calls, each call in the store of its kind;
  // nullopt for anything: a call that no function answers (but a call the
  // assembler knows) or a word a macro expands.
  std::optional<std::set<std::string>> reach(Callee callee, const std::string& name) const {
    std::set<std::string> names;
    std::set<std::pair<Callee, std::string>> seen;
    std::vector<std::pair<Callee, std::string>> pending = {{callee, name}};
    while (!pending.empty()) {
      const auto next = pending.back();
      pending.pop_back();
      if (!seen.insert(next).second) continue;
      const ModelFunction* function = find(next.first, next.second);
      if (function == nullptr) return std::nullopt;
      names.insert({"x", "t"});
      if (function->callee == Callee::statement_function) names.insert("l");
      names.insert(function->reads.begin(), function->reads.end());
      if (!function->words.empty()) names.insert({"mov", "eax"});
      for (const std::string& word : function->words) {
        if (macros.contains(word)) return std::nullopt;
        names.insert(word);
      }
      for (const std::string& call : function->value_calls) pending.emplace_back(Callee::value_function, call);
      for (const std::string& call : function->statement_calls) {
        if (call == "print" && !find(Callee::statement_function, call)) continue;
        pending.emplace_back(Callee::statement_function, call);
      }
    }
    return names;
  }
};

// Names f0..f5 in both stores; f6 and f7 and print are called but defined
// only in the second round, with a macro named like a word.
constexpr std::string_view kNames[] = {"f0", "f1", "f2", "f3", "f4", "f5", "f6", "f7"};
constexpr std::string_view kReads[] = {"n0", "n1", "n2", "n3", "n4"};

ModelFunction randomFunction(std::mt19937& random, Callee callee, std::string name) {
  ModelFunction function{callee, std::move(name), {}, {}, {}, {}};
  const auto pick = [&](auto& names, std::size_t count) {
    std::vector<std::string> picked;
    for (std::size_t index = 0; index < count; ++index)
      picked.emplace_back(names[std::uniform_int_distribution<std::size_t>(0, std::size(names) - 1)(random)]);
    return picked;
  };
  std::uniform_int_distribution<std::size_t> count(0, 2);
  function.reads = pick(kReads, count(random));
  function.value_calls = pick(kNames, count(random));
  function.statement_calls = pick(kNames, count(random));
  if (count(random) == 0) function.statement_calls.emplace_back("print");
  if (callee == Callee::statement_function) function.words = pick(kReads, count(random));
  return function;
}

void define(frontend::module::Module& module, context::LowerContext& state, Model& model,
            const std::vector<ModelFunction>& functions) {
  std::string source;
  for (const ModelFunction& function : functions) {
    source += sourceOf(function);
    model.functions[{function.callee, function.name}] = function;
  }
  frontend::test_support::defineAll(module, state, source);
}

void compare(context::LowerContext& state, const frontend::module::Module& module, const Model& model,
             std::mt19937& random) {
  std::vector<std::pair<Callee, std::string>> asks;
  for (const Callee callee : {Callee::value_function, Callee::statement_function})
    for (const std::string_view name : kNames) asks.emplace_back(callee, name);
  std::ranges::shuffle(asks, random);
  const std::vector<std::string> bindings = {"", "x", "t", "l", "mov", "n0", "n1", "n2", "n3", "n4", "f0", "absent"};
  for (const auto& [callee, name] : asks) {
    const auto expected = model.reach(callee, name);
    const binding_reach::Reach& reach = binding_reach::functionReach(state, module.metaFunctions(), callee, name);
    for (const std::string& binding : bindings) {
      const bool named = !expected || (!binding.empty() && expected->contains(binding));
      EXPECT_EQ(binding_reach::mayName(reach, binding), named)
          << (callee == Callee::value_function ? "value " : "statement ") << name << " / " << binding;
    }
  }
}

TEST(BindingReach, EqualsAPlainSearchOfTheCallGraph) {
  for (std::uint32_t graph = 0; graph < 300; ++graph) {
    SCOPED_TRACE(graph);
    std::mt19937 random(graph);
    frontend::module::Module module(frontend::target::Target::x86(64));
    context::LowerContext state({});
    Model model;
    std::vector<ModelFunction> first;
    std::bernoulli_distribution defined(0.7);
    for (const Callee callee : {Callee::value_function, Callee::statement_function})
      for (std::size_t index = 0; index < 6; ++index)
        if (defined(random)) first.push_back(randomFunction(random, callee, std::string(kNames[index])));
    define(module, state, model, first);
    compare(state, module, model, random);

    std::vector<ModelFunction> later = {randomFunction(random, Callee::value_function, "f6"),
                                        randomFunction(random, Callee::statement_function, "f7"),
                                        randomFunction(random, Callee::statement_function, "print")};
    define(module, state, model, later);
    if (defined(random)) {
      frontend::test_support::defineAll(module, state, "macro n4(a) {\n}\n");
      model.macros.insert("n4");
    }
    compare(state, module, model, random);
  }
}

}  // namespace
