#pragma once
// The file access the file builtins go through, and what it hands them.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.hpp"

namespace frontend::meta_io {

// The entry names of one directory, owned by whoever holds the listing.
using DirListing = std::vector<std::string>;

// The bytes from offset on, length of them.
struct FileWindow {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// File access for the file builtins. Each hook gets the path as written and
// the base path it is relative to.
struct MetaFileHooks {
  using Predicate = std::function<qovrin::Result<bool>(std::string_view name, std::string_view base)>;

  // The file's text, or only the window of it (InvalidApiInteger when the
  // window does not lie inside the file); OutputTooLarge when that is more
  // than `limit` bytes, told before the file is read.
  std::function<qovrin::Result<std::string>(std::string_view name, std::string_view base,
                                            std::optional<FileWindow> window, std::uint64_t limit)>
      read;
  Predicate exists;
  // Names of the directory's file entries, sorted byte-wise.
  std::function<qovrin::Result<DirListing>(std::string_view name, std::string_view base)> list;
  Predicate is_directory;
  bool available = false;
  std::string base_path;  // the file being lowered
};

}  // namespace frontend::meta_io
