// The operator kinds and their spellings, listed once: the lexer, the tree
// printer and the operator lowerings all read these tables. The header is
// small on purpose: the lexer's tokens carry a BinOp (the operator of an
// augmented assignment) without seeing the expression tree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestal {

// The binary operators: name, source symbol (as messages write it) and the
// word of tree dumps (no spaces, so a dump stays one word per atom). The
// numbers matter: augmented assignment uses the first twelve (Add to Shr)
// and the comparisons are Eq to Ge (12 to 17).
#define KESTAL_BIN_OPS(X)                                                                          \
    X(Add, "+", "+")                                                                               \
    X(Sub, "-", "-")                                                                               \
    X(Mul, "*", "*")                                                                               \
    X(Div, "/", "/")                                                                               \
    X(FloorDiv, "//", "//")                                                                        \
    X(Mod, "%", "%")                                                                               \
    X(Pow, "**", "**")                                                                             \
    X(BitAnd, "&", "&")                                                                            \
    X(BitOr, "|", "|")                                                                             \
    X(BitXor, "^", "^")                                                                            \
    X(Shl, "<<", "<<")                                                                             \
    X(Shr, ">>", ">>")                                                                             \
    X(Eq, "==", "==")                                                                              \
    X(Ne, "!=", "!=")                                                                              \
    X(Lt, "<", "<")                                                                                \
    X(Le, "<=", "<=")                                                                              \
    X(Gt, ">", ">")                                                                                \
    X(Ge, ">=", ">=")                                                                              \
    X(And, "and", "and")                                                                           \
    X(Or, "or", "or")                                                                              \
    X(In, "in", "in")                                                                              \
    X(NotIn, "not in", "not-in")                                                                   \
    X(Is, "is", "is")                                                                              \
    X(IsNot, "is not", "is-not")

// The unary operators; unary `+` leaves no node.
#define KESTAL_UNARY_OPS(X)                                                                        \
    X(Neg, "-", "neg")                                                                             \
    X(Not, "not", "not")                                                                           \
    X(Invert, "~", "~")

enum class BinOp : uint8_t {
#define KESTAL_X(name, symbol, dump) name,
    KESTAL_BIN_OPS(KESTAL_X)
#undef KESTAL_X
};

enum class UnaryOp : uint8_t {
#define KESTAL_X(name, symbol, dump) name,
    KESTAL_UNARY_OPS(KESTAL_X)
#undef KESTAL_X
};

#define KESTAL_X(name, symbol, dump) +1
inline constexpr int kBinOpCount = 0 KESTAL_BIN_OPS(KESTAL_X);
inline constexpr int kUnaryOpCount = 0 KESTAL_UNARY_OPS(KESTAL_X);
#undef KESTAL_X

// The augmented assignments `+=` .. `>>=` use the operators Add .. Shr.
inline constexpr int kAugAssignOpCount = static_cast<int>(BinOp::Shr) + 1;

struct OperatorSpelling {
    std::string_view name;
    std::string_view symbol;
    std::string_view dump;
};

inline constexpr std::array<OperatorSpelling, kBinOpCount> kBinOpSpellings = {{
#define KESTAL_X(name, symbol, dump) {#name, symbol, dump},
    KESTAL_BIN_OPS(KESTAL_X)
#undef KESTAL_X
}};

inline constexpr std::array<OperatorSpelling, kUnaryOpCount> kUnaryOpSpellings = {{
#define KESTAL_X(name, symbol, dump) {#name, symbol, dump},
    KESTAL_UNARY_OPS(KESTAL_X)
#undef KESTAL_X
}};

// The enumerator name ("Add", "FloorDiv", "IsNot").
constexpr std::string_view binop_name(BinOp op) {
    return kBinOpSpellings[static_cast<size_t>(op)].name;
}
// The source symbol ("+", "//", "not in").
constexpr std::string_view binop_symbol(BinOp op) {
    return kBinOpSpellings[static_cast<size_t>(op)].symbol;
}
// The enumerator name ("Neg", "Not", "Invert").
constexpr std::string_view unaryop_name(UnaryOp op) {
    return kUnaryOpSpellings[static_cast<size_t>(op)].name;
}
constexpr std::string_view unaryop_symbol(UnaryOp op) {
    return kUnaryOpSpellings[static_cast<size_t>(op)].symbol;
}

// True for Eq, Ne, Lt, Le, Gt and Ge.
constexpr bool is_comparison(BinOp op) {
    return op >= BinOp::Eq && op <= BinOp::Ge;
}

// True for the operators of augmented assignment, Add .. Shr.
constexpr bool is_aug_assign_op(BinOp op) {
    return static_cast<int>(op) < kAugAssignOpCount;
}

} // namespace kestal
