#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "frontend/lower/layout_cursor.hpp"
#include "frontend/meta_std/meta_std.hpp"
#include "lower_test_support.hpp"

namespace {

using lower_test::expectOutputCases;

TEST(DataDirectives, WidthsAndRanges) {
  expectOutputCases({
      {"dd(1, 2)\n", "01 00 00 00 02 00 00 00"},
      {"dw(0xffff)\ndq(0x0102030405060708)\n", "ff ff 08 07 06 05 04 03 02 01"},
      {"dd(0x01020304)\ndb(0)\n", "04 03 02 01 00"},
      {"dp(0xffffffffffff)\n", "ff ff ff ff ff ff"},
      {"dp(0x1000000000000)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 281474976710656 does not fit the 48-bit field of dp"},
       false},
      {"dt(1)\n", "01 00 00 00 00 00 00 00 00 00"},
      {"ddq(0xffffffffffffffff)\n", "ff ff ff ff ff ff ff ff 00 00 00 00 00 00 00 00"},
      {"db(\"AB\", 0x43, b\"D\")\n", "41 42 43 44"},
      {"let s = \"xy\"\ndb(s, 0)\n", "78 79 00"},
      {"db(255)\n", "ff"},
      {"db(256)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 256 does not fit the 8-bit field of db"},
       false},
      {"db(1.5)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArgument",
        "main.qov:1:1: note: 1.5 is an f64, and db writes integers: emit.f32(f32(1.5)) writes an f32, "
        "emit.f64(1.5) an f64"},
       false},
      {"store.u32(0, 1.5)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidExpression",
        "main.qov:1:1: note: 1.5 is an f64, and store.u32 writes integers: emit.f32(f32(1.5)) writes an f32, "
        "emit.f64(1.5) an f64"},
       false},
      {"dw(\"A\")\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"db()\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'db' takes at least 1 argument, 0 given: db(value, ...)"},
       false},
      {"dd(1, 1 / 0)\n", "", {"main.qov:1:1: error: lowering failed: DivisionByZero"}, false},
  });
}

// A name is read back from its statement's text however far into the
// statement it stands: up to 65,535 bytes in and past that.
TEST(DataDirectives, ReadValuesNamedFarIntoTheirStatement) {
  std::vector<lower_test::OutputCase> cases;
  for (const std::size_t blanks : {65532, 65533, 65536})
    cases.push_back({"let" + std::string(blanks, ' ') + "x = 7\ndb(x)\n", "07"});
  expectOutputCases(cases);
}

// A line's bytes keep their order and values however many there are,
// literal or not, up to and past a few hundred.
TEST(DataDirectives, LongLinesKeepEveryByte) {
  // Each ddqq value is one byte then 63 zeros; strings are their bytes.
  const auto expected = [](std::string_view values, std::size_t unit) {
    std::string text;
    for (const char value : values)
      for (std::size_t index = 0; index < unit; ++index)
        text += (text.empty() ? "" : " ") + (index == 0 ? std::string{'0', value} : std::string("00"));
    return text;
  };
  const std::string a300(300, 'a');
  std::string bytes300;
  for (std::size_t index = 0; index < 300; ++index) bytes300 += index == 0 ? "61" : " 61";
  expectOutputCases({
      {"ddqq(1, 2, 3)\nddqq(4)\n", expected("1234", 64)},
      {"ddqq(1, 2, 3, 4, 5)\n", expected("12345", 64)},
      {"let v = 9\nddqq(1, 2, 3, v, 5)\n", expected("12395", 64)},
      {"db(\"" + a300 + "\")\n", bytes300},
      {"db(0x61, \"" + a300.substr(1) + "\")\n", bytes300},
      {"ddqq(1, 2, 3, 4, 1 / 0)\n", "", {"main.qov:1:1: error: lowering failed: DivisionByZero"}, false},
  });
}

// A shift by 64 or more is 0 whatever it shifts, so nothing below it in its
// chain is read: no division by zero, no call that prints. Evaluated for
// data, folded for an instruction's operand.
TEST(DataDirectives, ShiftsPastTheWordReadNothingBelowThem) {
  const std::string printing = "fn p() -> integer {\n  print(\"read\")\n  return 1\n}\n";
  expectOutputCases({
      {"db((1 % 0) << 64)\n", "00"},
      {"db(1 % 0 >> 70, (1 % 0 + 1) << 64 << 1)\n", "00 00"},
      {printing + "db((p() + 1) << 64, (p() % 0) >> 64)\n", "00 00"},
      {printing + "db((p() + 1) << 1)\n", "04", {"main.qov:2:3: note: read"}},
      {"db((1 % 0) << 63)\n", "", {"main.qov:1:1: error: lowering failed: DivisionByZero"}, false},
      {"mov eax, (1 % 0) << 64\n", "[b8 00 00 00 00]"},
  });
}

// Sums of 8, 9, 10 and 18 terms: chains just below, at and past the links a
// chain keeps inline, evaluated for data and folded for an operand.
TEST(DataDirectives, ChainsOfEveryLength) {
  const auto hex = [](std::size_t byte) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return std::string{kDigits[(byte >> 4) & 15], kDigits[byte & 15]};
  };
  std::vector<lower_test::OutputCase> cases;
  for (const std::size_t links : {7u, 8u, 9u, 17u}) {
    std::string sum = "1";
    for (std::size_t index = 1; index <= links; ++index) sum += " + " + std::to_string(index);
    const std::string total = hex(1 + links * (links + 1) / 2);
    cases.push_back({"db(" + sum + ")\n", total});
    cases.push_back({"mov eax, " + sum + "\n", "[b8 " + total + " 00 00 00]"});
  }
  expectOutputCases(cases);
}

TEST(DataDirectives, NegativeValuesBelowEightBytesAsTwosComplement) {
  const std::string too_wide = "main.qov:1:1: error: lowering failed: InvalidApiInteger";
  const auto note = [](std::string_view text) { return "main.qov:1:1: note: " + std::string(text); };
  expectOutputCases({
      {"db(-1, -128)\n", "ff 80"},
      {"dw(-2)\ndd(-4)\n", "fe ff fc ff ff ff"},
      {"dp(-0x800000000000)\n", "00 00 00 00 00 80"},
      {"dq(-1)\n", "ff ff ff ff ff ff ff ff"},
      {"emit.u8(-1)\nemit.u16(-32768)\nemit.u32(-0x80000000)\n", "ff 00 80 00 00 00 80"},
      {"let x = -8\ndb(x)\n", "f8"},
      {"db(-129)\n", "", {too_wide, note("-129 does not fit the 8-bit field of db")}, false},
      {"dw(-32769)\n", "", {too_wide, note("-32769 does not fit the 16-bit field of dw")}, false},
      {"dd(-0x80000001)\n", "", {too_wide, note("-2147483649 does not fit the 32-bit field of dd")}, false},
      {"dp(-0x800000000001)\n", "", {too_wide, note("-140737488355329 does not fit the 48-bit field of dp")}, false},
      {"emit.u8(-129)\n", "", {too_wide, note("-129 does not fit the 8-bit field of emit.u8")}, false},
      {"emit.u32(0xffffffff80000000 - 1)\n", "",
       {too_wide, note("-2147483649 does not fit the 32-bit field of emit.u32")}, false},
      {"db(-1, 256)\n", "", {too_wide, note("256 does not fit the 8-bit field of db")}, false},
  });
}

// Each stored byte of the first section with the line it came from, then
// each label's offset.
std::string storedShape(const frontend::module::Module& module, const std::vector<std::string_view>& labels) {
  std::string shape;
  for (const std::uint32_t index : module.sections()[0].fragments) {
    const auto* stored = module.fragments()[index].storedBytes();
    if (stored == nullptr) {
      shape += "| ";
      continue;
    }
    for (std::size_t offset = 0; offset < stored->size(); ++offset) {
      const frontend::SourceLocation location = module.locationAt(index, offset);
      shape += std::to_string(stored->view()[offset]) + "@" + std::to_string(location.span.start) +
               (location.expansion ? "/" + std::to_string(*location.expansion) : "") + " ";
    }
  }
  for (const std::string_view label : labels)
    shape += std::string(label) + "=" + std::to_string(module.findSymbol(label)->label()->offset) + " ";
  return shape;
}

TEST(DataDirectives, LinesJoinRunsKeepingBytesLinesAndLabels) {
  struct Row {
    const char* source;
    std::vector<std::string_view> labels;
    const char* shape;           // each byte at the start of its line, then the labels
    std::size_t fragments;       // with lines joining runs
    std::uint64_t instructions;  // held in runs; data lines never count
  };
  const std::vector<Row> rows = {
      {"db(1, \"ab\", 2)\ndw(3, 4)\n", {}, "1@0 97@0 98@0 2@0 3@15 0@15 4@15 0@15 ", 1, 0},
      {"nop\ndb(1)\nnop\nemit.u16(0x1234)\n", {}, "144@0 1@4 144@10 52@14 18@14 ", 1, 2},
      {"db(1)\nhere:\ndb(2)\nthere:\nnop\nwhere:\ndb(3)\n",
       {"here", "there", "where"},
       "1@0 2@12 144@25 3@36 here=1 there=2 where=3 ",
       1,
       1},
      {"db(1)\nalign(4)\ndb(2)\nrb(2)\ndb(3)\n", {}, "1@0 | 2@15 | 3@27 ", 5, 0},
      {"for i in range(0, 3) {\n  db(i)\n}\nemit.bytes(b\"\")\ndb(4)\n", {}, "0@25 1@25 2@25 4@49 ", 3, 0},
      {"macro m(v) {\n  db(operand.eval(v))\n}\ndb(1)\nm 2\nm 3\ndb(4)\n", {}, "1@37 2@15 3@15 4@51 ", 2, 0},
      {"db(1, 2, 3)\nnop\nstore.u16(1, 0x0909)\ndb(4)\n", {}, "1@0 9@0 9@0 144@12 4@37 ", 1, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    ASSERT_TRUE(lower_test::lower(module, row.source).status);
    EXPECT_EQ(storedShape(module, row.labels), row.shape);
    EXPECT_EQ(module.sections()[0].fragments.size(), row.fragments);
    EXPECT_EQ(module.coalescedInstructions(), row.instructions);
  }
}

TEST(ReserveDirectives, SpaceInMemoryFileOnlyWhenBytesFollow) {
  struct Row {
    const char* source;
    std::uint64_t memory;
    std::uint64_t file;
  };
  const std::vector<Row> rows = {
      {"rq(3)\n", 24, 0},
      {"rb(100)\ndb(1)\n", 101, 101},
      {"db(1)\nrd(2)\n", 9, 1},
      {"rt(1)\nrdq(1)\nrqq(1)\nrdqq(1)\nrw(1)\nrp(1)\n", 10 + 16 + 32 + 64 + 2 + 6, 0},
      {"reserve(5)\nemit.u8(0)\n", 6, 6},
      {"db(1)\nalign(8)\nrb(1)\n", 9, 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.source);
    frontend::module::Module module(frontend::target::Target::x86(64));
    ASSERT_TRUE(lower_test::lower(module, row.source).status);
    EXPECT_EQ(frontend::lower::layout_cursor::sectionCursor(module, 0), row.memory);
    EXPECT_EQ(frontend::lower::layout_cursor::sectionFileCursor(module, 0), row.file);
  }
  expectOutputCases({
      {"rb(0x2000000000000000)\n", "r2305843009213693952"},
      {"rq(0x2000000000000000)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: rq(2305843009213693952) reaches past the end of the 64-bit address range: the output "
        "stands at 0"},
       false},
      {"rb(\"x\")\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"rb(1, 2)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'rb' takes 1 argument, 2 given: rb(count)"},
       false},
  });
}

TEST(EmitCalls, IntegersFloatsBytesAndStructs) {
  expectOutputCases({
      {"emit.u8(0xff)\nemit.u16(0x1234)\nemit.u32(1)\n", "ff 34 12 01 00 00 00"},
      {"emit.u64(0xffffffffffffffff)\n", "ff ff ff ff ff ff ff ff"},
      {"emit.u16(0x10000)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 65536 does not fit the 16-bit field of emit.u16"},
       false},
      {"emit.u32(0x100000000)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 4294967296 does not fit the 32-bit field of emit.u32"},
       false},
      {"emit.u8(\"a\")\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"emit.f64(1.5)\n", "00 00 00 00 00 00 f8 3f"},
      {"emit.f32(f32(1.5))\n", "00 00 c0 3f"},
      {"emit.f32(1.5)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArgument",
        "main.qov:1:1: note: 1.5 is an f64; emit.f32 takes an f32: write f32(1.5)"},
       false},
      {"emit.f64(f32(1.5))\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArgument",
        "main.qov:1:1: note: f32(1.5) is an f32; emit.f64 takes an f64: write f64(f32(1.5))"},
       false},
      {"emit.f64(1)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArgument",
        "main.qov:1:1: note: 1 is an integer; emit.f64 takes an f64: write 1.0"},
       false},
      {"emit.bytes(bytes.from_hex(\"0102\"))\nemit.bytes(\"hi\")\n", "01 02 68 69"},
      {"emit.bytes(1)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      {"struct S {\n  a: u8\n  b: u32\n}\nemit.struct(S{ a: 1, b: 0x1234 })\n", "01 00 00 00 34 12 00 00"},
      {"struct S {\n  a: u8\n  b: u32\n}\nlet s = S{ a: 2, b: 3 }\nemit.struct(s)\n", "02 00 00 00 03 00 00 00"},
      {"emit.struct(1)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
  });
}

TEST(EmitCalls, FileWindows) {
  lower_test::Files files;
  files.texts["x.bin"] = std::string("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09", 10);
  expectOutputCases(
      {
          {"emit.file(\"x.bin\", 4, 2)\n", "04 05"},
          {"emit.file(\"x.bin\", 10, 0)\n", ""},
          {"emit.file(\"x.bin\")\n", "00 01 02 03 04 05 06 07 08 09"},
          {"emit.file(\"x.bin\", 4)\n",
           "",
           {"main.qov:1:1: error: lowering failed: InvalidApiArity",
            "main.qov:1:1: note: 'emit.file' takes 1 or 3 arguments, 2 given: emit.file(path) or emit.file(path, "
            "offset, length)"},
           false},
          {"emit.file(\"x.bin\", 9, 2)\n",
           "",
           {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
            "main.qov:1:1: note: the window of 2 bytes at offset 9 does not lie inside 'x.bin', which holds 10 bytes"},
           false},
          {"emit.file(\"x.bin\", 0xffffffffffffffff, 2)\n",
           "",
           {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
            "main.qov:1:1: note: the window of 2 bytes at offset 18446744073709551615 does not lie inside 'x.bin', "
            "which holds 10 bytes"},
           false},
          {"emit.file(\"nope.bin\")\n",
           "",
           {"main.qov:1:1: error: lowering failed: FileNotAvailable", "main.qov:1:1: note: 'nope.bin' cannot be read"},
           false},
          {"emit.file(1)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
          {"emit.file(\"x.bin\", \"4\", 2)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
      },
      files);
  files.available = false;
  expectOutputCases({{"emit.file(\"x.bin\")\n",
                      "",
                      {"main.qov:1:1: error: lowering failed: FileNotAvailable",
                       "main.qov:1:1: note: 'x.bin' cannot be read: file access is not available here"},
                      false}},
                    files);
}

TEST(PaddingCalls, CountsTargetsAndAlignments) {
  expectOutputCases({
      {"db(1)\nalign(4, 0x90)\ndb(2)\n", "01 a4/144 02"},
      {"align(8)\n", "a8/0"},
      {"align(3)\n", "", {"main.qov:1:1: error: lowering failed: InvalidAlignment"}, false},
      {"align(0)\n", "", {"main.qov:1:1: error: lowering failed: InvalidAlignment"}, false},
      {"align(4, 256)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 256 does not fit the 8-bit fill byte of align"},
       false},
      {"align()\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'align' takes 1 or 2 arguments, 0 given: align(alignment) or align(alignment, fill)"},
       false},
      {"pad(3, 0xcc)\n", "cc cc cc"},
      // Fill values take the range db takes.
      {"pad(2, -1)\ndb(1)\nalign(4, -128)\npad_to(5, -0x56)\n", "ff ff 01 a4/128 aa"},
      {"pad(1, -129)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: -129 does not fit the 8-bit fill byte of pad"},
       false},
      {"pad_to(1, 0x100)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiInteger",
        "main.qov:1:1: note: 256 does not fit the 8-bit fill byte of pad_to"},
       false},
      {"pad(0)\n", ""},
      {"pad(1, 2, 3)\n",
       "",
       {"main.qov:1:1: error: lowering failed: InvalidApiArity",
        "main.qov:1:1: note: 'pad' takes 1 or 2 arguments, 3 given: pad(count) or pad(count, fill)"},
       false},
      {"pad(0x100000000000)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiInteger"}, false},
      {"db(1, 2)\npad_to(4, 0xee)\n", "01 02 ee ee"},
      {"db(1, 2, 3, 4, 5, 6)\npad_to(6)\n", "01 02 03 04 05 06"},
      {"db(1, 2, 3, 4, 5, 6)\npad_to(4)\n",
       "",
       {"main.qov:2:1: error: lowering failed: InvalidApiInteger",
        "main.qov:2:1: note: pad_to(4) lies behind the output: the output stands at 6"},
       false},
      {"rb(4)\npad_to(6)\n", "r4 00 00"},
  });
}

// A section whose file offset leaves 16 bytes below the 2 GiB image cap.
TEST(ImageCap, RefusesBytesAsTheyAreAdded) {
  lower_test::Files files;
  files.texts["x.bin"] = "0123456789abcdefgh";
  const std::string near = "region.begin(\"far\", 0, 0x7ffffff0)\n";
  const auto refused = [](int line) {
    return std::vector<std::string>{"main.qov:" + std::to_string(line) + ":1: error: lowering failed: OutputTooLarge"};
  };
  const auto refusedWith = [&](int line, const std::string& note) {
    auto diagnostics = refused(line);
    diagnostics.push_back("main.qov:" + std::to_string(line) + ":1: note: " + note);
    return diagnostics;
  };
  const std::string cap = "the output holds at most 2147483648 bytes (2 GiB)";
  const std::string no_room = "the file is larger than the 16 bytes the output has room for at file offset 0x7ffffff0: " + cap;
  expectOutputCases(
      {
          {near + "pad(16, 1)\n", "01 01 01 01 01 01 01 01 01 01 01 01 01 01 01 01"},
          {near + "pad(16)\ndb(1)\n", "", refused(3), false},
          {near + "pad(17)\n", "", refused(2), false},
          {near + "pad_to(17)\n", "", refused(2), false},
          {near + "dq(1, 2, 3)\n", "", refused(2), false},
          {near + "emit.bytes(b\"0123456789abcdefg\")\n", "", refused(2), false},
          {near + "emit.file(\"x.bin\")\n", "", refusedWith(2, no_room), false},
          {near + "emit.file(\"x.bin\", 1, 17)\n", "", refusedWith(2, no_room), false},
          {near + "db(1)\nalign(32)\n", "", refused(3), false},
          {near + "reserve(16)\n", "r16"},
          {near + "reserve(16)\nemit.u8(0)\n", "", refused(3), false},
          {"region.begin(\"h\", 0, 0xffffffffffffffff)\nemit.u8(0)\n", "",
           refusedWith(2, "the output already reaches file offset 0xffffffffffffffff, past its end: " + cap +
                              ", and a reservation or a region's file offset before this line took it there"),
           false},
      },
      files);

  // The room left in the image bounds the read itself, so a file too large
  // is refused by its size; values read by builtins have their own bound.
  files.limits.clear();
  frontend::module::Module module(frontend::target::Target::x86(64));
  lower_test::lower(
      module, near + "db(1, 2)\nemit.file(\"x.bin\", 1, 2)\nlet t = fs.read_text(\"x.bin\")\nemit.file(\"x.bin\")\n",
      files);
  EXPECT_EQ(files.limits, (std::vector<std::uint64_t>{14, frontend::meta_std::kMaxResultBytes, 12}));
}

// Padding placed after instructions starts where their encodings end, also
// when output reads, labels and other padding come between them.
TEST(PaddingCalls, AfterInstructionsOfEveryKind) {
  lower_test::expectCases({
      {"nop\nalign(4, 0x90)\nlet p = here()\n", {}, {{"p", 4}}},
      {"top:\nnop\njmp later\nalign(8)\nlet p = here()\njmp top\nlater:\nmov eax, 1\nlet q = here()\n",
       {},
       {{"p", 8}, {"q", 18}}},
      {"nop\nmov eax, 1\nlet b = load.u8(1)\nalign(16, 0x90)\nlet p = here()\nnop\npad_to(20)\nlet q = here()\n",
       {},
       {{"b", 0xb8}, {"p", 16}, {"q", 20}}},
      {"mov eax, 1\npad(2)\nlet p = here()\nisa(\"nop\")\nalign(4)\nlet q = here()\n", {}, {{"p", 7}, {"q", 8}}},
      {"riscv.use64()\nc.nop\nbeq a0, a1, later\nalign(8)\nlet p = here()\nlater:\naddi a0, a0, 1\nlet q = here()\n",
       {},
       {{"p", 8}, {"q", 12}}},
  });
}

TEST(IsaCall, OneLineOfText) {
  lower_test::Files files;
  files.texts["lf.txt"] = "nop\nnop";
  files.texts["cr.txt"] = "nop\r";
  expectOutputCases(
      {
          {"isa(\"nop\")\n", "[90]"},
          {"isa(\"\")\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
          {"isa(fs.read_text(\"lf.txt\"))\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
          {"isa(fs.read_text(\"cr.txt\"))\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
          {"isa(1)\n", "", {"main.qov:1:1: error: lowering failed: InvalidApiArgument"}, false},
          {"region.file_align(4)\nisa(\"nop\")\n",
           "",
           {"main.qov:2:1: error: lowering failed: OutputRegionClosed"},
           false},
      },
      files);
}

// The cursor keeps its sums over fragments whose sizes are final; a line
// still waiting for its encoding is measured again once it has one.
TEST(LayoutCursor, KeptSumsStopAtSizesStillOpen) {
  namespace layout_cursor = frontend::lower::layout_cursor;
  frontend::module::Module module(frontend::target::Target::x86(64));
  frontend::lower::contracts::ActiveOutput cursor{0, 0, 0, module.target(), false};
  ASSERT_TRUE(module.emitBytes(0, std::vector<std::uint8_t>(3, 1), {}));
  ASSERT_TRUE(module.reserve(0, 5, {}));
  ASSERT_TRUE(layout_cursor::remeasureActiveOutput(module, cursor));
  EXPECT_EQ(cursor.offset, 8u);
  EXPECT_EQ(cursor.file_cursor, 3u);

  const std::uint32_t line = module.appendIsaInstruction(0, module.target(), "nop", {}).value();
  ASSERT_TRUE(module.addAlignment(0, 4, 0, {}));
  ASSERT_TRUE(module.emitBytes(0, std::vector<std::uint8_t>(2, 2), {}));
  ASSERT_TRUE(layout_cursor::remeasureActiveOutput(module, cursor));
  EXPECT_EQ(cursor.offset, 10u);
  EXPECT_EQ(cursor.file_cursor, 10u);

  auto& encoded = *module.fragments()[line].instruction();
  encoded.encoded = {0x90, 0x90, 0x90};
  encoded.settled = true;
  ASSERT_TRUE(module.reserve(0, 6, {}));
  ASSERT_TRUE(layout_cursor::remeasureActiveOutput(module, cursor));
  EXPECT_EQ(cursor.offset, 20u);
  EXPECT_EQ(cursor.file_cursor, 14u);
  module.sections()[0].alignment = 16;
  EXPECT_EQ(layout_cursor::sectionCursor(module, 0), 20u);
  EXPECT_EQ(layout_cursor::sectionFileCursor(module, 0), 16u);
}

}  // namespace
