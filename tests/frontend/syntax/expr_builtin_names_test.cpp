#include "frontend/syntax/expr_builtin_names.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using frontend::expr::EvaluatorBuiltinKind;
using frontend::expr::isBuiltinName;
using frontend::expr::kEvaluatorBuiltins;

// The names of one kind, in table order, separated by blanks.
std::string namesOf(EvaluatorBuiltinKind kind) {
  std::string names;
  for (const auto& builtin : kEvaluatorBuiltins) {
    if (builtin.kind != kind) continue;
    if (!names.empty()) names += ' ';
    names += builtin.name;
  }
  return names;
}

TEST(EvaluatorBuiltins, KindsInDispatchOrder) {
  EXPECT_EQ(namesOf(EvaluatorBuiltinKind::operand), "operand.text operand.slice operand.eval operand.split");
  EXPECT_EQ(namesOf(EvaluatorBuiltinKind::assembler),
            "f32 f64 sizeof lengthof pack offset_of here region_base file_offset file_cursor_real "
            "file_cursor_potential tail_reserve_size region_file_offset region_file_size region_logical_size "
            "label_addr sym.unique");
  EXPECT_EQ(namesOf(EvaluatorBuiltinKind::output_load), "load.bytes load.u8 load.u16 load.u32 load.u64");
  // Operand builtins dispatch first, the loads last.
  EXPECT_EQ(kEvaluatorBuiltins.front().name, "operand.text");
  EXPECT_EQ(kEvaluatorBuiltins.back().name, "load.u64");
  EXPECT_EQ(kEvaluatorBuiltins[4].name, "f32");
}

TEST(EvaluatorBuiltins, EveryTableCountsAndNearMissesDoNot) {
  for (const char* name : {"operand.split", "sizeof", "sym.unique", "load.bytes", "len", "sym.join", "deflate.decompress",
                           "fs.exists", "json.file"}) {
    EXPECT_TRUE(isBuiltinName(name)) << name;
  }
  for (const char* name : {"", "load", "load.", "load.u128", "Load.u8", "load.u8 ", "operand", "operand.texts", "sym",
                           "sym.unique2", "fs", "json.files", "my_function", "SIZEOF"}) {
    EXPECT_FALSE(isBuiltinName(name)) << name;
  }
}

}  // namespace
