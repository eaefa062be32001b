// Name walkers: syntax tree in, name sets out.
//
// One recursive walk per tree fills a NameSets record: each node adds the
// names it holds as text and hands its children, with their roles, to the
// shared traversal (ast/traverse.h). The collectors below are thin drivers
// that seed the record and pick the sets they need.
// A lambda expression is looked into through its lifted FuncDef, and only its
// captures (the free names of its body) count as read where it appears.
#include "analysis/walkers.h"

#include "ast/traverse.h"
#include "support/overload.h"

#include <algorithm>
#include <variant>

namespace kestal {

namespace {

void walk_block(NameSets &names, const std::vector<Stmt> &body) {
    for (const Stmt &s : body)
        walk_stmt_names(names, s);
}

// A child expression by its role: read, bound, or read and then bound.
void walk_child(NameSets &names, const Expr &child, ExprRole role) {
    switch (role) {
    case ExprRole::Read:
    case ExprRole::Delete:
        walk_expr_names(names, child);
        return;
    case ExprRole::Bind:
    case ExprRole::LoopBind:
        walk_target_names(names, child);
        return;
    case ExprRole::Update:
        walk_expr_names(names, child);
        walk_target_names(names, child);
        return;
    }
}

// A function's parameters bound, its defaults and body walked.
NameSets walk_function(const std::vector<FuncDef> &lambdas, const FuncDef &fn) {
    NameSets names(lambdas);
    for (const Param &p : fn.params)
        names.assigned.insert(p.name);
    for (const Param &p : fn.params) {
        if (p.default_value)
            walk_expr_names(names, *p.default_value);
    }
    walk_block(names, fn.body);
    return names;
}

// What a function or method contributes to the globals: names it reads but
// never binds, names it binds but declared global, and every global name.
void add_function_free_names(const std::vector<FuncDef> &lambdas, const FuncDef &fn,
                             std::set<std::string> &out) {
    NameSets names = walk_function(lambdas, fn);
    for (const std::string &n : names.read) {
        if (!names.assigned.count(n) || names.declared_global.count(n))
            out.insert(n);
    }
    out.insert(names.declared_global.begin(), names.declared_global.end());
}

} // namespace

// The names a node holds as text (not as child expressions), then its
// children by role.
void walk_expr_names(NameSets &names, const Expr &expr) {
    std::visit(
        Overload{
            [&](const Expr::Name &e) { names.read.insert(e.name); },
            // Calling `g` reads `g`: it may be a variable holding a
            // function value, which must then be visible here.
            [&](const Expr::Call &e) { names.read.insert(e.name); },
            [&](const Expr::Lambda &e) {
                for (const std::string &n : collect_lambda_captures(names.lambdas, e.index)) {
                    names.read.insert(n);
                    names.captured.insert(n);
                }
            },
            // A method or attribute name is no variable.
            [](const OneOf<Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::None, Expr::FString,
                           Expr::BinaryOp, Expr::Unary, Expr::IfExp, Expr::CallExpr,
                           Expr::MethodCall, Expr::Attribute, Expr::Index, Expr::Slice, Expr::List,
                           Expr::Tuple, Expr::Dict, Expr::Set, Expr::SetComp, Expr::ListComp,
                           Expr::DictComp, Expr::GeneratorExp> auto &) {},
        },
        expr.kind);
    for_each_child_expr(expr,
                        [&](const Expr &child, ExprRole role) { walk_child(names, child, role); });
}

void walk_target_names(NameSets &names, const Expr &target) {
    if (const auto *tuple = target.as<Expr::Tuple>()) {
        for (const Expr &e : tuple->elements)
            walk_target_names(names, e);
    } else if (const auto *list = target.as<Expr::List>()) {
        for (const Expr &e : list->elements)
            walk_target_names(names, e);
    } else if (const auto *name = target.as<Expr::Name>()) {
        names.assigned.insert(name->name);
    } else {
        walk_expr_names(names, target);
    }
}

// The names a statement holds as text (`global` names, handler names), then
// its expressions by role and its nested statements.
void walk_stmt_names(NameSets &names, const Stmt &stmt) {
    std::visit(
        Overload{
            [&](const Stmt::Global &s) {
                names.declared_global.insert(s.names.begin(), s.names.end());
            },
            [&](const Stmt::Try &s) {
                for (const ExceptHandler &h : s.handlers) {
                    if (h.name)
                        names.assigned.insert(*h.name);
                }
            },
            [](const OneOf<Stmt::ExprStmt, Stmt::Assign, Stmt::Unpack, Stmt::AugAssign, Stmt::If,
                           Stmt::While, Stmt::For, Stmt::Break, Stmt::Continue, Stmt::Pass,
                           Stmt::Return, Stmt::Del, Stmt::With, Stmt::Raise, Stmt::Assert> auto &) {
            },
        },
        stmt.kind);
    for_each_stmt_expr(stmt,
                       [&](const Expr &child, ExprRole role) { walk_child(names, child, role); });
    for_each_child_stmt(stmt, [&](const Stmt &s) { walk_stmt_names(names, s); });
}

void collect_target_names(const Expr &target, std::vector<std::string> &out) {
    if (const auto *tuple = target.as<Expr::Tuple>()) {
        for (const Expr &e : tuple->elements)
            collect_target_names(e, out);
    } else if (const auto *list = target.as<Expr::List>()) {
        for (const Expr &e : list->elements)
            collect_target_names(e, out);
    } else if (const auto *name = target.as<Expr::Name>()) {
        out.push_back(name->name);
    }
}

BlockNames collect_block_names(const std::vector<FuncDef> &lambdas,
                               const std::vector<Stmt> &statements) {
    NameSets names(lambdas);
    walk_block(names, statements);
    return BlockNames{std::move(names.read), std::move(names.assigned)};
}

void collect_global_declarations(const std::vector<Stmt> &statements, std::set<std::string> &out) {
    for (const Stmt &stmt : statements) {
        if (const auto *global = stmt.as<Stmt::Global>())
            out.insert(global->names.begin(), global->names.end());
        for_each_child_block(stmt, [&](const std::vector<Stmt> &body, BlockRole) {
            collect_global_declarations(body, out);
        });
    }
}

std::vector<std::string> collect_lambda_captures(const std::vector<FuncDef> &lambdas,
                                                 uint64_t index) {
    NameSets names = walk_function(lambdas, lambdas.at(index));
    // std::set iterates in bytewise order, a prefix before its extensions.
    std::vector<std::string> captures;
    for (const std::string &n : names.read) {
        if (!names.assigned.count(n))
            captures.push_back(n);
    }
    return captures;
}

std::set<std::string> collect_function_free_names(const Program &program) {
    std::set<std::string> result;
    NameSets top(program.lambdas);
    walk_block(top, program.statements);
    result.insert(top.captured.begin(), top.captured.end());
    for (const FuncDef &fn : program.functions)
        add_function_free_names(program.lambdas, fn, result);
    for (const ClassDef &cls : program.classes) {
        for (const FuncDef &method : cls.methods)
            add_function_free_names(program.lambdas, method, result);
    }
    return result;
}

} // namespace kestal
