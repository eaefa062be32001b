// The child traversals: one visit per tree, every kind listed. A kind
// without children is named in the `OneOf` arm of its visit, so adding a
// kind to either variant fails to build here until it is placed.
#include "ast/traverse.h"

#include "support/overload.h"

#include <variant>

namespace kestal {

namespace {

void each(const std::vector<Expr> &list, ExprVisit visit, ExprRole role = ExprRole::Read) {
    for (const Expr &e : list)
        visit(e, role);
}

void each_keyword(const std::vector<Keyword> &list, ExprVisit visit) {
    for (const Keyword &k : list)
        visit(k.value, ExprRole::Read);
}

void each_optional(const std::optional<Box<Expr>> &e, ExprVisit visit) {
    if (e)
        visit(**e, ExprRole::Read);
}

void each_optional(const std::optional<Expr> &e, ExprVisit visit, ExprRole role = ExprRole::Read) {
    if (e)
        visit(*e, role);
}

void each_clause(const std::vector<ComprehensionClause> &clauses, ExprVisit visit) {
    for (const ComprehensionClause &c : clauses) {
        visit(c.target, ExprRole::LoopBind);
        visit(c.iterable, ExprRole::Read);
        each(c.conditions, visit);
    }
}

void each_optional_block(const std::optional<std::vector<Stmt>> &body, BlockVisit visit) {
    if (body)
        visit(*body, BlockRole::Once);
}

} // namespace

void for_each_child_expr(const Expr &expr, ExprVisit visit) {
    std::visit(Overload{
                   [](const OneOf<Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::Name,
                                  Expr::Lambda, Expr::None> auto &) {},
                   [&](const Expr::FString &e) {
                       for (const FStringSegment &seg : e.segments) {
                           std::visit(Overload{
                                          [](const FStringSegment::Literal &) {},
                                          [&](const FStringSegment::Field &f) {
                                              visit(f.expr, ExprRole::Read);
                                          },
                                      },
                                      seg.kind);
                       }
                   },
                   [&](const Expr::BinaryOp &e) {
                       visit(*e.left, ExprRole::Read);
                       visit(*e.right, ExprRole::Read);
                   },
                   [&](const Expr::Unary &e) { visit(*e.operand, ExprRole::Read); },
                   [&](const Expr::IfExp &e) {
                       visit(*e.condition, ExprRole::Read);
                       visit(*e.if_true, ExprRole::Read);
                       visit(*e.if_false, ExprRole::Read);
                   },
                   [&](const Expr::Call &e) {
                       each(e.args, visit);
                       each_keyword(e.kwargs, visit);
                   },
                   [&](const Expr::CallExpr &e) {
                       visit(*e.callee, ExprRole::Read);
                       each(e.args, visit);
                       each_keyword(e.kwargs, visit);
                   },
                   [&](const Expr::MethodCall &e) {
                       visit(*e.receiver, ExprRole::Read);
                       each(e.args, visit);
                       each_keyword(e.kwargs, visit);
                   },
                   [&](const Expr::Attribute &e) { visit(*e.object, ExprRole::Read); },
                   [&](const Expr::Index &e) {
                       visit(*e.object, ExprRole::Read);
                       visit(*e.index, ExprRole::Read);
                   },
                   [&](const Expr::Slice &e) {
                       visit(*e.object, ExprRole::Read);
                       each_optional(e.lower, visit);
                       each_optional(e.upper, visit);
                       each_optional(e.step, visit);
                   },
                   [&](const OneOf<Expr::List, Expr::Tuple, Expr::Set> auto &e) {
                       each(e.elements, visit);
                   },
                   [&](const Expr::Dict &e) {
                       for (const DictEntry &entry : e.entries) {
                           visit(entry.key, ExprRole::Read);
                           visit(entry.value, ExprRole::Read);
                       }
                   },
                   [&](const OneOf<Expr::SetComp, Expr::ListComp, Expr::GeneratorExp> auto &e) {
                       visit(*e.element, ExprRole::Read);
                       each_clause(e.clauses, visit);
                   },
                   [&](const Expr::DictComp &e) {
                       visit(*e.key, ExprRole::Read);
                       visit(*e.value, ExprRole::Read);
                       each_clause(e.clauses, visit);
                   },
               },
               expr.kind);
}

void for_each_child_expr(const Expr &expr, ExprOnlyVisit visit) {
    for_each_child_expr(expr, [&](const Expr &child, ExprRole) { visit(child); });
}

void for_each_stmt_expr(const Stmt &stmt, ExprVisit visit) {
    std::visit(Overload{
                   [](const OneOf<Stmt::Break, Stmt::Continue, Stmt::Pass, Stmt::Global> auto &) {},
                   [&](const Stmt::ExprStmt &s) { visit(s.expr, ExprRole::Read); },
                   [&](const Stmt::Assign &s) {
                       visit(s.target, ExprRole::Bind);
                       visit(s.value, ExprRole::Read);
                   },
                   [&](const Stmt::Unpack &s) {
                       each(s.targets, visit, ExprRole::Bind);
                       visit(s.value, ExprRole::Read);
                   },
                   [&](const Stmt::AugAssign &s) {
                       visit(s.target, ExprRole::Update);
                       visit(s.value, ExprRole::Read);
                   },
                   [&](const Stmt::If &s) {
                       for (const IfBranch &b : s.branches)
                           visit(b.condition, ExprRole::Read);
                   },
                   [&](const Stmt::While &s) { visit(s.condition, ExprRole::Read); },
                   [&](const Stmt::For &s) {
                       visit(s.target, ExprRole::LoopBind);
                       visit(s.iterable, ExprRole::Read);
                   },
                   [&](const Stmt::Return &s) { each_optional(s.value, visit); },
                   [&](const Stmt::Del &s) { each(s.targets, visit, ExprRole::Delete); },
                   [&](const Stmt::With &s) {
                       for (const WithItem &item : s.items) {
                           visit(item.context, ExprRole::Read);
                           each_optional(item.target, visit, ExprRole::Bind);
                       }
                   },
                   [&](const Stmt::Try &s) {
                       for (const ExceptHandler &h : s.handlers)
                           each(h.types, visit);
                   },
                   [&](const Stmt::Raise &s) {
                       each_optional(s.exception, visit);
                       each_optional(s.cause, visit);
                   },
                   [&](const Stmt::Assert &s) {
                       visit(s.condition, ExprRole::Read);
                       each_optional(s.message, visit);
                   },
               },
               stmt.kind);
}

void for_each_child_block(const Stmt &stmt, BlockVisit visit) {
    std::visit(Overload{
                   [](const OneOf<Stmt::ExprStmt, Stmt::Assign, Stmt::Unpack, Stmt::AugAssign,
                                  Stmt::Break, Stmt::Continue, Stmt::Pass, Stmt::Return,
                                  Stmt::Global, Stmt::Del, Stmt::Raise, Stmt::Assert> auto &) {},
                   [&](const Stmt::If &s) {
                       for (const IfBranch &b : s.branches)
                           visit(b.body, BlockRole::Once);
                       each_optional_block(s.else_body, visit);
                   },
                   [&](const OneOf<Stmt::While, Stmt::For> auto &s) {
                       visit(s.body, BlockRole::LoopBody);
                       each_optional_block(s.else_body, visit);
                   },
                   [&](const Stmt::With &s) { visit(s.body, BlockRole::Once); },
                   [&](const Stmt::Try &s) {
                       visit(s.body, BlockRole::Once);
                       for (const ExceptHandler &h : s.handlers)
                           visit(h.body, BlockRole::Once);
                       each_optional_block(s.else_body, visit);
                       each_optional_block(s.finally_body, visit);
                   },
               },
               stmt.kind);
}

void for_each_child_stmt(const Stmt &stmt, StmtVisit visit) {
    for_each_child_block(stmt, [&](const std::vector<Stmt> &body, BlockRole) {
        for (const Stmt &s : body)
            visit(s);
    });
}

} // namespace kestal
