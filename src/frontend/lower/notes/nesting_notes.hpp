#pragma once
// Notes that name the nesting limit a failed statement or instruction ran
// into, so that NestingTooDeep always says which limit stood in the way.

#include <string_view>

namespace frontend::lower::nesting_notes {

inline constexpr std::string_view kExpressionNesting =
    "an expression nests parentheses, calls and unary operators 130 to 400 levels deep (as they mix) and field "
    "accesses 1,000; a chain of operators such as 1 + 1 + ... + 1 is one level however long";
inline constexpr std::string_view kBlockNesting = "blocks nest at most 1,000 deep";
inline constexpr std::string_view kValueNesting = "lists, maps and structs nest at most 1,024 levels deep";
inline constexpr std::string_view kCallDepth = "functions and macros nest at most 128 calls deep";
// Every invocation captures the module's values, so operands kept in one of
// them nest one capture deeper at each invocation that keeps another.
inline constexpr std::string_view kCaptureDepth =
    "operands nest at most 128 captures deep: an invocation captures every module value, operands kept in one "
    "(such as OPS = list.push(OPS, a)) included, so each invocation that keeps one nests a level deeper; keep "
    "operand.text(a) or operand.eval(a) instead";

}  // namespace frontend::lower::nesting_notes
