// The methods of the built-in values (builtin_methods.def) and the members
// of the built-in modules (module_members.def), listed once.
// Every question the compiler asks about a built-in method reads this
// table: which names a receiver Type has, how many arguments and which
// keywords each takes, what Type it gives, and the traits the side-effect
// test, the evaluation-order hoisting and the prange checker ask by name.
#pragma once

#include "codegen/builtins/builtin_functions.h"
#include "types/type.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestal {

enum class MethodReceiver : uint8_t { Str, List, Dict, Set, File };

// The rule that gives a call's result Type from the receiver's. Item is a
// list's or set's element, Value a dict's value; the lists are new lists.
enum class MethodResult : uint8_t {
    NoValue,
    Str,
    Bool,
    Int,
    StrList,
    StrTriple,
    Item,
    Value,
    OptionalValue,
    Receiver,
    KeyList,
    ValueList,
    ItemList,
};

enum BuiltinMethodTrait : uint8_t {
    // A call is free of side effects when the receiver and the arguments are.
    kMethodPure = 1 << 0,
    // A pure call that can't raise either.
    kMethodNeverRaises = 1 << 1,
    // Changes its receiver.
    kMethodChangesReceiver = 1 << 2,
    // Changes the length of a list receiver.
    kMethodChangesLength = 1 << 3,
    // The result is a new container holding the receiver's elements.
    kMethodKeepsElements = 1 << 4,
};

// The maximum of a method that takes any number of positional arguments.
inline constexpr uint8_t kAnyMethodArgCount = UINT8_MAX;

struct BuiltinMethod {
    MethodReceiver receiver;
    std::string_view name;
    // Inclusive range of positional argument counts.
    uint8_t min_args;
    uint8_t max_args;
    std::string_view params;
    // Space-separated, in slot order; empty for none.
    std::string_view keywords;
    MethodResult result;
    std::string_view runtime;
    uint8_t traits;

    constexpr bool has(BuiltinMethodTrait trait) const { return (traits & trait) != 0; }
    constexpr bool takes(size_t count) const { return count >= min_args && count <= max_args; }
    // The slot of keyword `name`, or -1 when the method takes no such keyword.
    constexpr int keyword_slot(std::string_view name) const {
        return kestal::keyword_slot(keywords, name);
    }
};

namespace builtin_method_detail {
inline constexpr uint8_t P = kMethodPure, R = kMethodNeverRaises, C = kMethodChangesReceiver,
                         L = kMethodChangesLength, K = kMethodKeepsElements, N = kAnyMethodArgCount;
} // namespace builtin_method_detail

inline constexpr std::array kBuiltinMethods = [] {
    using namespace builtin_method_detail;
    return std::to_array<BuiltinMethod>({
// clang-format off
#define KESTAL_METHOD(receiver, name, min, max, params, keywords, result, runtime, traits) \
    {MethodReceiver::receiver, #name, min, max, params, keywords, MethodResult::result, runtime, traits},
#define KESTAL_ATTRIBUTE(receiver, name, result, field)
// clang-format on
#include "codegen/builtins/builtin_methods.def"
#undef KESTAL_METHOD
#undef KESTAL_ATTRIBUTE
    });
}();

// An attribute of a built-in value, read without a call (`f.name`).
struct BuiltinAttribute {
    MethodReceiver receiver;
    std::string_view name;
    MethodResult result;
    // The C after the receiver's pointer.
    std::string_view field;
};

inline constexpr std::array kBuiltinAttributes = std::to_array<BuiltinAttribute>({
// clang-format off
#define KESTAL_METHOD(receiver, name, min, max, params, keywords, result, runtime, traits)
#define KESTAL_ATTRIBUTE(receiver, name, result, field) \
    {MethodReceiver::receiver, #name, MethodResult::result, field},
// clang-format on
#include "codegen/builtins/builtin_methods.def"
#undef KESTAL_METHOD
#undef KESTAL_ATTRIBUTE
});

constexpr const BuiltinAttribute *find_builtin_attribute(MethodReceiver receiver,
                                                         std::string_view name) {
    for (const BuiltinAttribute &a : kBuiltinAttributes)
        if (a.receiver == receiver && a.name == name)
            return &a;
    return nullptr;
}

// The receiver kind of a value of Type `t`, or none for a Type without
// built-in methods.
std::optional<MethodReceiver> method_receiver_of(const Type &t);

// The result Type by `rule` on a receiver of Type `receiver`.
Type method_result_type(MethodResult rule, const Type &receiver);

// "def split(sep=None, maxsplit=-1) -> list[str]" on a receiver of Type
// `receiver`: the hover text of a method.
std::string builtin_method_signature(const BuiltinMethod &method, const Type &receiver);

// The row of `name` on `receiver`, or null when that Type has no such method.
constexpr const BuiltinMethod *find_builtin_method(MethodReceiver receiver, std::string_view name) {
    for (const BuiltinMethod &m : kBuiltinMethods)
        if (m.receiver == receiver && m.name == name)
            return &m;
    return nullptr;
}

// Whether some built-in Type has a method `name`.
constexpr bool is_builtin_method_name(std::string_view name) {
    for (const BuiltinMethod &m : kBuiltinMethods)
        if (m.name == name)
            return true;
    return false;
}

// Whether every row named `name` has the trait (and there is one): the
// questions of purity, asked where the receiver's Type is not known.
constexpr bool every_method_named_has(std::string_view name, BuiltinMethodTrait trait) {
    bool any = false;
    for (const BuiltinMethod &m : kBuiltinMethods) {
        if (m.name != name)
            continue;
        if (!m.has(trait))
            return false;
        any = true;
    }
    return any;
}

// Whether some row named `name` has the trait: the question of changes,
// asked where the receiver's Type is not known.
constexpr bool some_method_named_has(std::string_view name, BuiltinMethodTrait trait) {
    for (const BuiltinMethod &m : kBuiltinMethods)
        if (m.name == name && m.has(trait))
            return true;
    return false;
}

// Free of side effects when the receiver and the arguments are. A class
// that defines a method of the same name takes the name out of this set for
// the whole program; the side-effect test checks that itself.
constexpr bool is_pure_method(std::string_view name) {
    return every_method_named_has(name, kMethodPure);
}

enum class ModuleMemberKind : uint8_t { Function, Constant };

struct ModuleMember {
    std::string_view module;
    std::string_view name;
    ModuleMemberKind kind;
    // A function's inclusive range of positional argument counts.
    uint8_t min_args;
    uint8_t max_args;
    std::string_view params;
    std::string_view result;
};

inline constexpr std::array kModuleMembers = [] {
    using namespace builtin_method_detail;
    return std::to_array<ModuleMember>({
// clang-format off
#define KESTAL_MODULE_MEMBER(module, name, kind, min, max, params, result) \
    {module, #name, ModuleMemberKind::kind, min, max, params, result},
// clang-format on
#include "codegen/builtins/module_members.def"
#undef KESTAL_MODULE_MEMBER
    });
}();

// The row of `module.name`, or null for a name the module lacks (the math
// functions of the built-in function table have no row here).
constexpr const ModuleMember *find_module_member(std::string_view module, std::string_view name) {
    for (const ModuleMember &m : kModuleMembers)
        if (m.module == module && m.name == name)
            return &m;
    return nullptr;
}

} // namespace kestal
