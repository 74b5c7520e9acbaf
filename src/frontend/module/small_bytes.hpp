#pragma once
// A byte string that keeps up to 15 bytes inside itself and only larger
// contents on the heap. Instruction encodings and most data directives fit
// inline, so a module of a million fragments makes no allocation per
// fragment for its bytes. Header-only: the encoders that read fragments link
// no frontend code.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <new>
#include <span>
#include <utility>

namespace frontend::fragment {

class SmallBytes {
 public:
  static constexpr std::size_t kInlineCapacity = 15;

  SmallBytes() noexcept = default;
  SmallBytes(std::span<const std::uint8_t> bytes) { construct(bytes); }  // NOLINT: a view converts implicitly
  SmallBytes(std::initializer_list<std::uint8_t> bytes) { construct({bytes.begin(), bytes.size()}); }
  // count copies of value.
  SmallBytes(std::size_t count, std::uint8_t value);

  SmallBytes(const SmallBytes& other) { construct(other.view()); }
  SmallBytes(SmallBytes&& other) noexcept;
  SmallBytes& operator=(const SmallBytes& other);
  SmallBytes& operator=(SmallBytes&& other) noexcept;
  SmallBytes& operator=(std::initializer_list<std::uint8_t> bytes) { return assign({bytes.begin(), bytes.size()}); }
  ~SmallBytes() { release(); }

  // Replaces the content; the old content stays if the allocation fails.
  SmallBytes& assign(std::span<const std::uint8_t> bytes);
  // Adds bytes at the end. Blocks grown this way double, so that a string
  // built by many small appends copies each byte only a few times.
  SmallBytes& append(std::span<const std::uint8_t> bytes);
  // Adds other's bytes at the end. Inline content goes over as its whole
  // block when the heap block has room for that: a copy of fixed size needs
  // no call of memmove, and runs grow by a few bytes per instruction.
  SmallBytes& append(const SmallBytes& other);
  // Replaces the content with the first size bytes of room, which must hold
  // at least 16 bytes: content that fits inline goes over as one fixed block.
  SmallBytes& assignPrefix(std::span<const std::uint8_t> room, std::size_t size);
  // Gives back what appends left unused once nothing more will be appended;
  // without memory for the exact block the bytes stay where they are.
  void shrinkToFit() noexcept;

  std::size_t size() const noexcept { return onHeap() ? heapSize() : inline_size(); }
  bool empty() const noexcept { return size() == 0; }
  std::uint8_t* data() noexcept { return onHeap() ? heapData() : storage_; }
  const std::uint8_t* data() const noexcept { return onHeap() ? heapData() : storage_; }
  std::uint8_t* begin() noexcept { return data(); }
  std::uint8_t* end() noexcept { return data() + size(); }
  const std::uint8_t* begin() const noexcept { return data(); }
  const std::uint8_t* end() const noexcept { return data() + size(); }
  std::uint8_t& operator[](std::size_t index) noexcept { return data()[index]; }
  std::uint8_t operator[](std::size_t index) const noexcept { return data()[index]; }

  std::span<const std::uint8_t> view() const noexcept { return {data(), size()}; }
  std::span<std::uint8_t> view() noexcept { return {data(), size()}; }

  friend bool operator==(const SmallBytes& left, std::span<const std::uint8_t> right) noexcept;
  friend bool operator==(const SmallBytes& left, const SmallBytes& right) noexcept {
    return left == right.view();
  }

 private:
  // The last byte holds the inline length, or a heap tag when the bytes live
  // on the heap; then the first eight bytes hold the pointer and the next
  // seven the length. kHeapTag marks a block exactly as long as its content,
  // kGrownTag plus k a block of 2^k bytes that append may fill further.
  static constexpr std::uint8_t kHeapTag = 0xFF;
  static constexpr std::uint8_t kGrownTag = 0x80;
  static constexpr std::uint64_t kMaxHeapSize = (std::uint64_t{1} << 56) - 1;

  bool onHeap() const noexcept { return storage_[kInlineCapacity] > kInlineCapacity; }
  std::size_t heapCapacity() const noexcept {
    const std::uint8_t tag = storage_[kInlineCapacity];
    return tag == kHeapTag ? heapSize() : std::size_t{1} << (tag - kGrownTag);
  }
  void setHeapSize(std::size_t size) noexcept;
  std::uint8_t& inline_size() noexcept { return storage_[kInlineCapacity]; }
  std::uint8_t inline_size() const noexcept { return storage_[kInlineCapacity]; }
  std::uint8_t* heapData() const noexcept;
  // The last eight bytes as one little-endian word: the heap length in the
  // low seven bytes, the tag in the top one. Appends to long runs read the
  // length on every call, so it is read at once rather than byte by byte
  // (x86_throughput.py shows it; no figure was recorded).
  std::uint64_t tailWord() const noexcept;
  void setTailWord(std::uint64_t word) noexcept;
  std::size_t heapSize() const noexcept;

  void construct(std::span<const std::uint8_t> bytes);
  // Takes over a heap block of size bytes; the current content must be gone.
  void adoptHeap(std::uint8_t* block, std::size_t size, std::uint8_t tag = kHeapTag) noexcept;
  void release() noexcept;

  // Every byte starts defined, the room past inline content too: moves copy
  // the whole block, and a pointer read must never meet indeterminate bytes.
  alignas(8) std::uint8_t storage_[kInlineCapacity + 1]{};
};

static_assert(sizeof(SmallBytes) == 16);

inline SmallBytes::SmallBytes(std::size_t count, std::uint8_t value) {
  if (count <= kInlineCapacity) {
    std::fill_n(storage_, count, value);
    inline_size() = static_cast<std::uint8_t>(count);
    return;
  }
  if (count > kMaxHeapSize) throw std::bad_alloc();
  std::uint8_t* block = static_cast<std::uint8_t*>(::operator new(count));
  std::fill_n(block, count, value);
  adoptHeap(block, count);
}

inline SmallBytes::SmallBytes(SmallBytes&& other) noexcept {
  std::memcpy(storage_, other.storage_, sizeof storage_);
  other.inline_size() = 0;
}

inline SmallBytes& SmallBytes::operator=(const SmallBytes& other) {
  if (this != &other) assign(other.view());
  return *this;
}

inline SmallBytes& SmallBytes::operator=(SmallBytes&& other) noexcept {
  if (this != &other) {
    release();
    std::memcpy(storage_, other.storage_, sizeof storage_);
    other.inline_size() = 0;
  }
  return *this;
}

inline SmallBytes& SmallBytes::assign(std::span<const std::uint8_t> bytes) {
  // Built aside first: the source may alias the current content, and a
  // failed allocation must leave the content as it was.
  SmallBytes replacement(bytes);
  *this = std::move(replacement);
  return *this;
}

inline SmallBytes& SmallBytes::append(std::span<const std::uint8_t> bytes) {
  const std::size_t old_size = size();
  if (bytes.size() > kMaxHeapSize - old_size) throw std::bad_alloc();
  const std::size_t new_size = old_size + bytes.size();
  if (!onHeap() && new_size <= kInlineCapacity) {
    std::copy(bytes.begin(), bytes.end(), storage_ + old_size);
    inline_size() = static_cast<std::uint8_t>(new_size);
    return *this;
  }
  if (onHeap() && new_size <= heapCapacity()) {
    // A run of one-byte data lines grows a byte at a time; stored directly,
    // that byte saves a call of memmove on each of 1M `db(1)` lines
    // (bench/data_throughput.py).
    if (bytes.size() == 1)
      heapData()[old_size] = bytes.front();
    else
      std::copy(bytes.begin(), bytes.end(), heapData() + old_size);
    setHeapSize(new_size);
    return *this;
  }
  const std::size_t capacity = std::bit_ceil(std::max<std::size_t>(new_size, 2 * (kInlineCapacity + 1)));
  std::uint8_t* block = static_cast<std::uint8_t*>(::operator new(capacity));
  std::copy_n(data(), old_size, block);
  std::copy(bytes.begin(), bytes.end(), block + old_size);
  release();
  adoptHeap(block, new_size, static_cast<std::uint8_t>(kGrownTag + std::countr_zero(capacity)));
  return *this;
}

inline SmallBytes& SmallBytes::append(const SmallBytes& other) {
  if (!other.onHeap() && onHeap()) {
    const std::size_t old_size = heapSize();
    if (heapCapacity() - old_size >= sizeof other.storage_) {
      std::memcpy(heapData() + old_size, other.storage_, sizeof other.storage_);
      setHeapSize(old_size + other.inline_size());
      return *this;
    }
  }
  return append(other.view());
}

inline SmallBytes& SmallBytes::assignPrefix(std::span<const std::uint8_t> room, std::size_t size) {
  if (size > kInlineCapacity || room.size() < sizeof storage_) return assign(room.first(size));
  release();
  std::memcpy(storage_, room.data(), sizeof storage_);
  inline_size() = static_cast<std::uint8_t>(size);
  return *this;
}

inline bool operator==(const SmallBytes& left, std::span<const std::uint8_t> right) noexcept {
  return left.size() == right.size() && std::equal(right.begin(), right.end(), left.begin());
}

inline std::uint8_t* SmallBytes::heapData() const noexcept {
  std::uint8_t* block = nullptr;
  std::memcpy(&block, storage_, sizeof block);
  return block;
}

inline std::uint64_t SmallBytes::tailWord() const noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, storage_ + 8, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  return word;
}

inline void SmallBytes::setTailWord(std::uint64_t word) noexcept {
  if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
  std::memcpy(storage_ + 8, &word, sizeof word);
}

inline std::size_t SmallBytes::heapSize() const noexcept { return static_cast<std::size_t>(tailWord() & kMaxHeapSize); }

inline void SmallBytes::construct(std::span<const std::uint8_t> bytes) {
  if (bytes.size() <= kInlineCapacity) {
    std::copy(bytes.begin(), bytes.end(), storage_);
    inline_size() = static_cast<std::uint8_t>(bytes.size());
    return;
  }
  if (bytes.size() > kMaxHeapSize) throw std::bad_alloc();
  std::uint8_t* block = static_cast<std::uint8_t*>(::operator new(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), block);
  adoptHeap(block, bytes.size());
}

inline void SmallBytes::setHeapSize(std::size_t size) noexcept {
  setTailWord((tailWord() & ~kMaxHeapSize) | (static_cast<std::uint64_t>(size) & kMaxHeapSize));
}

inline void SmallBytes::adoptHeap(std::uint8_t* block, std::size_t size, std::uint8_t tag) noexcept {
  std::memcpy(storage_, &block, sizeof block);
  setTailWord((std::uint64_t{tag} << 56) | (static_cast<std::uint64_t>(size) & kMaxHeapSize));
}

inline void SmallBytes::shrinkToFit() noexcept {
  if (!onHeap() || storage_[kInlineCapacity] == kHeapTag) return;
  const std::size_t size = heapSize();
  if (size == heapCapacity()) return;
  if (size <= kInlineCapacity) {
    std::uint8_t* block = heapData();
    std::copy_n(block, size, storage_);
    ::operator delete(block);
    inline_size() = static_cast<std::uint8_t>(size);
    return;
  }
  auto* block = static_cast<std::uint8_t*>(::operator new(size, std::nothrow));
  if (block == nullptr) return;
  std::copy_n(heapData(), size, block);
  release();
  adoptHeap(block, size);
}

inline void SmallBytes::release() noexcept {
  if (onHeap()) ::operator delete(heapData());
  inline_size() = 0;
}

}  // namespace frontend::fragment
