// Running out of memory while lowering is a failure of the run, never an
// exception that escapes it.

#include <gtest/gtest.h>

#include <new>
#include <string>

#include "frontend/lower/root.hpp"
#include "frontend/module/module.hpp"
#include "frontend/support/failing_allocation.hpp"
#include "lower_test_support.hpp"

namespace {

using qovrin::Error;

// Parsing, meta evaluation, functions, macros, loops, data, includes and
// late layout, each with allocations of its own.
constexpr std::string_view kSource =
    "struct P {\n  a: u8\n  b: u16\n}\n"
    "fn twice(x) -> u64 {\n  return x * 2\n}\n"
    "macro put(v) {\n  db(operand.eval(v))\n}\n"
    "let names = map.set(map.new(), \"k\", 2)\n"
    "for i in range(0, 3) {\n  put twice(i)\n}\n"
    "emit.struct(P{a: 1, b: 2})\n"
    "let s = sym.join(\"x\", 1, \"y\")\n"
    "include(\"part.inc\")\n"
    "emit.file(\"data.bin\", 1, 2)\n"
    "late_layout {\n  db(9)\n}\n"
    "mov eax, 1\n";

TEST(Exhaustion, EveryFailedAllocationEndsLoweringWithOutOfMemory) {
  lower_test::Files files;
  files.texts["part.inc"] = "db(7)\nlet t = fs.read_text(\"data.bin\")\n";
  files.texts["data.bin"] = "0123";
  files.requested.reserve(1000);
  const auto options = lower_test::pathOptions(files);
  std::size_t failed_runs = 0;
  for (std::size_t countdown = 1;; ++countdown) {
    frontend::module::Module module(frontend::target::Target::x86(64));
    std::string text(kSource);
    files.requested.clear();
    qovrin::Status lowered;
    bool fired = false;
    try {
      const frontend::testing::FailingAllocation failing(countdown);
      lowered = frontend::lower::root::lowerSourceIntoModuleWithPathOptions(module, "main.qov", std::move(text),
                                                                            options);
      fired = failing.fired();
    } catch (const std::bad_alloc&) {
      FAIL() << "allocation " << countdown << " escaped lowering";
    }
    if (!fired) {
      ASSERT_TRUE(lowered.has_value());
      break;
    }
    // A few allocations are only hints whose failure changes nothing.
    if (lowered) continue;
    ++failed_runs;
    ASSERT_EQ(lowered.error(), Error::OutOfMemory) << "allocation " << countdown;
    for (const std::string& diagnostic : lower_test::allDiagnostics(module)) {
      if (diagnostic.find(": error: ") == std::string::npos) continue;
      EXPECT_NE(diagnostic.find("OutOfMemory"), std::string::npos) << "allocation " << countdown << ": " << diagnostic;
    }
  }
  EXPECT_GT(failed_runs, 100u);
}

}  // namespace
