#pragma once
// Texts kept for a module's whole life, packed into large blocks: one
// allocation per block instead of one per text. A kept text never moves, also
// when the arena itself is moved.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace frontend::text_arena {

class TextArena {
 public:
  // A stable copy of text.
  std::string_view keep(std::string_view text);

  // Bytes held in blocks, used or not.
  std::size_t capacity() const noexcept { return capacity_; }

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;  // the unused tail of the newest block
  std::size_t free_size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace frontend::text_arena
