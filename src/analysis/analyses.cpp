// Statement analyses. Each is a walk over the statement tree that writes no
// C; only check_annotation_classes reports an error.
#include "analysis/analyses.h"

#include "analysis/walkers.h"
#include "ast/python_exceptions.h"
#include "ast/traverse.h"
#include "support/compile_error.h"
#include "support/overload.h"

#include <fmt/format.h>

#include <algorithm>
#include <unordered_map>

namespace kestal {

namespace {

bool is_exit_call(const Expr &e) {
    if (const auto *call = e.as<Expr::Call>())
        return call->name == "exit" || call->name == "quit";
    if (const auto *mc = e.as<Expr::MethodCall>()) {
        const auto *recv = mc->receiver->as<Expr::Name>();
        return mc->method == "exit" && recv && recv->name == "sys";
    }
    return false;
}

bool is_bool_literal(const Expr &e, bool value) {
    const auto *b = e.as<Expr::Bool>();
    return b && b->value == value;
}

bool any_never_completes(const std::optional<std::vector<Stmt>> &body) {
    return body && block_never_completes(*body);
}

bool block_contains_break(const std::vector<Stmt> &body) {
    return std::any_of(body.begin(), body.end(),
                       [](const Stmt &s) { return contains_loop_break(s); });
}

void count_target(const Expr &target, unsigned weight,
                  std::unordered_map<std::string, unsigned> &counts) {
    std::vector<std::string> names;
    collect_target_names(target, names);
    for (const auto &n : names)
        counts[n] += weight;
}

// Counts each binding of a name; `weight` is 2 inside a loop body, where one
// binding may run many times. Only whether a count is 1 matters.
void count_bindings(const std::vector<Stmt> &body, unsigned weight,
                    std::unordered_map<std::string, unsigned> &counts) {
    for (const Stmt &stmt : body) {
        if (const auto *t = stmt.as<Stmt::Try>()) {
            for (const ExceptHandler &h : t->handlers)
                if (h.name)
                    counts[*h.name] += weight;
        }
        for_each_stmt_expr(stmt, [&](const Expr &e, ExprRole role) {
            switch (role) {
            case ExprRole::Read:
            case ExprRole::Delete:
                return;
            case ExprRole::Bind:
            case ExprRole::Update:
                count_target(e, weight, counts);
                return;
            case ExprRole::LoopBind:
                count_target(e, 2, counts);
                return;
            }
        });
        for_each_child_block(stmt, [&](const std::vector<Stmt> &inner, BlockRole role) {
            count_bindings(inner, role == BlockRole::LoopBody ? 2 : weight, counts);
        });
    }
}

} // namespace

bool block_never_completes(const std::vector<Stmt> &body) {
    return std::any_of(body.begin(), body.end(),
                       [](const Stmt &s) { return stmt_never_completes(s); });
}

bool stmt_never_completes(const Stmt &stmt) {
    return std::visit(
        Overload{
            [](const Stmt::Return &) { return true; },
            [](const Stmt::Raise &) { return true; },
            [](const Stmt::ExprStmt &s) { return is_exit_call(s.expr); },
            [](const Stmt::If &s) {
                if (!s.else_body)
                    return false;
                for (const auto &b : s.branches)
                    if (!block_never_completes(b.body))
                        return false;
                return block_never_completes(*s.else_body);
            },
            // A loop without a `break` leaves only through its `else`, when
            // it has one.
            [](const Stmt::While &s) {
                if (block_contains_break(s.body))
                    return false;
                return is_bool_literal(s.condition, true) || any_never_completes(s.else_body);
            },
            [](const Stmt::For &s) {
                return !block_contains_break(s.body) && any_never_completes(s.else_body);
            },
            [](const Stmt::With &s) { return block_never_completes(s.body); },
            [](const Stmt::Try &s) {
                if (any_never_completes(s.finally_body))
                    return true;
                bool body_ends =
                    block_never_completes(s.body) ||
                    (!block_never_completes(s.body) && any_never_completes(s.else_body));
                if (!body_ends)
                    return false;
                for (const auto &h : s.handlers)
                    if (!block_never_completes(h.body))
                        return false;
                return true;
            },
            [](const Stmt::Assert &s) { return is_bool_literal(s.condition, false); },
            [](const OneOf<Stmt::Assign, Stmt::Unpack, Stmt::AugAssign, Stmt::Break, Stmt::Continue,
                           Stmt::Pass, Stmt::Global, Stmt::Del> auto &) { return false; },
        },
        stmt.kind);
}

// A `break` in a loop's body belongs to that loop; one in its `else` leaves
// the loop around it.
bool contains_loop_break(const Stmt &stmt) {
    if (stmt.is<Stmt::Break>())
        return true;
    bool found = false;
    for_each_child_block(stmt, [&](const std::vector<Stmt> &body, BlockRole role) {
        if (!found && role != BlockRole::LoopBody)
            found = block_contains_break(body);
    });
    return found;
}

bool any_stmt_matches(const std::function<bool(const Stmt &)> &pred, const Stmt &stmt) {
    if (pred(stmt))
        return true;
    bool found = false;
    for_each_child_stmt(stmt, [&](const Stmt &s) {
        if (!found)
            found = any_stmt_matches(pred, s);
    });
    return found;
}

bool is_try_stmt(const Stmt &stmt) {
    return stmt.is<Stmt::Try>();
}

std::optional<std::string> access_path_of(const Expr &expr) {
    if (const auto *n = expr.as<Expr::Name>())
        return n->name;
    if (const auto *a = expr.as<Expr::Attribute>()) {
        auto base = access_path_of(*a->object);
        if (!base)
            return std::nullopt;
        return *base + "." + a->name;
    }
    return std::nullopt;
}

void add_target_paths(PathSet &out, const Expr &target) {
    if (const auto *t = target.as<Expr::Tuple>()) {
        for (const auto &e : t->elements)
            add_target_paths(out, e);
    } else if (const auto *l = target.as<Expr::List>()) {
        for (const auto &e : l->elements)
            add_target_paths(out, e);
    } else if (auto path = access_path_of(target)) {
        out.insert(*path);
    }
}

void collect_assigned_names(const std::vector<Stmt> &body, PathSet &out) {
    for (const Stmt &stmt : body) {
        if (const auto *t = stmt.as<Stmt::Try>()) {
            for (const auto &h : t->handlers)
                if (h.name)
                    out.insert(*h.name);
        }
        for_each_stmt_expr(stmt, [&](const Expr &e, ExprRole role) {
            switch (role) {
            case ExprRole::Read:
            case ExprRole::Delete:
                return;
            case ExprRole::Bind:
            case ExprRole::LoopBind:
            case ExprRole::Update:
                add_target_paths(out, e);
                return;
            }
        });
        for_each_child_block(stmt, [&](const std::vector<Stmt> &inner, BlockRole) {
            collect_assigned_names(inner, out);
        });
    }
}

void collect_try_assigned_names(const std::vector<Stmt> &body, PathSet &out) {
    for (const Stmt &stmt : body) {
        if (const auto *t = stmt.as<Stmt::Try>()) {
            collect_assigned_names(t->body, out);
            if (t->finally_body) {
                for (const auto &h : t->handlers)
                    collect_assigned_names(h.body, out);
                if (t->else_body)
                    collect_assigned_names(*t->else_body, out);
                collect_assigned_names(*t->finally_body, out);
            }
        }
        for_each_child_block(stmt, [&](const std::vector<Stmt> &inner, BlockRole) {
            collect_try_assigned_names(inner, out);
        });
    }
}

PathSet analyse_body_assignments(const std::vector<Stmt> &body, const std::vector<Param> &params) {
    std::unordered_map<std::string, unsigned> counts;
    count_bindings(body, 1, counts);
    // A parameter is bound once by the call itself, so any binding in the
    // body is its second.
    for (const Param &p : params)
        ++counts[p.name];
    PathSet result;
    for (const auto &[name, count] : counts)
        if (count == 1)
            result.insert(name);
    return result;
}

ClassTable class_table(const std::vector<ClassDef> &classes) {
    ClassTable table;
    table.reserve(classes.size());
    for (const ClassDef &c : classes)
        table[c.name] = &c;
    return table;
}

void check_annotation_classes(const ClassTable &classes, const Type &t, uint64_t line,
                              uint64_t column) {
    switch (t.tag()) {
    case TypeKind::List:
        check_annotation_classes(classes, *t.as<Type::List>()->element, line, column);
        break;
    case TypeKind::Set:
        check_annotation_classes(classes, *t.as<Type::Set>()->element, line, column);
        break;
    case TypeKind::Dict:
        check_annotation_classes(classes, *t.as<Type::Dict>()->key, line, column);
        check_annotation_classes(classes, *t.as<Type::Dict>()->value, line, column);
        break;
    case TypeKind::Tuple:
        for (const Type &e : t.as<Type::Tuple>()->elements)
            check_annotation_classes(classes, e, line, column);
        break;
    case TypeKind::Optional:
        check_annotation_classes(classes, *t.as<Type::Optional>()->inner, line, column);
        break;
    case TypeKind::Class: {
        const std::string &name = t.as<Type::Class>()->name;
        if (classes.count(name))
            break;
        if (auto python = missing_python_exception_message(name))
            throw_error(*python, line, column);
        throw_error(fmt::format("unknown type '{}' (no class with that name)", name), line, column);
    }
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
}

} // namespace kestal
