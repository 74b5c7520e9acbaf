#pragma once
// How `include`, `import` and the file builtins find files: an absolute name
// as written; otherwise beside the including file, then in "include" under
// the working directory, then in "include" beside the executable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "main/platform_input.hpp"

namespace qovrin::main {

// Shared by every lookup of one run; built once before lowering starts.
struct IncludeRoots {
  std::string workingDir;
  std::optional<std::string> exeIncludeDir;
};

struct ResolvedInclude {
  std::string path;      // the candidate under which the file was read
  std::string realPath;  // that file's real path
  std::string text;
};

// OutOfMemory-free form of the roots: the working directory and the
// "include" folder beside the executable when it can be found. Nothing when
// the working directory cannot be read.
std::optional<IncludeRoots> buildIncludeRoots();

bool isAbsoluteIncludeName(std::string_view name) noexcept;

// Concatenates with one '/' between non-empty parts.
std::string joinPath(std::string_view head, std::string_view tail);

// The candidate beside the including file `base`.
std::string resolveIncludePath(std::string_view base, std::string_view name);

// The folders a relative name is looked for in, in search order (the one
// beside `base` is empty when `base` has no folder); none for an absolute name.
std::vector<std::string> includeFolders(const IncludeRoots& roots, std::string_view name,
                                        std::optional<std::string_view> base);

// IncludeNotAvailable when no place has a readable regular file of that
// name. The text holds what `read` asks for: the whole file, a window of it
// (InvalidApiInteger when the window does not lie inside the file found), or
// nothing; OutputTooLarge when that is more than its limit.
Result<ResolvedInclude> resolveFileInclude(const IncludeRoots& roots, std::string_view name,
                                           std::optional<std::string_view> base,
                                           const platform::InputRead& read = {});

// Why the first place that holds something of that name could not be read,
// as "<path> is not a regular file but a folder" or "<path>: <cause>"; when
// no place holds anything of that name but the working directory holds a
// folder of it, that; nothing otherwise.
std::optional<std::string> unreadableInclude(const IncludeRoots& roots, std::string_view name,
                                             std::optional<std::string_view> base);

// Entry names of the first directory found, sorted byte-wise;
// IncludeNotAvailable when there is none.
Result<std::vector<std::string>> listFileIncludeDirectory(const IncludeRoots& roots, std::string_view name,
                                                          std::optional<std::string_view> base);

bool isFileIncludeDirectory(const IncludeRoots& roots, std::string_view name, std::optional<std::string_view> base);

// The source's real path, or nothing when it cannot be resolved (the caller
// then uses the path as given).
std::optional<std::string> canonicalFileIdentity(const std::string& path);

}  // namespace qovrin::main
