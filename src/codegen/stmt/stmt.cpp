// Statement dispatch, blocks, expression statements, pass, global and
// return with its return-Type rules.
#include "codegen/stmt/stmt.h"
#include "support/overload.h"

#include "codegen/core/ctypes.h"
#include "codegen/core/widening.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/divisor_facts.h"
#include "codegen/stmt/lowerings.h"

namespace kestal {

namespace {

bool is_valueless(const Type &t) {
    return t.is<Type::None>() || t.is<Type::NoValue>();
}

void compile_return(CodegenContext &ctx, const Stmt &stmt, const Stmt::Return &ret) {
    FunctionFrame &frame = ctx.frame();
    if (frame.is_module_level)
        throw_error("'return' outside of a function", stmt.line, stmt.column);
    std::optional<Type> r = frame.return_type;
    CompiledExpr v{"((uint8_t)0)", Type::none()};
    uint64_t pl = stmt.line, pc = stmt.column;
    if (ret.value) {
        v = compile_expr(ctx, *ret.value, r ? &*r : nullptr);
        pl = ret.value->line;
        pc = ret.value->column;
    }
    bool valueless = is_valueless(v.type);
    if (!r) {
        if (valueless) {
            set_return_type(ctx, Type::no_value());
            emit_line(ctx, "{};", v.text);
            emit_return(ctx, std::nullopt);
        } else {
            set_return_type(ctx, v.type);
            emit_return(ctx, v);
        }
        return;
    }
    if (r->is<Type::NoValue>()) {
        if (valueless) {
            emit_line(ctx, "{};", v.text);
            emit_return(ctx, std::nullopt);
            return;
        }
        if (frame.return_annotated)
            throw_error(
                fmt::format("this function returns nothing (`-> None`), but this returns {:#}",
                            v.type),
                stmt.line, stmt.column);
        throw return_widening(make_optional(v.type), pl, pc);
    }
    if (auto converted = coerce_expr(ctx, v.text, v.type, *r)) {
        emit_return(ctx, CompiledExpr{*converted, *r});
        return;
    }
    if (v.type.is<Type::NoValue>() && r->is<Type::Optional>()) {
        emit_line(ctx, "{};", v.text);
        emit_return(ctx, CompiledExpr{fmt::format("(({}){{0}})", c_type_name(*r)), *r});
        return;
    }
    auto joined = join_types(ctx, *r, v.type);
    if (frame.return_annotated || !joined) {
        if (valueless)
            throw_error(
                fmt::format("this function returns {}, so it can't return None (annotate it "
                            "`-> {} | None`)",
                            *r, *r),
                stmt.line, stmt.column);
        throw_error(
            fmt::format("returning {:#} from a function that returns {} (add `-> {}` to the "
                        "def if intended)",
                        v.type, *r, v.type),
            pl, pc);
    }
    throw return_widening(*joined, pl, pc);
}

} // namespace

void compile_block(CodegenContext &ctx, const std::vector<Stmt> &body) {
    IndentGuard indent(ctx);
    DivisorFactsScope facts(ctx);
    for (const Stmt &s : body)
        compile_stmt(ctx, s);
    // Whatever follows the block runs when something inside it raises.
    ctx.frame().rest_unreachable = false;
}

void emit_return(CodegenContext &ctx, const std::optional<CompiledExpr> &value) {
    // A return from inside blocks that hold resources or handlers (a file a
    // loop or `with` opened, an entered `try`) releases them, innermost
    // first, after the value is computed.
    if (ctx.frame().cleanup_lines.empty()) {
        if (value) {
            emit_line(ctx, "return {};", value->text);
        } else {
            emit_line(ctx, "return;");
        }
        return;
    }
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        std::string r;
        if (value) {
            r = fresh_temp(ctx, "ret");
            emit_line(ctx, "{} {} = {};", c_type_name(value->type), r, value->text);
        }
        emit_cleanups(ctx, 0);
        emit_line(ctx, value ? fmt::format("return {};", r) : std::string("return;"));
    }
    emit_line(ctx, "}");
}

void compile_stmt(CodegenContext &ctx, const Stmt &stmt) {
    if (ctx.frame().rest_unreachable)
        return;
    begin_divisor_facts(ctx, stmt);
    std::visit(
        Overload{
            [&](const Stmt::ExprStmt &s) {
                CompiledExpr e = compile_expr(ctx, s.expr);
                emit_line(ctx, "{};", e.text);
            },
            [&](const Stmt::Assign &s) { compile_assign_stmt(ctx, stmt, s); },
            [&](const Stmt::Unpack &s) { compile_unpack_stmt(ctx, s); },
            [&](const Stmt::AugAssign &s) { compile_aug_assign(ctx, s.target, s.op, s.value); },
            [&](const Stmt::If &s) { compile_if_stmt(ctx, s); },
            [&](const Stmt::While &s) {
                RepeatedCode repeated(ctx);
                compile_while_stmt(ctx, s);
            },
            [&](const Stmt::For &s) {
                RepeatedCode repeated(ctx);
                compile_for_stmt(ctx, stmt, s);
            },
            [&](const Stmt::Break &) { compile_loop_exit(ctx, stmt, true); },
            [&](const Stmt::Continue &) { compile_loop_exit(ctx, stmt, false); },
            [&](const Stmt::Pass &) {},
            [&](const Stmt::Return &s) { compile_return(ctx, stmt, s); },
            [&](const Stmt::Global &) {},
            [&](const Stmt::Del &s) { compile_del_stmt(ctx, s); },
            [&](const Stmt::With &s) { compile_with_stmt(ctx, s); },
            [&](const Stmt::Try &s) { compile_try_stmt(ctx, s); },
            [&](const Stmt::Raise &s) { compile_raise_stmt(ctx, stmt, s); },
            [&](const Stmt::Assert &s) { compile_assert_stmt(ctx, stmt, s); },
        },
        stmt.kind);
    end_divisor_facts(ctx, stmt);
}

} // namespace kestal
