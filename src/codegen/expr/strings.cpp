// Values as text. Scalars append their runtime number or bool texts; every
// other value is printed by its print function while the output is captured
// into the builder, so each Type's text is written in one place only.
//
// A format spec is read at compile time into a FormatSpec (align '<' or
// '>', '+', '0', width, ',' or '_', precision, one type letter) and lowered
// by the value's Type into one printf format (numbers), a padding call
// (text, and a bool, which formats as its text) or a digit-grouping call.
// This is the language's own small spec language, not Python's: there is no
// '#', no fill character, no '^' or '=', no 'b', and ints are laid out by
// printf, so an int precision pads with zeros (`{5:.2}` is "05"); x, X and
// o lay an int out as d does, a negative one with its sign and magnitude.
#include "codegen/expr/strings.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kestal {

namespace {

// Widths and precisions are C ints in printf; a larger one in any field
// raises at run time instead of printing nothing or gigabytes of blanks.
constexpr uint64_t kWidthLimit = 2147483647;

struct FormatSpec {
    char align = 0;
    bool sign = false;
    bool zero = false;
    std::string width;
    char separator = 0;
    // With its '.', as written; the digits after it may be absent.
    std::optional<std::string> precision;
    char type = 0;
};

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The spec, or none when characters are left after the type letter.
std::optional<FormatSpec> parse_format_spec(std::string_view s) {
    FormatSpec f;
    size_t i = 0;
    auto take = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    if (i < s.size() && (s[i] == '<' || s[i] == '>'))
        f.align = s[i++];
    f.sign = take('+');
    f.zero = take('0');
    while (i < s.size() && is_digit(s[i]))
        f.width += s[i++];
    if (i < s.size() && (s[i] == ',' || s[i] == '_'))
        f.separator = s[i++];
    if (take('.')) {
        std::string p = ".";
        while (i < s.size() && is_digit(s[i]))
            p += s[i++];
        f.precision = p;
    }
    if (i < s.size())
        f.type = s[i++];
    if (i < s.size())
        return std::nullopt;
    return f;
}

// A run of digits as a number; none when it is beyond kWidthLimit.
std::optional<uint64_t> digits_value(std::string_view digits) {
    uint64_t v = 0;
    if (digits.empty())
        return 0;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (res.ec != std::errc() || v > kWidthLimit)
        return std::nullopt;
    return v;
}

bool too_many_digits(const FormatSpec &f) {
    return !digits_value(f.width) ||
           (f.precision && !digits_value(std::string_view(*f.precision).substr(1)));
}

uint64_t width_value(const FormatSpec &f) {
    return digits_value(f.width).value_or(0);
}

// The C string literal of the printf format of the spec with the given
// conversion: flags "+", "0" and "-", the width digits, the precision.
std::string printf_format_literal(const FormatSpec &f, std::string_view conversion) {
    std::string flags;
    if (f.sign)
        flags += '+';
    if (f.zero)
        flags += '0';
    if (f.align == '<')
        flags += '-';
    return fmt::format("\"%{}{}{}{}\"", flags, f.width, f.precision.value_or(""), conversion);
}

struct FieldPosition {
    const std::string &spec;
    const Type &shown_type;
    uint64_t line, column;
};

[[noreturn]] void doesnt_apply(const FieldPosition &at) {
    throw_error(fmt::format("format spec ':{}' doesn't apply to {:#}", at.spec, at.shown_type),
                at.line, at.column);
}

// A separator: digit grouping of a decimal int, or of a number by e, E or f.
std::string compile_grouped_field(CodegenContext &ctx, const std::string &sb, const FormatSpec &f,
                                  const CompiledExpr &v, const FieldPosition &at) {
    if (f.zero)
        throw_error(
            fmt::format("format spec ':{}': zero padding with a digit separator isn't supported",
                        at.spec),
            at.line, at.column);
    bool number = v.type.is<Type::Int>() || v.type.is<Type::Float>();
    std::string left = f.align == '<' ? "true" : "false";
    std::string sign = f.sign ? "+" : "";
    if (v.type.is<Type::Int>() && (f.type == 0 || f.type == 'd') && !f.precision) {
        ctx.uses_grouping = true;
        return fmt::format("ktl_sb_group_i(&{}, \"%{}lld\", {}, '{}', {}, {}); ", sb, sign, v.text,
                           f.separator, width_value(f), left);
    }
    if (number && (f.type == 'e' || f.type == 'E' || f.type == 'f')) {
        ctx.uses_grouping = true;
        return fmt::format("ktl_sb_group_f(&{}, \"%{}{}{}\", (double)({}), '{}', {}, {}); ", sb,
                           sign, f.precision.value_or(""), f.type, v.text, f.separator,
                           width_value(f), left);
    }
    throw_error(
        fmt::format(
            "format spec ':{}' doesn't apply to {:#} (a separator works with d, f, e and E)",
            at.spec, at.shown_type),
        at.line, at.column);
}

// An int by x, X or o: printf's layout of a signed number, so a negative
// int shows its sign and magnitude rather than its 64-bit pattern.
std::string compile_radix_field(const std::string &sb, const FormatSpec &f, const CompiledExpr &v) {
    std::string flags;
    auto add_flag = [&](std::string_view name) {
        if (!flags.empty())
            flags += " | ";
        flags += name;
    };
    if (f.sign)
        add_flag("KTL_FS_PLUS");
    if (f.zero)
        add_flag("KTL_FS_ZERO");
    if (f.align == '<')
        add_flag("KTL_FS_LEFT");
    if (flags.empty())
        flags = "0";
    // A '.' without digits is precision 0, as in printf.
    int64_t precision = -1;
    if (f.precision)
        precision = int64_t(digits_value(std::string_view(*f.precision).substr(1)).value_or(0));
    return fmt::format("ktl_fs_radix(&{}, {}, '{}', {}, {}, {}); ", sb, v.text, f.type, precision,
                       flags, width_value(f));
}

bool is_float_type_letter(char t) {
    return t == 'e' || t == 'E' || t == 'f' || t == 'g' || t == 'G';
}

// A number without a separator: one printf format.
std::string compile_number_field(const std::string &sb, const FormatSpec &f, const CompiledExpr &v,
                                 const FieldPosition &at) {
    bool is_int = v.type.is<Type::Int>();
    if (is_int && (f.type == 0 || f.type == 'd'))
        return fmt::format("ktl_sb_fmt_i(&{}, {}, {}); ", sb, printf_format_literal(f, "lld"),
                           v.text);
    if (is_int && (f.type == 'x' || f.type == 'X' || f.type == 'o'))
        return compile_radix_field(sb, f, v);
    if (is_float_type_letter(f.type))
        return fmt::format("ktl_sb_fmt_f(&{}, {}, (double)({})); ", sb,
                           printf_format_literal(f, std::string(1, f.type)), v.text);
    if (f.type == '%')
        return fmt::format("ktl_sb_fmt_f(&{0}, {1}, (double)({2}) * 100.0); ktl_sb_add(&{0}, "
                           "KTL_LIT(\"%\")); ",
                           sb, printf_format_literal(f, "f"), v.text);
    if (!is_int && f.type == 0)
        return fmt::format("ktl_sb_fmt_f(&{}, {}, {}); ", sb, printf_format_literal(f, "g"),
                           v.text);
    doesnt_apply(at);
}

// A str, or a bool by its text: padded to the width, left-aligned unless the
// spec says '>'.
std::string compile_text_field(const std::string &sb, const FormatSpec &f, const std::string &value,
                               const FieldPosition &at) {
    if (f.precision || f.sign || f.zero || !(f.type == 0 || f.type == 's'))
        doesnt_apply(at);
    return fmt::format("ktl_sb_pad(&{}, {}, {}, {}); ", sb, value, width_value(f),
                       f.align == '>' ? "false" : "true");
}

// The spec applied to a compiled value (str for a converted field).
std::string apply_format_spec(CodegenContext &ctx, const std::string &sb, const CompiledExpr &v,
                              const std::string &spec, uint64_t line, uint64_t column) {
    FieldPosition at{spec, v.type, line, column};
    auto parsed = parse_format_spec(spec);
    if (!parsed)
        throw_error(fmt::format("unsupported format spec ':{}'", spec), line, column);
    const FormatSpec &f = *parsed;
    std::string field;
    if (f.separator)
        field = compile_grouped_field(ctx, sb, f, v, at);
    else if (v.type.is<Type::Str>())
        field = compile_text_field(sb, f, v.text, at);
    else if (v.type.is<Type::Bool>())
        field = compile_text_field(sb, f, fmt::format("ktl_bool_str({})", v.text), at);
    else if (v.type.is<Type::Int>() || v.type.is<Type::Float>())
        field = compile_number_field(sb, f, v, at);
    else
        doesnt_apply(at);
    // The value is still computed first, as it would be for a field that fits.
    if (too_many_digits(f))
        return fmt::format("(void)({}); ktl_raise_c(KTL_E_ValueError, \"Too many decimal digits in "
                           "format string\"); ",
                           v.text);
    return field;
}

} // namespace

std::string append_to_builder(CodegenContext &ctx, const std::string &sb, const CompiledExpr &v,
                              bool repr, uint64_t line, uint64_t column) {
    switch (v.type.tag()) {
    case TypeKind::Int:
        return fmt::format("ktl_sb_int(&{}, {}); ", sb, v.text);
    case TypeKind::Float:
        return fmt::format("ktl_sb_float(&{}, {}); ", sb, v.text);
    case TypeKind::Bool:
        return fmt::format("ktl_sb_add(&{}, ktl_bool_str({})); ", sb, v.text);
    case TypeKind::Str:
        if (!repr)
            return fmt::format("ktl_sb_add(&{}, {}); ", sb, v.text);
        break;
    case TypeKind::NoValue:
        throw_error("this expression has no value", line, column);
    case TypeKind::File:
    case TypeKind::Function:
        throw_error(fmt::format("formatting {:#} isn't supported", v.type), line, column);
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::Class:
    case TypeKind::None:
    case TypeKind::Optional:
        break;
    }
    ensure_type_defined(ctx, v.type);
    std::string x = fresh_temp(ctx, "x");
    std::string cs = fresh_temp(ctx, "cs");
    return fmt::format(
        "{{ {} {} = {}; ktl_capstate {} = ktl_cap_begin(&{}); {}({}); ktl_cap_end({}); }} ",
        c_type_name(v.type), x, v.text, cs, sb, repr ? repr_fn_name(v.type) : print_fn_name(v.type),
        x, cs);
}

std::string compile_to_str(CodegenContext &ctx, const CompiledExpr &v, bool repr, uint64_t line,
                           uint64_t column) {
    switch (v.type.tag()) {
    case TypeKind::Int:
        return fmt::format("ktl_int_str({})", v.text);
    case TypeKind::Float:
        return fmt::format("ktl_float_str({})", v.text);
    case TypeKind::Bool:
        return fmt::format("ktl_bool_str({})", v.text);
    case TypeKind::Str:
        if (!repr)
            return v.text;
        break;
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::Class:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    std::string sb = fresh_temp(ctx, "sb");
    std::string code = append_to_builder(ctx, sb, v, repr, line, column);
    return fmt::format("({{ ktl_sb {0}; ktl_sb_init(&{0}); {1}ktl_sb_done(&{0}); }})", sb, code);
}

std::string compile_format_field(CodegenContext &ctx, const std::string &sb,
                                 const FStringSegment &segment) {
    if (const auto *lit = std::get_if<FStringSegment::Literal>(&segment.kind))
        return fmt::format("ktl_sb_add(&{}, {}); ", sb, c_str_literal(lit->text));
    const auto &field = std::get<FStringSegment::Field>(segment.kind);
    uint64_t line = field.expr.line, column = field.expr.column;
    CompiledExpr value = compile_expr(ctx, field.expr);
    if (field.conversion && *field.conversion != 'r' && *field.conversion != 's')
        throw_error(
            fmt::format("the !{} conversion isn't supported (use !r or !s)", *field.conversion),
            line, column);
    bool repr = field.conversion == 'r';
    // An empty spec formats as no spec does, in Python as here.
    if (!field.spec || field.spec->empty())
        return append_to_builder(ctx, sb, value, repr, line, column);
    if (value.type.is<Type::NoValue>())
        throw_error("this expression has no value", line, column);
    if (field.conversion)
        value = {compile_to_str(ctx, value, repr, line, column), Type::str()};
    return apply_format_spec(ctx, sb, value, *field.spec, line, column);
}

} // namespace kestal
