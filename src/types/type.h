// The static type of a value. Every value of a compiled program has one Type,
// fixed at compile time; annotations are parsed straight into Types and the
// code generator infers the rest while it writes C.
//
// A Type is a small tree of values: one plain struct per kind in a
// `std::variant` (the variant index is the kind number), children owned by
// their parent and deep-copied with it. Equality is structural and the hash
// agrees with it, so Types serve as map keys. From a Type come its short code
// (`type_code`, unique per Type, the part of generated C names that keeps
// them apart), its C type text and its display in messages. Nothing here
// fails or keeps state.
#pragma once

#include "support/box.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include <fmt/format.h>

namespace kestal {

struct Type;

// The callee a function-typed value stands for. Because it is part of the
// Type, a function value carries no run-time data except a lambda's captures.
struct FunctionValue {
    // A top-level user function named as a value.
    struct UserFunction {
        std::string name;
    };
    // A lifted lambda: its index among the Program's lambdas, and its captured
    // variables as (name, Type) in capture order.
    struct Lambda {
        uint64_t index = 0;
        std::vector<std::pair<std::string, Type>> captures;
    };
    // A built-in function named as a value.
    struct Builtin {
        std::string name;
    };
    // A method of str named as a value.
    struct StrMethod {
        std::string name;
    };
    // A method of a class named as a value.
    struct ClassMethod {
        std::string class_name;
        std::string method_name;
    };

    std::variant<UserFunction, Lambda, Builtin, StrMethod, ClassMethod> kind;

    friend bool operator==(const FunctionValue &a, const FunctionValue &b);
};

// The kind numbers of Type, in variant order.
enum class TypeKind : uint8_t {
    Int,
    Float,
    Bool,
    Str,
    List,
    Dict,
    Set,
    Tuple,
    Range,
    File,
    Function,
    Class,
    None,
    Optional,
    NoValue,
};

struct Type {
    struct Int {};
    struct Float {};
    struct Bool {};
    struct Str {};
    struct List {
        Box<Type> element;
    };
    struct Dict {
        Box<Type> key;
        Box<Type> value;
    };
    struct Set {
        Box<Type> element;
    };
    // May be empty (the empty tuple); the element count is part of the Type.
    struct Tuple {
        std::vector<Type> elements;
    };
    struct Range {};
    struct File {};
    struct Function {
        FunctionValue value;
    };
    // An object of a user or built-in class, by class name.
    struct Class {
        std::string name;
    };
    // The type of the value None.
    struct None {};
    // Built only through `make_optional`: never wraps None, Optional or NoValue.
    struct Optional {
        Box<Type> inner;
    };
    // The result of a call that returns nothing.
    struct NoValue {};

    using Kind = std::variant<Int, Float, Bool, Str, List, Dict, Set, Tuple, Range, File, Function,
                              Class, None, Optional, NoValue>;
    Kind kind;

    // A default Type is NoValue. Every kind converts implicitly to a Type.
    Type();
    Type(Int k);
    Type(Float k);
    Type(Bool k);
    Type(Str k);
    Type(List k);
    Type(Dict k);
    Type(Set k);
    Type(Tuple k);
    Type(Range k);
    Type(File k);
    Type(Function k);
    Type(Class k);
    Type(None k);
    Type(Optional k);
    Type(NoValue k);

    // Defined in type.cpp, so the copy and destroy code of the variant is
    // compiled once there.
    Type(const Type &other);
    Type(Type &&other) noexcept;
    Type &operator=(const Type &other);
    Type &operator=(Type &&other) noexcept;
    ~Type();

    TypeKind tag() const { return static_cast<TypeKind>(kind.index()); }
    template <class K> bool is() const { return std::holds_alternative<K>(kind); }
    // The kind's payload, or null when the Type is of another kind.
    template <class K> const K *as() const { return std::get_if<K>(&kind); }
    template <class K> K *as() { return std::get_if<K>(&kind); }

    // The primitive Types, built once.
    static const Type &int_();
    static const Type &float_();
    static const Type &bool_();
    static const Type &str();
    static const Type &range();
    static const Type &file();
    static const Type &none();
    static const Type &no_value();

    static Type list(Type element);
    static Type dict(Type key, Type value);
    static Type set(Type element);
    static Type tuple(std::vector<Type> elements);
    static Type class_(std::string name);
    static Type function(FunctionValue value);

    friend bool operator==(const Type &a, const Type &b);
};

// Hash consistent with `operator==` (structural).
struct TypeHash {
    size_t operator()(const Type &t) const;
};

// The short code used inside generated C names; distinct Types always have
// distinct codes.
std::string type_code(const Type &t);

// The C type text that declares a variable, field or parameter of the Type.
std::string c_type_name(const Type &t);

// Container and tuple struct names, without the pointer star.
std::string list_c_name(const Type &element);
std::string dict_c_name(const Type &key, const Type &value);
std::string set_c_name(const Type &element);
std::string tuple_c_name(const std::vector<Type> &elements);

// The display name in messages: "int", "list[str]", "int | None". The
// article form ("an int", "a list[str]", "None") is what a message uses where
// it speaks of a value of the Type; in {fmt} it is written "{:#}".
std::string type_display(const Type &t, bool article = false);

// Whether == applies to values of the Type.
bool supports_eq(const Type &t);
// Whether values of the Type hold pointers the collector must follow.
bool needs_gc_scan(const Type &t);
// Whether the Type may be a dict key or a set element.
bool is_hashable_type(const Type &t);
// Whether the Type supports < and sorting.
bool is_orderable_type(const Type &t);

// The optional form: None and optionals unchanged, NoValue becomes None,
// anything else T becomes Optional T.
Type make_optional(Type t);

} // namespace kestal

template <> struct std::hash<kestal::Type> {
    size_t operator()(const kestal::Type &t) const { return kestal::TypeHash{}(t); }
};

// "{}" gives the plain display, "{:#}" the article form.
template <> struct fmt::formatter<kestal::Type> {
    bool article = false;

    constexpr auto parse(fmt::format_parse_context &ctx) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it == '#') {
            article = true;
            ++it;
        }
        if (it != ctx.end() && *it != '}')
            ctx.on_error("invalid format for a Type: use {} or {:#}");
        return it;
    }

    template <class FormatContext> auto format(const kestal::Type &t, FormatContext &ctx) const {
        std::string text = kestal::type_display(t, article);
        return std::copy(text.begin(), text.end(), ctx.out());
    }
};
