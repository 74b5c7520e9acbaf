#pragma once
// What lowering and the command-line driver exchange: the include callbacks
// and their requests, the sources they return, and the write position that
// statement lowering carries through a source.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/syntax/source_location.hpp"
#include "frontend/module/target.hpp"

namespace frontend::lower::contracts {

// Lent to an include callback for the time of one call.
struct IncludeRequest {
  std::string_view name;                 // the path as the source wrote it
  std::optional<std::string_view> base;  // path of the requesting source as it was loaded
  SourceSpan span;                       // the requesting call; zero for file builtins
  std::uint8_t flags = 0;                // lowering sets none
};

// A source found by the resolve callback; lowering owns it.
struct IncludeSource {
  std::string path;                           // as found
  std::optional<std::string> canonical_path;  // the real path, when the resolver knows it
  std::string text;
};

// The callbacks carry the driver's own context (its include roots) with them.
using ResolveFileInclude = std::function<qovrin::Result<IncludeSource>(const IncludeRequest&)>;
// File entries of the named directory, sorted byte-wise.
using ListFileIncludeDirectory = std::function<qovrin::Result<std::vector<std::string>>(const IncludeRequest&)>;
using IsFileIncludeDirectory = std::function<qovrin::Result<bool>(const IncludeRequest&)>;
// The folders the resolve callback looks in for the request, in search
// order ("." for the working directory), for the note beside a file not found.
using IncludeFolders = std::function<std::vector<std::string>(const IncludeRequest&)>;

struct PathOptions {
  ResolveFileInclude resolve_file_include;
  ListFileIncludeDirectory list_file_include_directory;
  IsFileIncludeDirectory is_file_include_directory;
  IncludeFolders include_folders;
  bool files_available = false;
  // The root source's real path; absent: its path as given.
  std::optional<std::string_view> identity;
};

// The write position of statement lowering: where the next fragment goes and
// which instruction set is in force there.
struct ActiveOutput {
  std::uint64_t offset = 0;       // memory size of the section so far
  std::uint64_t file_cursor = 0;  // file size of the section so far
  std::uint32_t section = 0;
  target::Target target;
  bool closed = false;  // region.file_align closed the region
};

}  // namespace frontend::lower::contracts
