#pragma once
// The storage behind list, map and byte-string values: one heap box that every
// copy of a value points at, with a count of them. A copy costs a count step;
// whoever writes asks for the box alone first and gets a private copy when
// others still share it. The count is a plain integer: values are made and
// dropped by one thread at a time, and handing one to another thread goes
// through a join that orders the two.

#include <cstddef>
#include <new>
#include <utility>

namespace frontend::value {

template <typename T>
class SharedStorage {
 public:
  SharedStorage() noexcept = default;
  explicit SharedStorage(T&& contents) : box_(new Box{1, std::move(contents)}) {}
  SharedStorage(const SharedStorage& other) noexcept : box_(other.box_) {
    if (box_ != nullptr) ++box_->count;
  }
  SharedStorage(SharedStorage&& other) noexcept : box_(std::exchange(other.box_, nullptr)) {}
  SharedStorage& operator=(const SharedStorage& other) noexcept {
    SharedStorage(other).swap(*this);
    return *this;
  }
  SharedStorage& operator=(SharedStorage&& other) noexcept {
    SharedStorage(std::move(other)).swap(*this);
    return *this;
  }
  ~SharedStorage() {
    if (box_ != nullptr && --box_->count == 0) delete box_;
  }

  void swap(SharedStorage& other) noexcept { std::swap(box_, other.box_); }

  // Null until something is stored.
  const T* get() const noexcept { return box_ != nullptr ? &box_->contents : nullptr; }
  bool shared() const noexcept { return box_ != nullptr && box_->count > 1; }
  bool sameAs(const SharedStorage& other) const noexcept { return box_ == other.box_; }

  // The contents for a write that every holder may see: only appends past
  // what any holder reads are such writes. The box must exist.
  T& appendable() noexcept { return box_->contents; }

  // The contents, this holder's alone, made by copy when shared (make_copy
  // builds the copy from the shared contents) or empty when absent.
  template <typename MakeCopy>
  T& own(MakeCopy make_copy) {
    if (box_ == nullptr) {
      box_ = new Box{1, T()};
    } else if (box_->count > 1) {
      SharedStorage copy(make_copy(std::as_const(box_->contents)));
      swap(copy);
    }
    return box_->contents;
  }

 private:
  struct Box {
    std::size_t count;
    T contents;
  };
  Box* box_ = nullptr;
};

}  // namespace frontend::value
