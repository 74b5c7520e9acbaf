#pragma once
// Identities of source files: one text per file however its path was written,
// so that include cycles and repeated imports are recognised.

#include <string>
#include <string_view>

namespace frontend::source_path {

// Purely textual normalisation: "." and empty components vanish and ".."
// folds into its parent. Paths with a backslash or a drive letter (and not
// starting with "/") follow Windows rules and come out with backslashes; all
// others follow POSIX rules. Never touches the file system, keeps letter case
// (except a drive letter, which is upper-cased).
std::string normalizeIdentity(std::string_view path);

}  // namespace frontend::source_path
