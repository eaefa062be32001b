// `raise` (with a cause, or bare inside an except clause), `assert`, and
// `del` of list items, list slices and dict keys. A raise records its line
// and the function's name for the traceback; an assert builds its
// AssertionError only on the failing path. Each `del` evaluates the object
// before the index, as Python does, by binding both to temporaries.
#include "codegen/classes/exceptions.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/expr.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

namespace kestal {

namespace {

void del_item(CodegenContext &ctx, const Expr &target, const Expr::Index &ix) {
    CompiledExpr o = compile_expr(ctx, *ix.object);
    if (const auto *l = o.type.as<Type::List>()) {
        std::string index = check_int_operand(ctx, *ix.index, "a list index");
        std::string name = list_c_name(*l->element);
        std::string t = fresh_temp(ctx, "l"), i = fresh_temp(ctx, "i");
        note_list_length_change(ctx);
        // Python names the store, not a pop, when the index is out of range.
        emit_line(
            ctx,
            "{{ {0} *{1} = {2}; int64_t {3} = {4}; if ({3} < 0) {3} += {1}->len; "
            "if (KTL_UNLIKELY({3} < 0 || {3} >= {1}->len)) "
            "ktl_index_error(\"list assignment\", {3}, {1}->len); (void){0}_pop_at({1}, {3}); "
            "}}",
            name, t, o.text, i, index);
        return;
    }
    if (const auto *d = o.type.as<Type::Dict>()) {
        std::string name = dict_c_name(*d->key, *d->value);
        std::string t = fresh_temp(ctx, "d");
        std::string key = compile_dict_key(ctx, *ix.index, *d->key);
        emit_line(ctx, "{{ {0} *{1} = {2}; {0}_del({1}, {3}); }}", name, t, o.text, key);
        return;
    }
    throw_error(fmt::format("{:#} doesn't support deleting items", o.type), target.line,
                target.column);
}

void del_slice(CodegenContext &ctx, const Expr &target, const Expr::Slice &s) {
    CompiledExpr o = compile_expr(ctx, *s.object);
    const auto *l = o.type.as<Type::List>();
    if (!l)
        throw_error(fmt::format("{:#} doesn't support deleting slices", o.type), target.line,
                    target.column);
    std::string name = list_c_name(*l->element);
    std::string t = fresh_temp(ctx, "l");
    note_list_length_change(ctx);
    SliceBounds b = compile_slice_bounds(ctx, s);
    emit_line(ctx,
              "{{ {0} *{1} = {2}; int64_t _lo = {3}; int64_t _hi = {4}; {0}_delslice({1}, _lo, "
              "_hi, {5}); }}",
              name, t, o.text, b.start, b.stop, b.step.value_or("1"));
}

} // namespace

void compile_raise_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Raise &s) {
    const FunctionFrame &frame = ctx.frame();
    if (!s.exception) {
        if (frame.handled_exceptions.empty())
            throw_error("a bare `raise` only works inside an except block (it re-raises the "
                        "exception being handled)",
                        stmt.line, stmt.column);
        emit_line(ctx, "ktl_reraise({});", frame.handled_exceptions.back());
        return;
    }
    CompiledExpr e = compile_raise_operand(ctx, *s.exception);
    std::string cause;
    if (s.cause && !s.cause->is<Expr::None>())
        cause = fmt::format("(void)({}); ", compile_raise_operand(ctx, *s.cause).text);
    emit_line(ctx, "{{ void *_x = {}; {}ktl_raise_at(_x, {}, \"{}\"); }}", e.text, cause, stmt.line,
              traceback_name(ctx));
}

void compile_assert_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assert &s) {
    if (none_test_fact(ctx, s.condition) != StaticTruth::True) {
        std::string cond = compile_condition(ctx, s.condition);
        std::vector<Expr> args;
        if (s.message)
            args.push_back(*s.message);
        CompiledExpr exc =
            compile_exception_construct(ctx, "AssertionError", args, {}, stmt.line, stmt.column);
        emit_line(ctx, "if (KTL_UNLIKELY(!({}))) ktl_raise_at({}, {}, \"{}\");", cond, exc.text,
                  stmt.line, traceback_name(ctx));
    }
    for (const std::string &p : non_none_paths_if_true(s.condition).when_true)
        ctx.frame().narrowed_paths.insert(p);
}

void compile_del_stmt(CodegenContext &ctx, const Stmt::Del &s) {
    for (const Expr &target : s.targets) {
        if (const auto *ix = target.as<Expr::Index>()) {
            del_item(ctx, target, *ix);
        } else if (const auto *sl = target.as<Expr::Slice>()) {
            del_slice(ctx, target, *sl);
        } else {
            throw_error("del only works on items and slices (`del d[key]`, `del xs[i]`, "
                        "`del xs[a:b]`)",
                        target.line, target.column);
        }
    }
}

} // namespace kestal
