// Seeded random meta programs lowered twice: as lowering runs them, and
// with every macro operand capturing a copy of each module value and every
// let parameter taking a copy of its argument. The two must emit the same
// bytes and report the same failures: what keeps the first cheap may never
// change a value.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "frontend/lower/root.hpp"
#include "lower_test_support.hpp"

namespace {

// Value and statement functions share names (h, k) and call one another,
// statement functions return early when a value function calls them, and
// helpers call helpers. Each is defined once, at a random place.
const std::vector<std::string> kDefinitions = {
    "fn h(x) -> integer {\n  return x + G0\n}\n",
    "fn h(let r) {\n  r = r + G2\n}\n",
    "fn k(x) -> integer {\n  let r = x\n  h(r)\n  return r + G1\n}\n",
    "fn k(let r) {\n  if r > 2 {\n    return 0\n  }\n  r = r + G0\n}\n",
    "fn p(x) -> integer {\n  let r = x\n  k(r)\n  return r + len(L)\n}\n",
    "fn grow(let l) {\n  addp(l, G1)\n  if len(l) > G1 {\n    return 0\n  }\n  addp(l, 5)\n}\n",
    "fn probe() -> integer {\n  grow(L)\n  return len(L)\n}\n",
    "fn register(let m, key) {\n  if map.has(m, key) {\n    return 0\n  }\n  m = map.set(m, key, G0)\n}\n",
    "fn known(key) -> integer {\n  register(REG, key)\n  return len(REG)\n}\n",
};

const char* const kPrelude =
    "let G0 = 1\nlet G1 = 2\nlet G2 = 3\nlet L = list.of(1)\nlet REG = map.new()\nlet OPS = list.new()\n"
    "fn addp(let l, v) {\n  l = list.push(l, v)\n}\n"
    "fn base() -> integer {\n  return G0 + G1\n}\n"
    "fn run() {\n  let L = list.of(7, 8)\n  let x = probe()\n  db(len(L) + x)\n}\n"
    "macro keep(a) {\n  OPS = list.push(OPS, a)\n}\n"
    "macro show(a) {\n  db(operand.eval(a) & 255)\n}\n"
    "macro pass1(a) {\n  G1 = G1 + 1\n  show a + base()\n}\n"
    "macro pass2(a) {\n  pass1 a * 2 + G2\n}\n"
    "macro pass3(a) {\n  G0 = 9\n  pass2 base() + a\n  keep a + G1\n}\n";

class Generator {
 public:
  explicit Generator(unsigned number) : random_(number) {}

  std::string program() {
    std::string text = kPrelude;
    std::vector<std::size_t> later(kDefinitions.size());
    for (std::size_t index = 0; index < later.size(); ++index) later[index] = index;
    std::shuffle(later.begin(), later.end(), random_);
    for (int statement = pick(10) + 8; statement > 0 || !later.empty(); --statement) {
      switch (pick(8)) {
        case 0:
        case 1:
          if (!later.empty()) {
            text += kDefinitions[later.back()];
            defined_[later.back()] = true;
            later.pop_back();
            break;
          }
          [[fallthrough]];
        case 2:
          text += "keep " + expression(2, false) + "\n";
          break;
        case 3:
          text += std::string(pick(2) == 0 ? "pass3 " : "pass2 ") + expression(1, true) + "\n";
          break;
        case 4:
          text += "G" + std::to_string(pick(3)) + " = " + std::to_string(pick(6)) + "\n";
          break;
        case 5:
          text += "addp(L, " + std::to_string(pick(4)) + ")\n";
          break;
        case 6:
          if (callable("probe")) text += "run()\n";
          break;
        default:
          if (callable("known")) text += "db(known(\"k" + std::to_string(pick(3)) + "\"))\n";
          break;
      }
    }
    return text + "for op in OPS {\n  db(operand.eval(op) & 255)\n}\ndb(len(L) + len(REG) + G0 + G1 + G2)\n";
  }

 private:
  int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

  // Whether the value function and the functions it calls are defined
  // (indexes into kDefinitions).
  bool callable(const std::string& name) const {
    if (name == "h") return defined_[0];
    if (name == "k") return defined_[2] && defined_[1];
    if (name == "p") return defined_[4] && defined_[3];
    if (name == "probe") return defined_[6] && defined_[5];
    if (name == "known") return defined_[8] && defined_[7];
    return true;
  }

  // An operand's text; one evaluated at once calls only what is defined.
  std::string expression(int depth, bool now) {
    static const std::vector<std::string> kCalls = {"h", "k", "p", "base"};
    const int choice = depth == 0 ? pick(2) : pick(4);
    const std::string& name = kCalls[static_cast<std::size_t>(pick(static_cast<int>(kCalls.size())))];
    if (choice == 0 || (choice == 2 && now && !callable(name))) return std::to_string(pick(5));
    if (choice == 1) return "G" + std::to_string(pick(3));
    if (choice == 3) return expression(depth - 1, now) + " + " + expression(depth - 1, now);
    if (name == "base") return "base()";
    return name + "(" + expression(depth - 1, now) + ")";
  }

  std::mt19937 random_;
  std::vector<bool> defined_ = std::vector<bool>(kDefinitions.size(), false);
};

struct Outcome {
  bool succeeded = false;
  std::string content;
  std::vector<std::string> diagnostics;
};

Outcome lowerOn(const std::string& text, bool copies_every_value) {
  frontend::module::Module module(frontend::target::Target::x86(64));
  lower_test::Files files;
  frontend::lower::contracts::PathOptions options = lower_test::pathOptions(files);
  options.copies_every_value = copies_every_value;
  const auto lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "main.qov", text, options);
  return {static_cast<bool>(lowered), lower_test::sectionContent(module, module.currentSection()),
          lower_test::allDiagnostics(module)};
}

TEST(MetaValueDifferential, ShortcutsGiveTheValuesOfTheCopies) {
  int succeeded = 0;
  for (unsigned number = 1; number <= 3000; ++number) {
    const std::string text = Generator(number).program();
    const Outcome fast = lowerOn(text, false);
    const Outcome copied = lowerOn(text, true);
    succeeded += copied.succeeded ? 1 : 0;
    ASSERT_EQ(fast.succeeded, copied.succeeded) << text;
    ASSERT_EQ(fast.content, copied.content) << text;
    ASSERT_EQ(fast.diagnostics, copied.diagnostics) << text;
  }
  // Most programs must run to their end, or the comparison says little.
  EXPECT_GT(succeeded, 1500);
}

}  // namespace
