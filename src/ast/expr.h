// The expression tree: what the expression parser builds and every later
// stage reads. An `Expr` is one plain struct per kind joined in a variant
// (the variant index is the kind number, so the order of the alternatives is
// fixed) plus the position where the expression starts.
//
// Ownership is by value: each child sits in its own heap `Box` or in a
// vector, there is no sharing and no parent link, and copying an Expr copies
// its whole subtree. Nodes carry no types and no resolved names.
#pragma once

#include "ast/operators.h"
#include "support/box.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kestal {

struct Expr;
struct Keyword;
struct DictEntry;
struct ComprehensionClause;
struct FStringSegment;

// The node kinds, one plain struct each. They live outside `Expr` so that
// their default member initializers are usable inside it; `Expr` names them
// again (`Expr::BinaryOp`).
namespace expr {

struct Int {
    int64_t value = 0;
};
struct Float {
    double value = 0.0;
};
// Adjacent string literals are already joined.
struct Str {
    std::string value = {};
};
struct Bool {
    bool value = false;
};
struct FString {
    std::vector<FStringSegment> segments;
};
struct Name {
    std::string name = {};
};
// `and`, `or` and each comparison are binary nodes with exactly two
// operands. `chain` is set on the `And` node that joins two links of a
// comparison chain (`a < b < c` becomes `(a < b) and (b < c)`); the left
// operand of the right link is a copy of the right operand of the left
// link, so the code generator evaluates it once.
struct BinaryOp {
    Box<Expr> left;
    BinOp op = BinOp::Add;
    Box<Expr> right;
    bool chain = false;
};
struct Unary {
    UnaryOp op = UnaryOp::Neg;
    Box<Expr> operand;
};
struct IfExp {
    Box<Expr> condition;
    Box<Expr> if_true;
    Box<Expr> if_false;
};
// A call whose callee is written as a plain name.
struct Call {
    std::string name = {};
    std::vector<Expr> args;
    std::vector<Keyword> kwargs;
};
// A call of any callee that is neither a plain name nor `expr.name`.
struct CallExpr {
    Box<Expr> callee;
    std::vector<Expr> args;
    std::vector<Keyword> kwargs;
};
// `receiver.method(...)`, module functions (`math.sqrt(x)`) included.
struct MethodCall {
    Box<Expr> receiver;
    std::string method = {};
    std::vector<Expr> args;
    std::vector<Keyword> kwargs;
};
struct Attribute {
    Box<Expr> object;
    std::string name = {};
};
// `a[i, j]` has a Tuple index.
struct Index {
    Box<Expr> object;
    Box<Expr> index;
};
struct Slice {
    Box<Expr> object;
    std::optional<Box<Expr>> lower = {};
    std::optional<Box<Expr>> upper = {};
    std::optional<Box<Expr>> step = {};
};
struct List {
    std::vector<Expr> elements;
};
// At least one element when built from source.
struct Tuple {
    std::vector<Expr> elements;
};
struct Dict {
    std::vector<DictEntry> entries;
};
// At least one element.
struct Set {
    std::vector<Expr> elements;
};
struct SetComp {
    Box<Expr> element;
    std::vector<ComprehensionClause> clauses;
};
struct ListComp {
    Box<Expr> element;
    std::vector<ComprehensionClause> clauses;
};
struct DictComp {
    Box<Expr> key;
    Box<Expr> value;
    std::vector<ComprehensionClause> clauses;
};
struct GeneratorExp {
    Box<Expr> element;
    std::vector<ComprehensionClause> clauses;
};
// Refers to the lifted function record `lambdas[index]` of the parse.
struct Lambda {
    uint64_t index = 0;
};
struct None {};

} // namespace expr

// An expression with the position (line, column) where it starts. Copying
// copies the whole subtree. Replacing an Expr by a part of its own subtree
// must go through a temporary (`Expr inner = std::move(child); e =
// std::move(inner);`): member-wise assignment would free the part while it
// is still being read.
struct Expr {
    using Int = expr::Int;
    using Float = expr::Float;
    using Str = expr::Str;
    using Bool = expr::Bool;
    using FString = expr::FString;
    using Name = expr::Name;
    using BinaryOp = expr::BinaryOp;
    using Unary = expr::Unary;
    using IfExp = expr::IfExp;
    using Call = expr::Call;
    using CallExpr = expr::CallExpr;
    using MethodCall = expr::MethodCall;
    using Attribute = expr::Attribute;
    using Index = expr::Index;
    using Slice = expr::Slice;
    using List = expr::List;
    using Tuple = expr::Tuple;
    using Dict = expr::Dict;
    using Set = expr::Set;
    using SetComp = expr::SetComp;
    using ListComp = expr::ListComp;
    using DictComp = expr::DictComp;
    using GeneratorExp = expr::GeneratorExp;
    using Lambda = expr::Lambda;
    using None = expr::None;

    // The alternatives in kind order: the index is the kind number.
    using Kind = std::variant<Int, Float, Str, Bool, FString, Name, BinaryOp, Unary, IfExp, Call,
                              CallExpr, MethodCall, Attribute, Index, Slice, List, Tuple, Dict, Set,
                              SetComp, ListComp, DictComp, GeneratorExp, Lambda, None>;

    Kind kind;
    uint64_t line = 0;
    uint64_t column = 0;

    // Defined in expr.cpp, so the copy and destroy code of the whole variant
    // tree is compiled once there instead of in every file that holds an Expr.
    Expr();
    Expr(Kind kind, uint64_t line = 0, uint64_t column = 0);
    Expr(const Expr &other);
    Expr(Expr &&other) noexcept;
    Expr &operator=(const Expr &other);
    Expr &operator=(Expr &&other) noexcept;
    ~Expr();

    template <class K> bool is() const { return std::holds_alternative<K>(kind); }
    template <class K> K *as() { return std::get_if<K>(&kind); }
    template <class K> const K *as() const { return std::get_if<K>(&kind); }
};

// A keyword argument `name=value`; calls keep them in source order.
struct Keyword {
    std::string name = {};
    Expr value;
};

struct DictEntry {
    Expr key;
    Expr value;
};

// One `for` clause of a comprehension with the `if` filters that follow it.
// `target` is a Name or a Tuple of targets; the first clause is the outermost
// loop.
struct ComprehensionClause {
    Expr target;
    Expr iterable;
    std::vector<Expr> conditions;
};

// One segment of an f-string, in source order. A Field has no position of
// its own: its expression carries positions inside the source file.
struct FStringSegment {
    // Escapes and doubled braces resolved; never empty.
    struct Literal {
        std::string text;
    };
    struct Field {
        Expr expr;
        // Present but empty for `{x:}`, absent for `{x}`.
        std::optional<std::string> spec;
        // 'a', 'r' or 's'.
        std::optional<char> conversion;
    };
    std::variant<Literal, Field> kind;
};

} // namespace kestal
