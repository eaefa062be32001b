// A heap box with value semantics, for the trees and the Types: a node kind
// holds a child of its own type through a Box. Copying deep-copies the boxed
// value, so a tree built from boxes copies like a plain value; two boxes are
// equal when their values are (for values that have ==). A box is never
// empty except after it has been moved from; copying an empty box gives an
// empty box, and an empty box may only be assigned to or destroyed.
#pragma once

#include <concepts>
#include <memory>
#include <utility>

namespace kestal {

template <class T> class Box {
  public:
    Box() : ptr_(std::make_unique<T>()) {}
    Box(T value) : ptr_(std::make_unique<T>(std::move(value))) {}
    Box(const Box &other) : ptr_(other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr) {}
    Box(Box &&other) noexcept = default;
    // Copies before replacing, so assigning a box from a part of its own
    // subtree is safe.
    Box &operator=(const Box &other) {
        std::unique_ptr<T> copy = other.ptr_ ? std::make_unique<T>(*other.ptr_) : nullptr;
        ptr_ = std::move(copy);
        return *this;
    }
    Box &operator=(Box &&other) noexcept = default;
    ~Box() = default;

    T &operator*() { return *ptr_; }
    const T &operator*() const { return *ptr_; }
    T *operator->() { return ptr_.get(); }
    const T *operator->() const { return ptr_.get(); }
    T *get() { return ptr_.get(); }
    const T *get() const { return ptr_.get(); }

    // Not constrained: a constraint on T would be checked while T's own
    // operator== is being declared, which clang refuses. The body is only
    // instantiated for boxes that are compared.
    friend bool operator==(const Box &a, const Box &b) { return *a.ptr_ == *b.ptr_; }

  private:
    std::unique_ptr<T> ptr_;
};

} // namespace kestal
