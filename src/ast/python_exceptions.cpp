#include "ast/python_exceptions.h"

#include "ast/builtin_exceptions.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <vector>

namespace kestal {

bool is_missing_python_exception(std::string_view name) {
    auto named = [&](const BuiltinExceptionClass &c) { return c.name == name; };
    return std::find(kPythonExceptionClasses.begin(), kPythonExceptionClasses.end(), name) !=
               kPythonExceptionClasses.end() &&
           std::none_of(kBuiltinExceptionClasses.begin(), kBuiltinExceptionClasses.end(), named);
}

std::optional<std::string> missing_python_exception_message(std::string_view name) {
    if (!is_missing_python_exception(name))
        return std::nullopt;
    std::vector<std::string_view> builtin;
    for (const BuiltinExceptionClass &c : kBuiltinExceptionClasses)
        builtin.push_back(c.name);
    return fmt::format("Python's exception class '{}' isn't available in Kestal (built in: {}); "
                       "use one of those or a class of your own derived from Exception",
                       name, fmt::join(builtin, ", "));
}

} // namespace kestal
