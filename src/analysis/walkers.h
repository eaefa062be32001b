// Name analysis: which names a piece of the tree reads and which it binds,
// asked before any of it is compiled. The answers decide which module
// variables live in the globals struct, which variables a lambda captures,
// which names a function declares `global`, and which names an assignment or
// loop target binds.
//
// The walkers only read the tree and never fail. A call by plain name counts
// its callee's name as read, so a variable holding a function value that is
// only ever called (`g = lambda x: x + 1` ... `g(y)`) is still seen as used:
// a module-level one becomes a global of the functions that call it, and a
// local one called inside a lambda is captured by that lambda.
#pragma once

#include "ast/program.h"

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace kestal {

// The working record of one walk. Sets are ordered (bytewise), so every
// listing derived from them is deterministic.
struct NameSets {
    // The Program's lifted lambdas, so that a lambda expression (which refers
    // to its FuncDef by index) can be looked into.
    explicit NameSets(const std::vector<FuncDef> &program_lambdas) : lambdas(program_lambdas) {}

    // Names read (a name expression in a reading position).
    std::set<std::string> read;
    // Names bound: assignment, loop, `with`, `except` and comprehension
    // targets; parameters when the caller seeds them.
    std::set<std::string> assigned;
    // Names of `global` statements.
    std::set<std::string> declared_global;
    const std::vector<FuncDef> &lambdas;
    // Names captured by the lambdas met during the walk.
    std::set<std::string> captured;
};

// Adds what the expression reads (and what its comprehensions bind).
void walk_expr_names(NameSets &names, const Expr &expr);
// Adds what the statement reads, binds and declares global, nested blocks
// included.
void walk_stmt_names(NameSets &names, const Stmt &stmt);
// Adds what an assignment target binds: a plain name to `assigned`, list and
// tuple displays element by element; any other target (attribute, item,
// slice) is walked as an expression, its object and index being read.
void walk_target_names(NameSets &names, const Expr &target);

// Appends the names an assignment or loop target binds, in source order:
// plain names, list and tuple displays recursively; nothing else binds.
void collect_target_names(const Expr &target, std::vector<std::string> &out);

// The names a statement list reads and assigns.
struct BlockNames {
    std::set<std::string> read;
    std::set<std::string> assigned;
};
BlockNames collect_block_names(const std::vector<FuncDef> &lambdas,
                               const std::vector<Stmt> &statements);

// Adds the names of every `global` statement of the list, nested blocks
// included.
void collect_global_declarations(const std::vector<Stmt> &statements, std::set<std::string> &out);

// The names lambda `index` captures: what its defaults and body read minus
// its parameters and the names it binds itself, sorted bytewise. The index
// must exist in `lambdas`.
std::vector<std::string> collect_lambda_captures(const std::vector<FuncDef> &lambdas,
                                                 uint64_t index);

// The names that must live in the globals struct: names that any function or
// method reads without binding, or declares global, and the names that
// lambdas of the top-level code capture.
std::set<std::string> collect_function_free_names(const Program &program);

} // namespace kestal
