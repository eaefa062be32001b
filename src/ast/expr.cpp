// The special members of Expr, out of line: each file that copies, moves or
// destroys an expression calls these instead of compiling the variant tree's
// copy and destroy code itself.
#include "ast/expr.h"

namespace kestal {

Expr::Expr() = default;
Expr::Expr(Kind kind, uint64_t line, uint64_t column)
    : kind(std::move(kind)), line(line), column(column) {}
Expr::Expr(const Expr &other) = default;
Expr::Expr(Expr &&other) noexcept = default;
Expr &Expr::operator=(const Expr &other) = default;
Expr &Expr::operator=(Expr &&other) noexcept = default;
Expr::~Expr() = default;

} // namespace kestal
