#pragma once
// What lowering and the command-line driver exchange to reach files: the
// include callbacks and their requests, the sources they return, and the
// root source's identity.

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"
#include "frontend/meta_std/meta_io.hpp"
#include "frontend/syntax/source_location.hpp"

namespace frontend::lower::contracts {

// Lent to an include callback for the time of one call.
struct IncludeRequest {
  std::string_view name;                 // the path as the source wrote it
  std::optional<std::string_view> base;  // path of the requesting source as it was loaded
  SourceSpan span;                       // the requesting call; zero for file builtins
  std::uint8_t flags = 0;                // lowering sets none
  // Read only this window of the file found; the resolver fails with
  // InvalidApiInteger when it does not lie inside the file.
  std::optional<meta_io::FileWindow> window;
  bool contents = true;  // false: only find the file, read none of it
  // The most bytes the caller can hold; the resolver fails with
  // OutputTooLarge past it, judging by the file's size before reading.
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
};

// A file found by the resolve callback, with what the request asked to read
// of it; lowering owns it.
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

// Why a file that the resolve callback turned away could not be read, when
// something of that name is there ("<path> is not a regular file but a FIFO").
using UnreadableInclude = std::function<std::optional<std::string>(const IncludeRequest&)>;

struct PathOptions {
  ResolveFileInclude resolve_file_include;
  ListFileIncludeDirectory list_file_include_directory;
  IsFileIncludeDirectory is_file_include_directory;
  IncludeFolders include_folders;
  UnreadableInclude unreadable_include;
  bool files_available = false;
  // The root source's real path; absent: its path as given.
  std::optional<std::string_view> identity;
  // Copies instead of the shortcuts that keep them cheap: a macro operand's
  // environment holds a copy of every module value, and a let parameter a
  // copy of its argument. Only tests set it, to check the shortcuts against
  // the copies they stand for.
  bool copies_every_value = false;
};

}  // namespace frontend::lower::contracts
