// Results of the platform layer. Every operation that can fail in normal use
// (a missing file, a program that cannot be started) returns a Result: either
// its value or an OsError whose text is ready to put into a message. Nothing
// here throws for such failures; exceptions stay for faults of the program.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace kestal::platform {

// A failure as the user sees it. `text` is "{system wording} (os error {errno})"
// for an operating-system error, or a plain sentence for a failure found by
// this layer itself (then `code` is 0).
struct OsError {
    std::string text;
    int code = 0;
};

// The error for an errno value: "No such file or directory (os error 2)".
OsError os_error(int errnum);

// The error for the current value of errno.
OsError last_os_error();

template <class T> class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(OsError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() {
        assert(ok() && "value() of a failed Result");
        return std::get<0>(state_);
    }
    const T &value() const {
        assert(ok() && "value() of a failed Result");
        return std::get<0>(state_);
    }
    T &operator*() { return value(); }
    const T &operator*() const { return value(); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }

    const OsError &error() const {
        assert(!ok() && "error() of a successful Result");
        return std::get<1>(state_);
    }

  private:
    std::variant<T, OsError> state_;
};

// The result of an operation that yields nothing but may fail.
template <> class [[nodiscard]] Result<void> {
  public:
    Result() = default;
    Result(OsError error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }

    const OsError &error() const {
        assert(!ok() && "error() of a successful Result");
        return *error_;
    }

  private:
    std::optional<OsError> error_;
};

} // namespace kestal::platform
