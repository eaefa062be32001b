// `with` over files, `try` with its `finally` body, and the cleanup entries
// that early ways out of them (`return`, `break`, `continue`) run first.
//
// A `finally` body runs on three kinds of path: the normal end of the `try`,
// the landing of an exception (then re-raised), and every early way out from
// inside the `try`. Each place gets its own compiled copy of the body, so a
// loop or an `if` chain in it never defines a C label twice. The copies are
// compiled after the `try` body, so names that body assigns are known to
// them; an early way out first emits a marker line, replaced by its copy
// once the body is done.
#include "analysis/analyses.h"
#include "ast/traverse.h"
#include "codegen/classes/exceptions.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/divisor_facts.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

#include <memory>

namespace kestal {

namespace {

bool program_uses_try(CodegenContext &ctx) {
    if (ctx.uses_try)
        return *ctx.uses_try;
    auto any_try = [](const std::vector<Stmt> &body) {
        for (const Stmt &s : body)
            if (any_stmt_matches(is_try_stmt, s))
                return true;
        return false;
    };
    bool found = any_try(ctx.program->statements);
    for (const FuncDef &f : ctx.program->functions)
        found = found || any_try(f.body);
    for (const ClassDef &c : ctx.program->classes)
        for (const FuncDef &m : c.methods)
            found = found || any_try(m.body);
    ctx.uses_try = found;
    return found;
}

// The first `break` or `continue` of the statements that leaves a loop
// enclosing them (one not inside a loop of their own).
const Stmt *first_loop_exit(const std::vector<Stmt> &body) {
    for (const Stmt &s : body) {
        if (s.is<Stmt::Break>() || s.is<Stmt::Continue>())
            return &s;
        const Stmt *found = nullptr;
        for_each_child_block(s, [&](const std::vector<Stmt> &inner, BlockRole role) {
            if (!found && role != BlockRole::LoopBody)
                found = first_loop_exit(inner);
        });
        if (found)
            return found;
    }
    return nullptr;
}

// The statements of a `finally` body compiled at the given indentation
// into a text of their own, starting from the given narrowing facts.
std::string compile_finally_copy(CodegenContext &ctx, const std::vector<Stmt> &body,
                                 unsigned indent, const std::unordered_set<std::string> &facts) {
    FunctionFrame &frame = ctx.frame();
    std::string saved_body = std::move(frame.body);
    unsigned saved_indent = frame.indent;
    auto saved_facts = frame.narrowed_paths;
    frame.body.clear();
    frame.indent = indent;
    frame.narrowed_paths = facts;
    auto restore = [&] {
        std::string text = std::move(frame.body);
        frame.body = std::move(saved_body);
        frame.indent = saved_indent;
        frame.narrowed_paths = std::move(saved_facts);
        return text;
    };
    try {
        DivisorFactsScope divisor_facts(ctx);
        for (const Stmt &s : body)
            compile_stmt(ctx, s);
    } catch (...) {
        restore();
        throw;
    }
    return restore();
}

// Replaces each early-exit marker of a `try` by its own copy of the
// `finally` body. A copy placed inside loops of the `try` body can't leave
// the loop around the `try` with `break` or `continue`: that is refused.
void fill_finally_uses(CodegenContext &ctx, const std::vector<Stmt> &body,
                       const std::vector<FinallyUse> &uses,
                       const std::unordered_set<std::string> &facts) {
    FunctionFrame &frame = ctx.frame();
    for (const FinallyUse &use : uses) {
        if (use.loop_depth > frame.loop_stack.size())
            if (const Stmt *exit = first_loop_exit(body))
                throw_error(fmt::format("'{}' in a finally block can't end a return from "
                                        "inside a loop of its try block",
                                        exit->is<Stmt::Break>() ? "break" : "continue"),
                            exit->line, exit->column);
        std::string copy = compile_finally_copy(ctx, body, use.indent, facts);
        std::string line = std::string(4 * use.indent, ' ') + use.marker + "\n";
        size_t at = frame.body.find(line);
        if (at == std::string::npos)
            internal_fault("a finally marker is missing from the body");
        frame.body.replace(at, line.size(), copy);
    }
}

void compile_try_finally(CodegenContext &ctx, const Stmt::Try &s,
                         const std::unordered_set<std::string> &facts) {
    const std::vector<Stmt> &finally_body = *s.finally_body;
    std::string hf = fresh_temp(ctx, "hf");
    emit_line(ctx, "ktl_handler {0}; ktl_try_enter(&{0});", hf);
    emit_line(ctx, "if (ktl_setjmp({}.jb) == 0) {{", hf);
    auto uses = std::make_shared<std::vector<FinallyUse>>();
    {
        CleanupScope scope(ctx,
                           Cleanup{fmt::format("ktl_htop = {}.prev;", hf), &finally_body, uses});
        IndentGuard indent(ctx);
        compile_try_except(ctx, s);
    }
    unsigned level = ctx.frame().indent;
    emit_line(ctx, "    ktl_htop = {}.prev;", hf);
    emit_line(ctx, "} else {");
    emit_line(ctx, "    void *_fx = ktl_try_land(&{});", hf);
    emit_line(ctx, "    {");
    ctx.frame().body += compile_finally_copy(ctx, finally_body, level + 2, facts);
    emit_line(ctx, "    }");
    emit_line(ctx, "    ktl_reraise(_fx);");
    emit_line(ctx, "}");
    emit_line(ctx, "{");
    ctx.frame().body += compile_finally_copy(ctx, finally_body, level + 1, facts);
    emit_line(ctx, "}");
    fill_finally_uses(ctx, finally_body, *uses, facts);
}

} // namespace

CleanupScope::CleanupScope(CodegenContext &ctx, Cleanup entry)
    : frame_(ctx.frame()), saved_(frame_.cleanup_lines.size()) {
    if (!entry.text.empty() || entry.finally_body)
        frame_.cleanup_lines.push_back(std::move(entry));
}

CleanupScope::~CleanupScope() {
    frame_.cleanup_lines.resize(saved_);
}

void emit_cleanups(CodegenContext &ctx, size_t down_to) {
    FunctionFrame &frame = ctx.frame();
    for (size_t i = frame.cleanup_lines.size(); i-- > down_to;) {
        const Cleanup &c = frame.cleanup_lines[i];
        if (!c.text.empty())
            emit_line(ctx, c.text);
        if (!c.finally_body)
            continue;
        std::string marker = fmt::format("/*{}*/", fresh_temp(ctx, "fin"));
        emit_line(ctx, "{");
        c.finally_uses->push_back(FinallyUse{marker, frame.indent + 1, frame.loop_stack.size()});
        emit_line(ctx, "    {}", marker);
        emit_line(ctx, "}");
    }
}

// One piece: the handler of each item and its cleanup entry are set up
// together, and the entries must outlive the body.
void compile_with_stmt(CodegenContext &ctx, const Stmt::With &s) {
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        std::vector<std::unique_ptr<CleanupScope>> scopes;
        std::vector<std::string> closes;
        for (const WithItem &item : s.items) {
            CompiledExpr c = compile_expr(ctx, item.context);
            if (!c.type.is<Type::File>())
                throw_error(
                    fmt::format("only files can be used in a `with` statement, not {:#}", c.type),
                    item.context.line, item.context.column);
            std::string cm = fresh_temp(ctx, "cm");
            emit_line(ctx, "ktl_file *{} = {};", cm, c.text);
            if (item.target)
                store_to_target(ctx, *item.target, std::nullopt, CompiledExpr{cm, Type::file()});
            std::string prefix;
            if (program_uses_try(ctx)) {
                std::string hw = fresh_temp(ctx, "hw");
                emit_line(ctx, "ktl_handler {0}; ktl_try_enter(&{0});", hw);
                emit_line(ctx,
                          "if (ktl_setjmp({0}.jb) != 0) {{ void *_wx = ktl_try_land(&{0}); "
                          "ktl_file_close({1}); ktl_reraise(_wx); }}",
                          hw, cm);
                prefix = fmt::format("ktl_htop = {}.prev; ", hw);
            }
            closes.push_back(fmt::format("{}ktl_file_close({});", prefix, cm));
            scopes.push_back(std::make_unique<CleanupScope>(ctx, Cleanup{closes.back()}));
        }
        compile_block(ctx, s.body);
        for (size_t i = closes.size(); i-- > 0;) {
            scopes.pop_back();
            emit_line(ctx, closes[i]);
        }
    }
    emit_line(ctx, "}");
}

void compile_try_stmt(CodegenContext &ctx, const Stmt::Try &s) {
    PathSet assigned;
    collect_assigned_names(s.body, assigned);
    for (const ExceptHandler &h : s.handlers)
        collect_assigned_names(h.body, assigned);
    if (s.else_body)
        collect_assigned_names(*s.else_body, assigned);
    if (s.finally_body)
        collect_assigned_names(*s.finally_body, assigned);
    FunctionFrame &frame = ctx.frame();
    auto snapshot = frame.narrowed_paths;
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        if (!s.finally_body) {
            compile_try_except(ctx, s);
        } else {
            for (const std::string &p : assigned)
                forget_facts_under(ctx, p);
            auto facts = frame.narrowed_paths;
            frame.narrowed_paths = snapshot;
            compile_try_finally(ctx, s, facts);
        }
    }
    emit_line(ctx, "}");
    frame.narrowed_paths = snapshot;
    forget_facts_for_names(ctx, assigned);
}

} // namespace kestal
