// Names of the operator enumerations, for token descriptions and dumps.
#include "ast/expr.h"

#include <array>

namespace kestal {

std::string_view binop_name(BinOp op) {
    static constexpr std::array<std::string_view, kBinOpCount> names = {
#define KESTAL_X(name) #name,
        KESTAL_BIN_OPS(KESTAL_X)
#undef KESTAL_X
    };
    return names.at(static_cast<size_t>(op));
}

std::string_view unaryop_name(UnaryOp op) {
    switch (op) {
    case UnaryOp::Neg:
        return "Neg";
    case UnaryOp::Not:
        return "Not";
    case UnaryOp::Invert:
        return "Invert";
    }
    return "?";
}

} // namespace kestal
