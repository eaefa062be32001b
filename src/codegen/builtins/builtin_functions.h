// The built-in functions, listed once. Every question the compiler asks about
// a built-in name reads this table: which dispatch step compiles a call, how
// many positional arguments it takes, whether the name is usable as a value,
// whether it exists only as an iteration source, and whether a call of it is
// free of side effects when its arguments are.
//
// The table also holds a few names that are not compiled as built-ins here
// (`isinstance`, `type` and the like have their own lowerings or none at all)
// because the side-effect test knows them as pure.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestal {

enum BuiltinTrait : uint8_t {
    // A call is free of side effects when its arguments are.
    kBuiltinPure = 1 << 0,
    // Usable as a function value (`f = len`).
    kBuiltinValue = 1 << 1,
    // Exists only where it is iterated (a for loop, a comprehension, a consumer).
    kBuiltinIterationOnly = 1 << 2,
    // Compiled after all its arguments are: the numeric and conversion
    // built-ins, `range`, `input`, `exit`, and `min`/`max` of several values.
    kBuiltinCompiledArgs = 1 << 3,
    // A C library function of doubles, shared with the math module.
    kBuiltinMath = 1 << 4,
    // A pure call that can't raise either (asked only of a pure built-in;
    // any other pure one may raise: a bad literal for int(), an empty max()).
    kBuiltinNeverRaises = 1 << 5,
    // The result is a new container holding its argument's elements.
    kBuiltinKeepsElements = 1 << 6,
};

// The maximum of a built-in that takes any number of positional arguments.
inline constexpr uint8_t kAnyArgCount = UINT8_MAX;

// The slot of keyword `name` in `keywords` (names separated by one space,
// in slot order), or -1 when it is not there.
constexpr int keyword_slot(std::string_view keywords, std::string_view name) {
    int slot = 0;
    for (size_t at = 0; at < keywords.size(); ++slot) {
        size_t end = keywords.find(' ', at);
        if (end == std::string_view::npos)
            end = keywords.size();
        if (keywords.substr(at, end - at) == name)
            return slot;
        at = end + 1;
    }
    return -1;
}

struct BuiltinFunction {
    std::string_view name;
    // Inclusive range of positional argument counts.
    uint8_t min_args;
    uint8_t max_args;
    uint8_t traits;
    // The keywords a built-in of few keywords takes, space-separated (print,
    // open and the iteration-only built-ins read theirs in their lowerings).
    std::string_view keywords = {};

    constexpr bool has(BuiltinTrait trait) const { return (traits & trait) != 0; }
    constexpr bool takes_keyword(std::string_view keyword) const {
        return keyword_slot(keywords, keyword) >= 0;
    }
};

namespace builtin_table_detail {
inline constexpr uint8_t P = kBuiltinPure, V = kBuiltinValue, I = kBuiltinIterationOnly,
                         C = kBuiltinCompiledArgs, M = kBuiltinMath, R = kBuiltinNeverRaises,
                         K = kBuiltinKeepsElements, N = kAnyArgCount;
} // namespace builtin_table_detail

// The order is that of the built-in function reference; it carries no meaning.
inline constexpr std::array kBuiltinFunctions = [] {
    using namespace builtin_table_detail;
    return std::to_array<BuiltinFunction>({
        {"print", 0, N, V},
        {"len", 1, 1, P | V | C | R},
        {"str", 0, 1, P | V | C | R},
        {"repr", 1, 1, P | V | C | R},
        {"int", 1, 1, P | V | C},
        {"float", 1, 1, P | V | C},
        {"bool", 1, 1, P | V | C | R},
        {"abs", 1, 1, P | V | C},
        {"round", 1, 2, P | V | C},
        {"ceil", 1, 1, C},
        {"floor", 1, 1, C},
        {"ord", 1, 1, P | V | C},
        {"chr", 1, 1, P | V | C},
        {"input", 0, 1, C},
        {"exit", 0, 1, C},
        {"range", 1, 3, P | C},
        {"open", 0, 2, 0},
        {"sin", 1, 1, M},
        {"cos", 1, 1, M},
        {"tan", 1, 1, M},
        {"exp", 1, 1, M},
        // log(x, base) is log(x) / log(base).
        {"log", 1, 2, M},
        {"sqrt", 1, 1, M},
        {"asin", 1, 1, M},
        {"acos", 1, 1, M},
        {"atan", 1, 1, M},
        {"log2", 1, 1, M},
        {"fabs", 1, 1, M},
        {"sinh", 1, 1, M},
        {"cosh", 1, 1, M},
        {"tanh", 1, 1, M},
        {"log10", 1, 1, M},
        {"pow", 2, 2, P | M},
        {"fmod", 2, 2, M},
        {"atan2", 2, 2, M},
        {"hypot", 2, 2, M},
        {"list", 1, 1, P | V | K},
        {"dict", 0, 1, P | K},
        {"set", 0, 1, P | K},
        {"sorted", 1, 1, P | V | K, "key reverse"},
        {"any", 1, 1, P | R},
        {"all", 1, 1, P | R},
        {"sum", 1, 2, P | V},
        // One iterable, or two or more values; `default` only after one
        // iterable.
        {"min", 1, N, P | V | C, "key default"},
        {"max", 1, N, P | V | C, "key default"},
        {"zip", 0, N, P | I | K},
        {"map", 0, N, I},
        {"filter", 0, N, I | K},
        {"reversed", 0, N, P | I | K},
        {"enumerate", 0, N, P | I | K},
        // Known to the side-effect test only.
        {"isinstance", 0, N, P | R},
        {"hex", 0, N, P | R},
        {"oct", 0, N, P | R},
        {"bin", 0, N, P | R},
        {"divmod", 0, N, P},
        {"tuple", 0, N, P | K},
        {"type", 0, N, P | R},
        {"hash", 0, N, P},
        {"id", 0, N, P | R},
    });
}();

// The table row of a built-in name, or null for any other name.
constexpr const BuiltinFunction *find_builtin(std::string_view name) {
    for (const BuiltinFunction &b : kBuiltinFunctions)
        if (b.name == name)
            return &b;
    return nullptr;
}

// Whether `name` is a built-in with the trait.
constexpr bool builtin_has(std::string_view name, BuiltinTrait trait) {
    const BuiltinFunction *b = find_builtin(name);
    return b && b->has(trait);
}

} // namespace kestal
