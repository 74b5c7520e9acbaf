#include "frontend/module/text_arena.hpp"

#include <algorithm>

namespace frontend::text_arena {

std::string_view TextArena::keep(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > free_size_) {
    // A text larger than a block gets a block of its own, and the tail of the
    // current block stays available for the texts after it.
    const bool own_block = text.size() > kBlockSize / 4;
    const std::size_t size = own_block ? text.size() : kBlockSize;
    if (blocks_.size() == blocks_.capacity()) blocks_.reserve(std::max<std::size_t>(8, 2 * blocks_.size()));
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    capacity_ += size;
    char* block = blocks_.back().get();
    if (own_block) {
      std::copy(text.begin(), text.end(), block);
      return {block, text.size()};
    }
    free_ = block;
    free_size_ = size;
  }
  char* start = free_;
  std::copy(text.begin(), text.end(), start);
  free_ += text.size();
  free_size_ -= text.size();
  return {start, text.size()};
}

}  // namespace frontend::text_arena
