// Type annotations, parsed straight into `Type`s: parameter and return
// annotations, declarations and dataclass fields. A fixed set of written
// forms is known; any other name is a class. A name starting with a capital
// letter is taken as a class without looking it up (the class may be defined
// later in the file, or be the class whose body is being read); whether such
// a class exists is checked by the code generator. A lower-case name must
// name a class already defined.
#include "parser/parser.h"

#include <fmt/format.h>

namespace kestal {

namespace {

// `[T]` after a container name; returns T.
Type parse_bracketed_type(Parser &p, std::string_view open_description) {
    expect(p, TokenKind::LBracket, open_description);
    Type inner = parse_value_type(p);
    expect(p, TokenKind::RBracket, "']'");
    return inner;
}

// A dict key or set item type, which must be hashable.
Type parse_hashable_type(Parser &p, std::string_view what) {
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    Type t = parse_type_union(p);
    if (!is_hashable_type(t)) {
        throw error_at(
            fmt::format("{} must be int, str, bool or a tuple of those, not {}", what, t), line,
            column);
    }
    return t;
}

} // namespace

Type parse_type(Parser &p) {
    if (accept(p, TokenKind::NoneKw))
        return Type::no_value();
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    std::string name = expect_ident(p, "a type");
    if (name == "int")
        return Type::int_();
    if (name == "float")
        return Type::float_();
    if (name == "bool")
        return Type::bool_();
    if (name == "str")
        return Type::str();
    if (name == "file" || name == "TextIO" || name == "TextIOWrapper")
        return Type::file();
    if (name == "list")
        return Type::list(parse_bracketed_type(p, "'[' (write list[int], list[str], ...)"));
    if (name == "dict") {
        expect(p, TokenKind::LBracket, "'[' (write dict[str, int], ...)");
        Type key = parse_hashable_type(p, "dict keys");
        expect(p, TokenKind::Comma, "',' (write dict[str, int], ...)");
        Type value = parse_value_type(p);
        expect(p, TokenKind::RBracket, "']'");
        return Type::dict(std::move(key), std::move(value));
    }
    if (name == "set") {
        expect(p, TokenKind::LBracket, "'[' (write set[int], set[str], ...)");
        Type item = parse_hashable_type(p, "set items");
        expect(p, TokenKind::RBracket, "']'");
        return Type::set(std::move(item));
    }
    if (name == "tuple") {
        expect(p, TokenKind::LBracket, "'[' (write tuple[int, str], ...)");
        std::vector<Type> elements;
        do {
            elements.push_back(parse_value_type(p));
        } while (accept(p, TokenKind::Comma));
        expect(p, TokenKind::RBracket, "']'");
        return Type::tuple(std::move(elements));
    }
    if (name == "Optional") {
        expect(p, TokenKind::LBracket, "'[' (write Optional[int])");
        Type inner = parse_type_union(p);
        expect(p, TokenKind::RBracket, "']'");
        if (inner.is<Type::NoValue>())
            throw error_at("Optional[None] isn't a useful type", line, column);
        return make_optional(std::move(inner));
    }
    if ((name[0] >= 'A' && name[0] <= 'Z') || find_class(p, name) != nullptr)
        return Type::class_(std::move(name));
    throw error_at(
        fmt::format("unknown type '{}' (expected int, float, bool, str, list[T], dict[K, V], "
                    "tuple[...], TextIO or a class)",
                    name),
        line, column);
}

Type parse_type_union(Parser &p) {
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    Type first = parse_type(p);
    if (!accept(p, TokenKind::Pipe))
        return first;
    Type second = parse_type(p);
    if (at(p, TokenKind::Pipe)) {
        throw error_at_current(p,
                               "unions of more than two types aren't supported (only `T | None`)");
    }
    if (first.is<Type::NoValue>()) {
        return second.is<Type::NoValue>() ? Type::no_value() : make_optional(std::move(second));
    }
    if (second.is<Type::NoValue>())
        return make_optional(std::move(first));
    throw error_at(
        fmt::format(
            "unions like `{} | {}` aren't supported; a value has one type (only `T | None` is)",
            first, second),
        line, column);
}

// `None` alone is the annotation of a function that returns nothing; a
// value that may be None is `T | None`.
Type parse_value_type(Parser &p) {
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    Type t = parse_type_union(p);
    if (t.is<Type::NoValue>())
        throw error_at("`None` alone isn't the type of a value (it only marks a function that "
                       "returns nothing); write `T | None` for a value that may be None",
                       line, column);
    return t;
}

} // namespace kestal
