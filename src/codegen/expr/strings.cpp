// Values as text. Scalars append their runtime number or bool texts; every
// other value is printed by its print function while the output is captured
// into the builder, so each Type's text is written in one place only.
#include "codegen/expr/strings.h"

#include "codegen/expr/expr.h"
#include "codegen/mod/ctypes.h"

namespace kestal {

std::string append_to_builder(CodegenContext &ctx, const std::string &sb, const CompiledExpr &v,
                              bool repr) {
    switch (v.type.tag()) {
    case TypeKind::Int: return fmt::format("ktl_sb_int(&{}, {});", sb, v.text);
    case TypeKind::Float: return fmt::format("ktl_sb_float(&{}, {});", sb, v.text);
    case TypeKind::Bool: return fmt::format("ktl_sb_add(&{}, ktl_bool_str({}));", sb, v.text);
    case TypeKind::Str:
        if (repr) return fmt::format("ktl_sb_add(&{}, ktl_repr_str({}));", sb, v.text);
        return fmt::format("ktl_sb_add(&{}, {});", sb, v.text);
    default: break;
    }
    ensure_type_defined(ctx, v.type);
    std::string t = fresh_temp(ctx, "t");
    std::string cs = fresh_temp(ctx, "cs");
    return fmt::format("{{ {} {} = {}; ktl_capstate {} = ktl_cap_begin(&{}); {}({}); ktl_cap_end({}); }}",
                       c_type_name(v.type), t, v.text, cs, sb,
                       repr ? repr_fn_name(v.type) : print_fn_name(v.type), t, cs);
}

std::string compile_to_str(CodegenContext &ctx, const CompiledExpr &v, bool repr) {
    switch (v.type.tag()) {
    case TypeKind::Int: return fmt::format("ktl_int_str({})", v.text);
    case TypeKind::Float: return fmt::format("ktl_float_str({})", v.text);
    case TypeKind::Bool: return fmt::format("ktl_bool_str({})", v.text);
    case TypeKind::Str: return repr ? fmt::format("ktl_repr_str({})", v.text) : v.text;
    default: break;
    }
    std::string sb = fresh_temp(ctx, "sb");
    return fmt::format("({{ ktl_sb {0}; ktl_sb_init(&{0}); {1} ktl_sb_done(&{0}); }})", sb,
                       append_to_builder(ctx, sb, v, repr));
}

std::string compile_format_field(CodegenContext &ctx, const std::string &sb,
                                 const FStringSegment &segment) {
    if (const auto *lit = std::get_if<FStringSegment::Literal>(&segment.kind))
        return fmt::format("ktl_sb_add(&{}, {}); ", sb, c_str_literal(lit->text));
    const auto &field = std::get<FStringSegment::Field>(segment.kind);
    if (field.spec || (field.conversion && *field.conversion == 'a'))
        throw_error("format specifications in f-strings aren't supported yet", field.expr.line,
                    field.expr.column);
    CompiledExpr value = compile_expr(ctx, field.expr);
    if (value.type.is<Type::NoValue>())
        throw_error("this expression has no value", field.expr.line, field.expr.column);
    if (value.type.is<Type::File>() || value.type.is<Type::Function>())
        throw_error(fmt::format("formatting {:#} isn't supported", value.type), field.expr.line,
                    field.expr.column);
    return append_to_builder(ctx, sb, value, field.conversion && *field.conversion == 'r') + " ";
}

} // namespace kestal
