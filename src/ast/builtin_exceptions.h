// The built-in exception classes, listed once for the compiler. Their order
// is their class-id order: the parser seeds them, in this order, at the head
// of every program's class list, and the runtime numbers the same classes the
// same way in its own table (a unit test holds the two together).
#pragma once

#include <array>
#include <string_view>

namespace kestal {

struct BuiltinExceptionClass {
    std::string_view name;
    // Empty for no base.
    std::string_view base;
};

inline constexpr std::array kBuiltinExceptionClasses = std::to_array<BuiltinExceptionClass>({
    {"BaseException", ""},
    {"SystemExit", "BaseException"},
    {"KeyboardInterrupt", "BaseException"},
    {"Exception", "BaseException"},
    {"ArithmeticError", "Exception"},
    {"ZeroDivisionError", "ArithmeticError"},
    {"OverflowError", "ArithmeticError"},
    {"AssertionError", "Exception"},
    {"AttributeError", "Exception"},
    {"EOFError", "Exception"},
    {"LookupError", "Exception"},
    {"IndexError", "LookupError"},
    {"KeyError", "LookupError"},
    {"NameError", "Exception"},
    {"OSError", "Exception"},
    {"FileNotFoundError", "OSError"},
    {"FileExistsError", "OSError"},
    {"PermissionError", "OSError"},
    {"IsADirectoryError", "OSError"},
    {"NotADirectoryError", "OSError"},
    {"UnsupportedOperation", "OSError"},
    {"RuntimeError", "Exception"},
    {"NotImplementedError", "RuntimeError"},
    {"RecursionError", "RuntimeError"},
    {"StopIteration", "Exception"},
    {"TypeError", "Exception"},
    {"ValueError", "Exception"},
});

// The class id of the first user class.
inline constexpr size_t kBuiltinExceptionCount = kBuiltinExceptionClasses.size();

} // namespace kestal
