// A compact, deterministic text dump of the syntax tree, for tests and for
// debugging the parser (not a user command). Expressions and statements
// print as S-expressions on one line, e.g. `(= x (+ a (call f 1 k=2)))`;
// blocks print as `{s1; s2}`; a program prints one top-level item a line.
// With `positions`, every node also shows its `@line:column`.
#pragma once

#include "ast/expr.h"
#include "ast/program.h"

#include <string>
#include <vector>

namespace kestal {

struct PrintOptions {
    bool positions = false;
};

std::string print_expr(const Expr &expr, PrintOptions options = {});
std::string print_stmt(const Stmt &stmt, PrintOptions options = {});
// `{s1; s2}`.
std::string print_block(const std::vector<Stmt> &body, PrintOptions options = {});
// `(def name (a: int, b = 1) -> int {body})`.
std::string print_function(const FuncDef &function, PrintOptions options = {});
// One line per item: imports, aliases (by name), user classes (the built-in
// exception classes are left out), functions, lambdas, statements.
std::string print_program(const Program &program, PrintOptions options = {});

} // namespace kestal
