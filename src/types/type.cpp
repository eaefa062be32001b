// Type operations: codes, C names, displays, predicates and make_optional.
//
// Every function here is a pure recursion over the Type tree. The code
// grammar writes one letter per kind and puts a count or a byte length before
// every variable-length part, so codes concatenate without separators and
// read back unambiguously; that is what keeps generated C names distinct.
#include "types/type.h"
#include "support/overload.h"

#include <functional>

namespace kestal {

namespace {

// Length-prefixed name: "3Foo".
void append_name(std::string &out, const std::string &name) {
    out += std::to_string(name.size());
    out += name;
}

void append_code(std::string &out, const Type &t);

void append_function_code(std::string &out, const FunctionValue &fv) {
    std::visit(Overload{
                   [&](const FunctionValue::UserFunction &f) {
                       out += 'U';
                       append_name(out, f.name);
                   },
                   [&](const FunctionValue::Lambda &f) {
                       out += 'Y';
                       out += std::to_string(f.index);
                       out += '_';
                       out += std::to_string(f.captures.size());
                       for (const auto &[name, type] : f.captures)
                           append_code(out, type);
                   },
                   [&](const FunctionValue::Builtin &f) {
                       out += 'B';
                       append_name(out, f.name);
                   },
                   [&](const FunctionValue::StrMethod &f) {
                       out += 'M';
                       append_name(out, f.name);
                   },
                   [&](const FunctionValue::ClassMethod &f) {
                       out += 'N';
                       append_name(out, f.class_name);
                       append_name(out, f.method_name);
                   },
               },
               fv.kind);
}

void append_code(std::string &out, const Type &t) {
    std::visit(Overload{
                   [&](const Type::Int &) { out += 'i'; },
                   [&](const Type::Float &) { out += 'f'; },
                   [&](const Type::Bool &) { out += 'b'; },
                   [&](const Type::Str &) { out += 's'; },
                   [&](const Type::List &k) {
                       out += 'L';
                       append_code(out, *k.element);
                   },
                   [&](const Type::Dict &k) {
                       out += 'D';
                       append_code(out, *k.key);
                       append_code(out, *k.value);
                   },
                   [&](const Type::Set &k) {
                       out += 'S';
                       append_code(out, *k.element);
                   },
                   [&](const Type::Tuple &k) {
                       out += 'T';
                       out += std::to_string(k.elements.size());
                       for (const Type &e : k.elements)
                           append_code(out, e);
                   },
                   [&](const Type::Range &) { out += 'r'; },
                   [&](const Type::File &) { out += 'F'; },
                   [&](const Type::Function &k) { append_function_code(out, k.value); },
                   [&](const Type::Class &k) {
                       out += 'O';
                       append_name(out, k.name);
                   },
                   [&](const Type::None &) { out += 'n'; },
                   [&](const Type::Optional &k) {
                       out += 'Q';
                       append_code(out, *k.inner);
                   },
                   [&](const Type::NoValue &) { out += 'v'; },
               },
               t.kind);
}

std::string function_display(const FunctionValue &fv) {
    return std::visit(
        Overload{
            [](const FunctionValue::UserFunction &f) {
                return fmt::format("function {}()", f.name);
            },
            [](const FunctionValue::Lambda &) { return std::string("lambda"); },
            [](const FunctionValue::Builtin &f) { return fmt::format("builtin {}()", f.name); },
            [](const FunctionValue::StrMethod &f) { return fmt::format("str.{}()", f.name); },
            [](const FunctionValue::ClassMethod &f) {
                return fmt::format("{}.{}()", f.class_name, f.method_name);
            },
        },
        fv.kind);
}

std::string plain_display(const Type &t) {
    return std::visit(
        Overload{
            [](const Type::Int &) { return std::string("int"); },
            [](const Type::Float &) { return std::string("float"); },
            [](const Type::Bool &) { return std::string("bool"); },
            [](const Type::Str &) { return std::string("str"); },
            [](const Type::List &k) { return fmt::format("list[{}]", plain_display(*k.element)); },
            [](const Type::Dict &k) {
                return fmt::format("dict[{}, {}]", plain_display(*k.key), plain_display(*k.value));
            },
            [](const Type::Set &k) { return fmt::format("set[{}]", plain_display(*k.element)); },
            [](const Type::Tuple &k) {
                std::string out = "tuple[";
                for (size_t i = 0; i < k.elements.size(); ++i) {
                    if (i > 0)
                        out += ", ";
                    out += plain_display(k.elements[i]);
                }
                return out + "]";
            },
            [](const Type::Range &) { return std::string("range"); },
            [](const Type::File &) { return std::string("file"); },
            [](const Type::Function &k) { return function_display(k.value); },
            [](const Type::Class &k) { return k.name; },
            [](const Type::None &) { return std::string("None"); },
            [](const Type::Optional &k) {
                return fmt::format("{} | None", plain_display(*k.inner));
            },
            [](const Type::NoValue &) { return std::string("None"); },
        },
        t.kind);
}

// Mixes one value into a running hash (the boost recipe, widened to 64 bits).
void mix(size_t &seed, size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

void hash_into(size_t &seed, const Type &t);

void hash_function_into(size_t &seed, const FunctionValue &fv) {
    std::hash<std::string> hs;
    mix(seed, fv.kind.index());
    std::visit(Overload{
                   [&](const FunctionValue::UserFunction &f) { mix(seed, hs(f.name)); },
                   [&](const FunctionValue::Lambda &f) {
                       mix(seed, static_cast<size_t>(f.index));
                       mix(seed, f.captures.size());
                       for (const auto &[name, type] : f.captures) {
                           mix(seed, hs(name));
                           hash_into(seed, type);
                       }
                   },
                   [&](const FunctionValue::Builtin &f) { mix(seed, hs(f.name)); },
                   [&](const FunctionValue::StrMethod &f) { mix(seed, hs(f.name)); },
                   [&](const FunctionValue::ClassMethod &f) {
                       mix(seed, hs(f.class_name));
                       mix(seed, hs(f.method_name));
                   },
               },
               fv.kind);
}

void hash_into(size_t &seed, const Type &t) {
    mix(seed, t.kind.index());
    std::visit(Overload{
                   [&](const Type::List &k) { hash_into(seed, *k.element); },
                   [&](const Type::Dict &k) {
                       hash_into(seed, *k.key);
                       hash_into(seed, *k.value);
                   },
                   [&](const Type::Set &k) { hash_into(seed, *k.element); },
                   [&](const Type::Tuple &k) {
                       mix(seed, k.elements.size());
                       for (const Type &e : k.elements)
                           hash_into(seed, e);
                   },
                   [&](const Type::Function &k) { hash_function_into(seed, k.value); },
                   [&](const Type::Class &k) { mix(seed, std::hash<std::string>{}(k.name)); },
                   [&](const Type::Optional &k) { hash_into(seed, *k.inner); },
                   [](const OneOf<Type::Int, Type::Float, Type::Bool, Type::Str, Type::Range,
                                  Type::File, Type::None, Type::NoValue> auto &) {},
               },
               t.kind);
}

bool is_pointer_kind(const Type &t) {
    return t.is<Type::List>() || t.is<Type::Dict>() || t.is<Type::Set>() || t.is<Type::File>() ||
           t.is<Type::Class>();
}

} // namespace

bool operator==(const FunctionValue &a, const FunctionValue &b) {
    if (a.kind.index() != b.kind.index())
        return false;
    return std::visit(Overload{
                          [&](const FunctionValue::UserFunction &x) {
                              return x.name == std::get<FunctionValue::UserFunction>(b.kind).name;
                          },
                          [&](const FunctionValue::Lambda &x) {
                              const auto &y = std::get<FunctionValue::Lambda>(b.kind);
                              return x.index == y.index && x.captures == y.captures;
                          },
                          [&](const FunctionValue::Builtin &x) {
                              return x.name == std::get<FunctionValue::Builtin>(b.kind).name;
                          },
                          [&](const FunctionValue::StrMethod &x) {
                              return x.name == std::get<FunctionValue::StrMethod>(b.kind).name;
                          },
                          [&](const FunctionValue::ClassMethod &x) {
                              const auto &y = std::get<FunctionValue::ClassMethod>(b.kind);
                              return x.class_name == y.class_name && x.method_name == y.method_name;
                          },
                      },
                      a.kind);
}

bool operator==(const Type &a, const Type &b) {
    if (a.kind.index() != b.kind.index())
        return false;
    return std::visit(
        Overload{
            [&](const Type::List &x) { return x.element == b.as<Type::List>()->element; },
            [&](const Type::Dict &x) {
                const auto &y = *b.as<Type::Dict>();
                return x.key == y.key && x.value == y.value;
            },
            [&](const Type::Set &x) { return x.element == b.as<Type::Set>()->element; },
            [&](const Type::Tuple &x) { return x.elements == b.as<Type::Tuple>()->elements; },
            [&](const Type::Function &x) { return x.value == b.as<Type::Function>()->value; },
            [&](const Type::Class &x) { return x.name == b.as<Type::Class>()->name; },
            [&](const Type::Optional &x) { return x.inner == b.as<Type::Optional>()->inner; },
            // The remaining kinds carry no payload.
            [](const OneOf<Type::Int, Type::Float, Type::Bool, Type::Str, Type::Range, Type::File,
                           Type::None, Type::NoValue> auto &) { return true; },
        },
        a.kind);
}

Type::Type() : kind(NoValue{}) {}
Type::Type(Int k) : kind(k) {}
Type::Type(Float k) : kind(k) {}
Type::Type(Bool k) : kind(k) {}
Type::Type(Str k) : kind(k) {}
Type::Type(List k) : kind(std::move(k)) {}
Type::Type(Dict k) : kind(std::move(k)) {}
Type::Type(Set k) : kind(std::move(k)) {}
Type::Type(Tuple k) : kind(std::move(k)) {}
Type::Type(Range k) : kind(k) {}
Type::Type(File k) : kind(k) {}
Type::Type(Function k) : kind(std::move(k)) {}
Type::Type(Class k) : kind(std::move(k)) {}
Type::Type(None k) : kind(k) {}
Type::Type(Optional k) : kind(std::move(k)) {}
Type::Type(NoValue k) : kind(k) {}
Type::Type(const Type &other) = default;
Type::Type(Type &&other) noexcept = default;
Type &Type::operator=(const Type &other) = default;
Type &Type::operator=(Type &&other) noexcept = default;
Type::~Type() = default;

const Type &Type::int_() {
    static const Type t{Int{}};
    return t;
}
const Type &Type::float_() {
    static const Type t{Float{}};
    return t;
}
const Type &Type::bool_() {
    static const Type t{Bool{}};
    return t;
}
const Type &Type::str() {
    static const Type t{Str{}};
    return t;
}
const Type &Type::range() {
    static const Type t{Range{}};
    return t;
}
const Type &Type::file() {
    static const Type t{File{}};
    return t;
}
const Type &Type::none() {
    static const Type t{None{}};
    return t;
}
const Type &Type::no_value() {
    static const Type t{NoValue{}};
    return t;
}

Type Type::list(Type element) {
    return Type{List{std::move(element)}};
}
Type Type::dict(Type key, Type value) {
    return Type{Dict{std::move(key), std::move(value)}};
}
Type Type::set(Type element) {
    return Type{Set{std::move(element)}};
}
Type Type::tuple(std::vector<Type> elements) {
    return Type{Tuple{std::move(elements)}};
}
Type Type::class_(std::string name) {
    return Type{Class{std::move(name)}};
}
Type Type::function(FunctionValue value) {
    return Type{Function{std::move(value)}};
}

size_t TypeHash::operator()(const Type &t) const {
    size_t seed = 0;
    hash_into(seed, t);
    return seed;
}

std::string type_code(const Type &t) {
    std::string out;
    append_code(out, t);
    return out;
}

std::string list_c_name(const Type &element) {
    return "L_" + type_code(element);
}

std::string dict_c_name(const Type &key, const Type &value) {
    return "D_" + type_code(key) + type_code(value);
}

std::string set_c_name(const Type &element) {
    return "S_" + type_code(element);
}

std::string tuple_c_name(const std::vector<Type> &elements) {
    // The tuple's own code with its leading 'T' written "T_".
    std::string code = type_code(Type::tuple(elements));
    return "T_" + code.substr(1);
}

std::string c_type_name(const Type &t) {
    return std::visit(Overload{
                          [](const Type::Int &) { return std::string("int64_t"); },
                          [](const Type::Float &) { return std::string("double"); },
                          [](const Type::Bool &) { return std::string("bool"); },
                          [](const Type::Str &) { return std::string("ktl_str"); },
                          [](const Type::List &k) { return list_c_name(*k.element) + " *"; },
                          [](const Type::Dict &k) { return dict_c_name(*k.key, *k.value) + " *"; },
                          [](const Type::Set &k) { return set_c_name(*k.element) + " *"; },
                          [](const Type::Tuple &k) { return tuple_c_name(k.elements); },
                          [](const Type::Range &) { return std::string("ktl_range"); },
                          [](const Type::File &) { return std::string("ktl_file *"); },
                          [&t](const Type::Function &k) {
                              // Only a capturing lambda has data: its closure struct, by value.
                              const auto *lambda =
                                  std::get_if<FunctionValue::Lambda>(&k.value.kind);
                              if (lambda != nullptr && !lambda->captures.empty()) {
                                  return "Y_" + type_code(t).substr(1);
                              }
                              return std::string("uint8_t");
                          },
                          [](const Type::Class &k) { return "C_" + k.name + " *"; },
                          [](const Type::None &) { return std::string("uint8_t"); },
                          [](const Type::Optional &k) {
                              // A pointer kind stands for None with its null pointer.
                              if (is_pointer_kind(*k.inner))
                                  return c_type_name(*k.inner);
                              return "Q_" + type_code(*k.inner);
                          },
                          [](const Type::NoValue &) { return std::string("void"); },
                      },
                      t.kind);
}

std::string type_display(const Type &t, bool article) {
    std::string plain = plain_display(t);
    if (!article || t.is<Type::None>())
        return plain;
    bool int_like = t.is<Type::Int>() ||
                    (t.is<Type::Optional>() && t.as<Type::Optional>()->inner->is<Type::Int>());
    return (int_like ? "an " : "a ") + plain;
}

bool supports_eq(const Type &t) {
    return std::visit(
        Overload{
            [](const Type::List &k) { return supports_eq(*k.element); },
            [](const Type::Dict &k) { return supports_eq(*k.value); },
            [](const Type::Tuple &k) {
                for (const Type &e : k.elements)
                    if (!supports_eq(e))
                        return false;
                return true;
            },
            [](const Type::Optional &k) { return supports_eq(*k.inner); },
            [](const Type::File &) { return false; },
            [](const Type::Function &) { return false; },
            [](const Type::NoValue &) { return false; },
            [](const OneOf<Type::Int, Type::Float, Type::Bool, Type::Str, Type::Set, Type::Range,
                           Type::Class, Type::None> auto &) { return true; },
        },
        t.kind);
}

bool needs_gc_scan(const Type &t) {
    return std::visit(Overload{
                          [](const Type::Optional &k) { return needs_gc_scan(*k.inner); },
                          [](const Type::Tuple &k) {
                              for (const Type &e : k.elements)
                                  if (needs_gc_scan(e))
                                      return true;
                              return false;
                          },
                          [](const Type::Function &k) {
                              const auto *lambda =
                                  std::get_if<FunctionValue::Lambda>(&k.value.kind);
                              if (lambda == nullptr)
                                  return false;
                              for (const auto &[name, type] : lambda->captures)
                                  if (needs_gc_scan(type))
                                      return true;
                              return false;
                          },
                          [](const Type::Str &) { return true; },
                          [](const Type::List &) { return true; },
                          [](const Type::Dict &) { return true; },
                          [](const Type::Set &) { return true; },
                          [](const Type::File &) { return true; },
                          [](const Type::Class &) { return true; },
                          [](const OneOf<Type::Int, Type::Float, Type::Bool, Type::Range,
                                         Type::None, Type::NoValue> auto &) { return false; },
                      },
                      t.kind);
}

bool is_hashable_type(const Type &t) {
    return std::visit(
        Overload{
            [](const Type::Int &) { return true; },
            [](const Type::Bool &) { return true; },
            [](const Type::Str &) { return true; },
            [](const Type::Tuple &k) {
                for (const Type &e : k.elements)
                    if (!is_hashable_type(e))
                        return false;
                return true;
            },
            [](const OneOf<Type::Float, Type::List, Type::Dict, Type::Set, Type::Range, Type::File,
                           Type::Function, Type::Class, Type::None, Type::Optional,
                           Type::NoValue> auto &) { return false; },
        },
        t.kind);
}

bool is_orderable_type(const Type &t) {
    return std::visit(
        Overload{
            [](const Type::List &k) { return is_orderable_type(*k.element); },
            [](const Type::Int &) { return true; },
            [](const Type::Float &) { return true; },
            [](const Type::Bool &) { return true; },
            [](const Type::Str &) { return true; },
            [](const Type::Class &) { return true; },
            [](const Type::Tuple &k) {
                for (const Type &e : k.elements)
                    if (!is_orderable_type(e))
                        return false;
                return true;
            },
            [](const OneOf<Type::Dict, Type::Set, Type::Range, Type::File, Type::Function,
                           Type::None, Type::Optional, Type::NoValue> auto &) { return false; },
        },
        t.kind);
}

Type make_optional(Type t) {
    if (t.is<Type::None>() || t.is<Type::Optional>())
        return t;
    if (t.is<Type::NoValue>())
        return Type::none();
    return Type{Type::Optional{std::move(t)}};
}

} // namespace kestal
