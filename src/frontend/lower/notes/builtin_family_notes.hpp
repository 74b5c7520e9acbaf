#pragma once
// The members of a builtin family (bytes.*, list.*, map.*, load.*, fs.*, ...),
// told beside a dotted name that none of them has.

#include <span>
#include <string>
#include <string_view>

namespace frontend::lower::builtin_family_notes {

// "; the bytes builtins are bytes.new, bytes.push, ..." for a dotted name
// whose first part names a family, empty for any other name.
std::string familyMembers(std::string_view dotted_name);

// "; the emit calls are emit.bytes, emit.f32, ..." for a dotted name whose
// first part names a family of the statement calls `calls`, else the value
// builtins' family as familyMembers tells it.
std::string callFamilyMembers(std::string_view dotted_name, std::span<const std::string_view> calls);

}  // namespace frontend::lower::builtin_family_notes
