// if, while, break and continue, and the loop-body and loop-else helpers
// every loop shares. Branches a None test decides by the Types alone are
// not emitted at all; the narrowing facts that hold after an `if` are those
// of every way through it that completes.
#include "analysis/analyses.h"
#include "codegen/expr/expr.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/index_hoisting.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

namespace kestal {

namespace {

using PathsCopy = std::unordered_set<std::string>;

void add_paths(CodegenContext &ctx, const std::vector<std::string> &paths) {
    for (const auto &p : paths)
        ctx.frame().narrowed_paths.insert(p);
}

PathsCopy intersection(const std::vector<PathsCopy> &states) {
    PathsCopy out = states.front();
    for (size_t i = 1; i < states.size(); ++i) {
        for (auto it = out.begin(); it != out.end();) {
            if (!states[i].count(*it)) {
                it = out.erase(it);
            } else {
                ++it;
            }
        }
    }
    return out;
}

} // namespace

// Up to this many branches an `elif` chain is written as C's `else if`.
// Each `else if` nests one statement deeper, and C compilers parse that
// nesting recursively (clang's stack gives out at some thousands), so a
// longer chain is written flat: a run of plain `if`s, each taken branch
// jumping to a label after the chain.
constexpr size_t kMaxElseIfChain = 64;

// One piece: the branch loop carries the open-branch state and the end
// states of the narrowing facts together.
void compile_if_stmt(CodegenContext &ctx, const Stmt::If &s) {
    bool opened = false;
    std::optional<std::string> end_label;
    if (s.branches.size() > kMaxElseIfChain)
        end_label = fresh_temp(ctx, "endif");
    const bool flat = end_label.has_value();
    auto close_chain = [&](std::vector<PathsCopy> &end_states) {
        if (flat)
            emit_line(ctx, "{}:;", *end_label);
        if (!end_states.empty())
            ctx.frame().narrowed_paths = intersection(end_states);
    };
    std::vector<PathsCopy> end_states;
    for (const IfBranch &branch : s.branches) {
        StaticTruth truth = none_test_fact(ctx, branch.condition);
        NarrowingFacts facts = non_none_paths_if_true(branch.condition);
        if (truth == StaticTruth::False) {
            add_paths(ctx, facts.when_false);
            continue;
        }
        PathsCopy snapshot = ctx.frame().narrowed_paths;
        if (truth == StaticTruth::True) {
            emit_line(ctx, opened && !flat ? "} else {" : "{");
        } else {
            std::string cond = compile_condition(ctx, branch.condition);
            emit_line(ctx, "{} ({}) {{", opened && !flat ? "} else if" : "if", cond);
        }
        add_paths(ctx, facts.when_true);
        compile_block(ctx, branch.body);
        if (!block_never_completes(branch.body))
            end_states.push_back(ctx.frame().narrowed_paths);
        ctx.frame().narrowed_paths = snapshot;
        if (truth == StaticTruth::True) {
            emit_line(ctx, "}");
            close_chain(end_states);
            ctx.frame().rest_unreachable = block_never_completes(branch.body);
            return;
        }
        if (flat) {
            emit_line(ctx, "goto {};", *end_label);
            emit_line(ctx, "}");
        }
        opened = true;
        add_paths(ctx, facts.when_false);
    }
    if (!s.else_body) {
        end_states.push_back(ctx.frame().narrowed_paths);
        if (opened && !flat)
            emit_line(ctx, "}");
    } else {
        emit_line(ctx, opened && !flat ? "} else {" : "{");
        compile_block(ctx, *s.else_body);
        if (!block_never_completes(*s.else_body))
            end_states.push_back(ctx.frame().narrowed_paths);
        emit_line(ctx, "}");
    }
    close_chain(end_states);
}

void compile_while_stmt(CodegenContext &ctx, const Stmt::While &s) {
    PathSet assigned;
    collect_assigned_names(s.body, assigned);
    for (const auto &p : assigned)
        forget_facts_under(ctx, p);
    StaticTruth truth = none_test_fact(ctx, s.condition);
    if (truth == StaticTruth::False) {
        if (s.else_body) {
            emit_line(ctx, "{");
            compile_block(ctx, *s.else_body);
            emit_line(ctx, "}");
        }
        return;
    }
    PathsCopy snapshot = ctx.frame().narrowed_paths;
    std::string cond = compile_condition(ctx, s.condition);
    std::optional<std::string> label;
    if (s.else_body)
        label = fresh_break_label(ctx);
    IndexHoisting hoisting(ctx, s);
    hoisting.target_bound();
    emit_line(ctx, "while ({}) {{", cond);
    add_paths(ctx, non_none_paths_if_true(s.condition).when_true);
    compile_loop_body(ctx, s.body, label);
    hoisting.finish();
    ctx.frame().narrowed_paths = snapshot;
    emit_line(ctx, "}");
    compile_loop_else(ctx, s.else_body, label);
}

void compile_loop_exit(CodegenContext &ctx, const Stmt &stmt, bool is_break) {
    const char *word = is_break ? "break" : "continue";
    if (ctx.frame().loop_stack.empty())
        throw_error(fmt::format("'{}' outside of a loop", word), stmt.line, stmt.column);
    const LoopEntry &entry = ctx.frame().loop_stack.back();
    emit_cleanups(ctx, entry.cleanup_depth);
    if (!is_break) {
        emit_line(ctx, "continue;");
    } else if (entry.break_label) {
        emit_line(ctx, "goto {};", *entry.break_label);
    } else {
        emit_line(ctx, "break;");
    }
}

void compile_loop_body(CodegenContext &ctx, const std::vector<Stmt> &body,
                       const std::optional<std::string> &label, const std::string &cleanup) {
    FunctionFrame &frame = ctx.frame();
    CleanupScope scope(ctx, Cleanup{cleanup});
    frame.loop_stack.push_back(LoopEntry{label, cleanup, frame.cleanup_lines.size()});
    try {
        compile_block(ctx, body);
    } catch (...) {
        frame.loop_stack.pop_back();
        throw;
    }
    frame.loop_stack.pop_back();
}

void compile_loop_else(CodegenContext &ctx, const std::optional<std::vector<Stmt>> &else_body,
                       const std::optional<std::string> &label) {
    if (else_body)
        compile_block(ctx, *else_body);
    if (label)
        emit_line(ctx, "{}:;", *label);
}

std::string fresh_break_label(CodegenContext &ctx) {
    return fresh_temp(ctx, "brk");
}

} // namespace kestal
