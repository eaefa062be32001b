// The per-kind expression compiler: literals, names, None and the dispatch
// of every other kind to the lowering that owns it. A generator expression
// has no value of its own: only its consumers (for loops, the built-ins and
// methods that take an iterable) run its loops.
#include "codegen/expr/expr.h"
#include "support/overload.h"

#include "analysis/analyses.h"
#include "ast/python_exceptions.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtins.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/strings.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/comprehensions.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace kestal {

namespace {

// The value of a module constant read through its global, when the value
// has the global's Type. (A module variable that no function reads is a
// local of the module body, which the C compiler propagates itself.)
std::optional<CompiledExpr> folded_constant(CodegenContext &ctx, const std::string &n,
                                            const Variable &var) {
    auto constant = ctx.module_constants.find(n);
    if (constant == ctx.module_constants.end() || var.text != "ktl_G.g_" + n)
        return std::nullopt;
    CompiledExpr value = compile_expr_node(ctx, constant->second, nullptr);
    if (value.type != var.type)
        return std::nullopt;
    // A negative float's text begins with its sign: parenthesized, it stays
    // one operand after another operator (`-X` is not `--1.5`).
    if (value.text[0] == '-')
        value.text = "(" + value.text + ")";
    return value;
}

CompiledExpr compile_name(CodegenContext &ctx, const Expr &e, const std::string &n) {
    if (auto var = lookup_var(ctx, n)) {
        if (auto folded = folded_constant(ctx, n, *var))
            return *folded;
        if (var->type.is<Type::Optional>() && is_known_non_none(ctx, n)) {
            const Type &inner = *var->type.as<Type::Optional>()->inner;
            return {narrowed_read_text(ctx, n, *var), inner};
        }
        return {var->text, var->type};
    }
    if (ctx.functions.count(n))
        return {"((uint8_t)0)", Type::function(FunctionValue{FunctionValue::UserFunction{n}})};
    auto alias = ctx.aliases->find(n);
    if (alias != ctx.aliases->end()) {
        auto split = split_module_member(ctx, alias->second);
        if (!split)
            throw_error(fmt::format("module '{}' can't be used as a value", alias->second), e.line,
                        e.column);
        return compile_module_attribute(ctx, split->first, split->second, e.line, e.column);
    }
    if (builtin_has(n, kBuiltinValue))
        return {"((uint8_t)0)", Type::function(FunctionValue{FunctionValue::Builtin{n}})};
    if (auto python = missing_python_exception_message(n))
        throw_error(*python, e.line, e.column);
    // A module variable hidden by the function's own assignment of the name,
    // read before that assignment.
    const FunctionFrame &module = *ctx.frames.front();
    if (!ctx.frame().is_module_level && (module.locals.count(n) || ctx.globals.count(n)))
        throw_error(fmt::format("cannot access local variable '{0}' where it is not associated "
                                "with a value (the function assigns '{0}', so it is local here; "
                                "add `global {0}` to use the module's)",
                                n),
                    e.line, e.column);
    throw_error(fmt::format("name '{}' is not defined", n), e.line, e.column);
}

CompiledExpr compile_fstring_value(CodegenContext &ctx, const Expr::FString &fs) {
    std::string sb = fresh_temp(ctx, "sb");
    std::string text = fmt::format("({{ ktl_sb {0}; ktl_sb_init(&{0}); ", sb);
    for (const auto &segment : fs.segments)
        text += compile_format_field(ctx, sb, segment);
    text += fmt::format("ktl_sb_done(&{}); }})", sb);
    return {text, Type::str()};
}

} // namespace

std::string float_literal_text(double v) {
    if (std::isinf(v))
        return v > 0 ? "INFINITY" : "(-INFINITY)";
    if (std::isnan(v))
        return "NAN";
    std::array<char, 64> buf{};
    double mag = std::fabs(v);
    if (v == 0.0 || (mag >= 1e-4 && mag < 1e16)) {
        auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed);
        std::string text(buf.data(), res.ptr);
        if (text.find('.') == std::string::npos)
            text += ".0";
        return text;
    }
    auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::scientific);
    std::string text(buf.data(), res.ptr);
    size_t e = text.find('e');
    std::string mantissa = text.substr(0, e);
    std::string exp = text.substr(e + 1);
    bool negative = !exp.empty() && exp[0] == '-';
    if (!exp.empty() && (exp[0] == '+' || exp[0] == '-'))
        exp.erase(0, 1);
    while (exp.size() > 1 && exp[0] == '0')
        exp.erase(0, 1);
    return mantissa + "e" + (negative ? "-" : "") + exp;
}

std::string unwrap_optional_text(const std::string &text, const Type &inner) {
    if (is_pointer_kind(inner))
        return text;
    return fmt::format("({}).v", text);
}

// A module global may be set back to None by any call made after its None
// test, so a narrowed read of one checks again instead of trusting the fact.
std::string narrowed_read_text(CodegenContext &ctx, const std::string &name, const Variable &var) {
    const Type &inner = *var.type.as<Type::Optional>()->inner;
    if (!var.text.starts_with("ktl_G."))
        return unwrap_optional_text(var.text, inner);
    std::string q = fresh_temp(ctx, "q");
    return fmt::format("({{ {0} {1} = {2}; if (KTL_UNLIKELY({3})) ktl_raise_c(KTL_E_TypeError, "
                       "\"global '{4}' is None here: it was set to None after its None test\"); "
                       "{5}; }})",
                       c_type_name(var.type), q, var.text, is_none_test_text(q, var.type), name,
                       unwrap_optional_text(q, inner));
}

std::string is_none_test_text(const std::string &text, const Type &type) {
    if (type.is<Type::None>())
        return fmt::format("((void)({}), true)", text);
    if (type.is<Type::Optional>()) {
        if (is_pointer_kind(*type.as<Type::Optional>()->inner))
            return fmt::format("(({}) == NULL)", text);
        return fmt::format("(!({}).has)", text);
    }
    return fmt::format("((void)({}), false)", text);
}

bool is_constant_expr(const Expr &e) {
    if (e.is<Expr::Int>() || e.is<Expr::Float>() || e.is<Expr::Str>() || e.is<Expr::Bool>() ||
        e.is<Expr::None>())
        return true;
    if (const auto *u = e.as<Expr::Unary>()) {
        const Expr &o = *u->operand;
        return u->op == UnaryOp::Neg && (o.is<Expr::Int>() || o.is<Expr::Float>());
    }
    if (const auto *t = e.as<Expr::Tuple>()) {
        for (const auto &el : t->elements)
            if (!is_constant_expr(el))
                return false;
        return true;
    }
    return false;
}

CompiledExpr compile_expr_node(CodegenContext &ctx, const Expr &e, const Type *expected) {
    return std::visit(
        Overload{
            [&](const Expr::Int &k) -> CompiledExpr {
                if (k.value == std::numeric_limits<int64_t>::min())
                    return {"INT64_MIN", Type::int_()};
                return {fmt::format("INT64_C({})", k.value), Type::int_()};
            },
            [&](const Expr::Float &k) -> CompiledExpr {
                return {float_literal_text(k.value), Type::float_()};
            },
            [&](const Expr::Str &k) -> CompiledExpr {
                return {c_str_literal(k.value), Type::str()};
            },
            [&](const Expr::Bool &k) -> CompiledExpr {
                return {k.value ? "true" : "false", Type::bool_()};
            },
            [&](const Expr::FString &k) { return compile_fstring_value(ctx, k); },
            [&](const Expr::Name &k) { return compile_name(ctx, e, k.name); },
            [&](const Expr::BinaryOp &) { return compile_binary_expr(ctx, e, expected); },
            [&](const Expr::Unary &) { return compile_unary_expr(ctx, e); },
            [&](const Expr::IfExp &) { return compile_if_expr(ctx, e, expected); },
            [&](const Expr::Call &) { return compile_call_expr(ctx, e, expected); },
            [&](const Expr::CallExpr &) { return compile_call_expr(ctx, e, expected); },
            [&](const Expr::MethodCall &) { return compile_call_expr(ctx, e, expected); },
            [&](const Expr::Attribute &) { return compile_attribute_expr(ctx, e); },
            [&](const Expr::Index &) { return compile_index_expr(ctx, e); },
            [&](const Expr::Slice &) { return compile_slice_expr(ctx, e); },
            [&](const Expr::List &) { return compile_list_display(ctx, e, expected); },
            [&](const Expr::Tuple &) { return compile_tuple_display(ctx, e, expected); },
            [&](const Expr::Dict &) { return compile_dict_display(ctx, e, expected); },
            [&](const Expr::Set &) { return compile_set_display(ctx, e, expected); },
            [&](const Expr::SetComp &) { return compile_set_comprehension(ctx, e, expected); },
            [&](const Expr::ListComp &) { return compile_list_comprehension(ctx, e, expected); },
            [&](const Expr::DictComp &) { return compile_dict_comprehension(ctx, e, expected); },
            [&](const Expr::GeneratorExp &) -> CompiledExpr {
                throw_error(
                    "a generator expression can only be used where it's consumed (a for "
                    "loop, list(), sum(), any(), \"\".join(), ...); for a list, write [...]",
                    e.line, e.column);
            },
            [&](const Expr::Lambda &) { return compile_lambda_expr(ctx, e); },
            [&](const Expr::None &) -> CompiledExpr {
                return {"((uint8_t)0)", Type::none()};
            },
        },
        e.kind);
}

} // namespace kestal
