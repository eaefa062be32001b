// The special members of Stmt, out of line: each file that copies, moves or
// destroys a statement calls these instead of compiling the variant tree's
// copy and destroy code itself.
#include "ast/program.h"

namespace kestal {

Stmt::Stmt() = default;
Stmt::Stmt(Kind kind, uint64_t line, uint64_t column)
    : kind(std::move(kind)), line(line), column(column) {}
Stmt::Stmt(const Stmt &other) = default;
Stmt::Stmt(Stmt &&other) noexcept = default;
Stmt &Stmt::operator=(const Stmt &other) = default;
Stmt &Stmt::operator=(Stmt &&other) noexcept = default;
Stmt::~Stmt() = default;

} // namespace kestal
