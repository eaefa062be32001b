// Name walkers: syntax tree in, name sets out.
//
// One recursive walk per node family fills a NameSets record; the collectors
// below are thin drivers that seed the record and pick the sets they need.
// A lambda expression is looked into through its lifted FuncDef, and only its
// captures (the free names of its body) count as read where it appears.
#include "analysis/walkers.h"
#include "ast/overload.h"

#include <algorithm>
#include <variant>

namespace kestal {

namespace {


void walk_exprs(NameSets& names, const std::vector<Expr>& exprs) {
    for (const Expr& e : exprs) walk_expr_names(names, e);
}

void walk_call_args(NameSets& names, const std::vector<Expr>& args, const std::vector<Keyword>& kwargs) {
    walk_exprs(names, args);
    for (const Keyword& kw : kwargs) walk_expr_names(names, kw.value);
}

void walk_optional(NameSets& names, const std::optional<Box<Expr>>& e) {
    if (e) walk_expr_names(names, **e);
}

void walk_optional(NameSets& names, const std::optional<Expr>& e) {
    if (e) walk_expr_names(names, *e);
}

// Each clause binds its target, then reads its iterable and filters; the
// element is walked by the caller afterwards.
void walk_clauses(NameSets& names, const std::vector<ComprehensionClause>& clauses) {
    for (const ComprehensionClause& clause : clauses) {
        walk_target_names(names, clause.target);
        walk_expr_names(names, clause.iterable);
        walk_exprs(names, clause.conditions);
    }
}

void walk_block(NameSets& names, const std::vector<Stmt>& body) {
    for (const Stmt& s : body) walk_stmt_names(names, s);
}

void walk_optional_block(NameSets& names, const std::optional<std::vector<Stmt>>& body) {
    if (body) walk_block(names, *body);
}

void collect_globals_in(const std::optional<std::vector<Stmt>>& body, std::set<std::string>& out) {
    if (body) collect_global_declarations(*body, out);
}

// A function's parameters bound, its defaults and body walked.
NameSets walk_function(const std::vector<FuncDef>& lambdas, const FuncDef& fn) {
    NameSets names(lambdas);
    for (const Param& p : fn.params) names.assigned.insert(p.name);
    for (const Param& p : fn.params) walk_optional(names, p.default_value);
    walk_block(names, fn.body);
    return names;
}

// What a function or method contributes to the globals: names it reads but
// never binds, names it binds but declared global, and every global name.
void add_function_free_names(const std::vector<FuncDef>& lambdas, const FuncDef& fn,
                             std::set<std::string>& out) {
    NameSets names = walk_function(lambdas, fn);
    for (const std::string& n : names.read) {
        if (!names.assigned.count(n) || names.declared_global.count(n)) out.insert(n);
    }
    out.insert(names.declared_global.begin(), names.declared_global.end());
}

} // namespace

void walk_expr_names(NameSets& names, const Expr& expr) {
    std::visit(Overload{
                   [](const Expr::Int&) {},
                   [](const Expr::Float&) {},
                   [](const Expr::Str&) {},
                   [](const Expr::Bool&) {},
                   [](const Expr::None&) {},
                   [&](const Expr::FString& e) {
                       for (const FStringSegment& seg : e.segments) {
                           if (const auto* field = std::get_if<FStringSegment::Field>(&seg.kind)) {
                               walk_expr_names(names, field->expr);
                           }
                       }
                   },
                   [&](const Expr::Name& e) { names.read.insert(e.name); },
                   [&](const Expr::BinaryOp& e) {
                       walk_expr_names(names, *e.left);
                       walk_expr_names(names, *e.right);
                   },
                   [&](const Expr::Unary& e) { walk_expr_names(names, *e.operand); },
                   [&](const Expr::IfExp& e) {
                       walk_expr_names(names, *e.condition);
                       walk_expr_names(names, *e.if_true);
                       walk_expr_names(names, *e.if_false);
                   },
                   [&](const Expr::Call& e) {
                       // Calling `g` reads `g`: it may be a variable holding a
                       // function value, which must then be visible here.
                       names.read.insert(e.name);
                       walk_call_args(names, e.args, e.kwargs);
                   },
                   [&](const Expr::CallExpr& e) {
                       walk_expr_names(names, *e.callee);
                       walk_call_args(names, e.args, e.kwargs);
                   },
                   [&](const Expr::MethodCall& e) {
                       walk_expr_names(names, *e.receiver);
                       walk_call_args(names, e.args, e.kwargs);
                   },
                   [&](const Expr::Attribute& e) { walk_expr_names(names, *e.object); },
                   [&](const Expr::Index& e) {
                       walk_expr_names(names, *e.object);
                       walk_expr_names(names, *e.index);
                   },
                   [&](const Expr::Slice& e) {
                       walk_expr_names(names, *e.object);
                       walk_optional(names, e.lower);
                       walk_optional(names, e.upper);
                       walk_optional(names, e.step);
                   },
                   [&](const Expr::List& e) { walk_exprs(names, e.elements); },
                   [&](const Expr::Tuple& e) { walk_exprs(names, e.elements); },
                   [&](const Expr::Set& e) { walk_exprs(names, e.elements); },
                   [&](const Expr::Dict& e) {
                       for (const DictEntry& entry : e.entries) {
                           walk_expr_names(names, entry.key);
                           walk_expr_names(names, entry.value);
                       }
                   },
                   [&](const Expr::ListComp& e) {
                       walk_clauses(names, e.clauses);
                       walk_expr_names(names, *e.element);
                   },
                   [&](const Expr::SetComp& e) {
                       walk_clauses(names, e.clauses);
                       walk_expr_names(names, *e.element);
                   },
                   [&](const Expr::GeneratorExp& e) {
                       walk_clauses(names, e.clauses);
                       walk_expr_names(names, *e.element);
                   },
                   [&](const Expr::DictComp& e) {
                       walk_clauses(names, e.clauses);
                       walk_expr_names(names, *e.key);
                       walk_expr_names(names, *e.value);
                   },
                   [&](const Expr::Lambda& e) {
                       for (const std::string& n : collect_lambda_captures(names.lambdas, e.index)) {
                           names.read.insert(n);
                           names.captured.insert(n);
                       }
                   },
               },
               expr.kind);
}

void walk_target_names(NameSets& names, const Expr& target) {
    if (const auto* tuple = target.as<Expr::Tuple>()) {
        for (const Expr& e : tuple->elements) walk_target_names(names, e);
    } else if (const auto* list = target.as<Expr::List>()) {
        for (const Expr& e : list->elements) walk_target_names(names, e);
    } else if (const auto* name = target.as<Expr::Name>()) {
        names.assigned.insert(name->name);
    } else {
        walk_expr_names(names, target);
    }
}

void walk_stmt_names(NameSets& names, const Stmt& stmt) {
    std::visit(Overload{
                   [&](const Stmt::ExprStmt& s) { walk_expr_names(names, s.expr); },
                   [&](const Stmt::Assign& s) {
                       walk_target_names(names, s.target);
                       walk_expr_names(names, s.value);
                   },
                   [&](const Stmt::Unpack& s) {
                       for (const Expr& t : s.targets) walk_target_names(names, t);
                       walk_expr_names(names, s.value);
                   },
                   [&](const Stmt::AugAssign& s) {
                       // The old value is read before the new one is bound.
                       walk_expr_names(names, s.target);
                       walk_target_names(names, s.target);
                       walk_expr_names(names, s.value);
                   },
                   [&](const Stmt::If& s) {
                       for (const IfBranch& b : s.branches) {
                           walk_expr_names(names, b.condition);
                           walk_block(names, b.body);
                       }
                       walk_optional_block(names, s.else_body);
                   },
                   [&](const Stmt::While& s) {
                       walk_expr_names(names, s.condition);
                       walk_block(names, s.body);
                       walk_optional_block(names, s.else_body);
                   },
                   [&](const Stmt::For& s) {
                       walk_target_names(names, s.target);
                       walk_expr_names(names, s.iterable);
                       walk_block(names, s.body);
                       walk_optional_block(names, s.else_body);
                   },
                   [](const Stmt::Break&) {},
                   [](const Stmt::Continue&) {},
                   [](const Stmt::Pass&) {},
                   [&](const Stmt::Return& s) { walk_optional(names, s.value); },
                   [&](const Stmt::Global& s) {
                       names.declared_global.insert(s.names.begin(), s.names.end());
                   },
                   [&](const Stmt::Del& s) {
                       for (const Expr& t : s.targets) walk_expr_names(names, t);
                   },
                   [&](const Stmt::With& s) {
                       for (const WithItem& item : s.items) {
                           walk_expr_names(names, item.context);
                           if (item.target) walk_target_names(names, *item.target);
                       }
                       walk_block(names, s.body);
                   },
                   [&](const Stmt::Try& s) {
                       for (const ExceptHandler& h : s.handlers) {
                           walk_exprs(names, h.types);
                           if (h.name) names.assigned.insert(*h.name);
                       }
                       walk_block(names, s.body);
                       for (const ExceptHandler& h : s.handlers) walk_block(names, h.body);
                       walk_optional_block(names, s.else_body);
                       walk_optional_block(names, s.finally_body);
                   },
                   [&](const Stmt::Raise& s) {
                       walk_optional(names, s.exception);
                       walk_optional(names, s.cause);
                   },
                   [&](const Stmt::Assert& s) {
                       walk_expr_names(names, s.condition);
                       walk_optional(names, s.message);
                   },
               },
               stmt.kind);
}

void collect_target_names(const Expr& target, std::vector<std::string>& out) {
    if (const auto* tuple = target.as<Expr::Tuple>()) {
        for (const Expr& e : tuple->elements) collect_target_names(e, out);
    } else if (const auto* list = target.as<Expr::List>()) {
        for (const Expr& e : list->elements) collect_target_names(e, out);
    } else if (const auto* name = target.as<Expr::Name>()) {
        out.push_back(name->name);
    }
}

BlockNames collect_block_names(const std::vector<FuncDef>& lambdas, const std::vector<Stmt>& statements) {
    NameSets names(lambdas);
    walk_block(names, statements);
    return BlockNames{std::move(names.read), std::move(names.assigned)};
}

void collect_global_declarations(const std::vector<Stmt>& statements, std::set<std::string>& out) {
    for (const Stmt& stmt : statements) {
        std::visit(Overload{
                       [&](const Stmt::Global& s) { out.insert(s.names.begin(), s.names.end()); },
                       [&](const Stmt::If& s) {
                           for (const IfBranch& b : s.branches) collect_global_declarations(b.body, out);
                           collect_globals_in(s.else_body, out);
                       },
                       [&](const Stmt::While& s) {
                           collect_global_declarations(s.body, out);
                           collect_globals_in(s.else_body, out);
                       },
                       [&](const Stmt::For& s) {
                           collect_global_declarations(s.body, out);
                           collect_globals_in(s.else_body, out);
                       },
                       [&](const Stmt::With& s) { collect_global_declarations(s.body, out); },
                       [&](const Stmt::Try& s) {
                           collect_global_declarations(s.body, out);
                           for (const ExceptHandler& h : s.handlers) collect_global_declarations(h.body, out);
                           collect_globals_in(s.else_body, out);
                           collect_globals_in(s.finally_body, out);
                       },
                       [](const auto&) {},
                   },
                   stmt.kind);
    }
}

std::vector<std::string> collect_lambda_captures(const std::vector<FuncDef>& lambdas, uint64_t index) {
    NameSets names = walk_function(lambdas, lambdas.at(index));
    // std::set iterates in bytewise order, a prefix before its extensions.
    std::vector<std::string> captures;
    for (const std::string& n : names.read) {
        if (!names.assigned.count(n)) captures.push_back(n);
    }
    return captures;
}

std::set<std::string> collect_function_free_names(const Program& program) {
    std::set<std::string> result;
    NameSets top(program.lambdas);
    walk_block(top, program.statements);
    result.insert(top.captured.begin(), top.captured.end());
    for (const FuncDef& fn : program.functions) add_function_free_names(program.lambdas, fn, result);
    for (const ClassDef& cls : program.classes) {
        for (const FuncDef& method : cls.methods) add_function_free_names(program.lambdas, method, result);
    }
    return result;
}

} // namespace kestal
