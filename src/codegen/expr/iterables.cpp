// The items of an iterable value collected into a new list, for the
// methods that take any iterable (`list.extend`, `str.join`, the set
// methods) and for slice assignment: a list is passed on as it is; a range
// gives its ints, a str its characters, a set its items in table order, a
// dict its keys in insertion order, a tuple whose items share one Type its
// items. Each source is evaluated once, into a temporary.
#include "codegen/expr/containers.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

namespace kestal {

std::optional<CompiledExpr> collect_iterable(CodegenContext &ctx, const CompiledExpr &value) {
    const Type &t = value.type;
    if (t.is<Type::List>())
        return value;
    std::string src = fresh_temp(ctx, "it"), out = fresh_temp(ctx, "col"), i = fresh_temp(ctx, "i");
    auto collect = [&](const Type &item, const std::string &source_type, const std::string &length,
                       const std::string &loop) {
        define_list_type(ctx, item);
        std::string l = list_c_name(item);
        return CompiledExpr{fmt::format("({{ {0} {1} = {2}; {3} *{4} = {3}_new({5}); {6} {4}; }})",
                                        source_type, src, value.text, l, out, length, loop),
                            Type::list(item)};
    };
    if (t.is<Type::Range>())
        return collect(
            Type::int_(), "ktl_range", fmt::format("ktl_range_len({})", src),
            fmt::format("for (int64_t {0} = 0, _n{0} = ktl_range_len({1}); {0} < _n{0}; {0}++) "
                        "L_i_push({2}, ktl_range_at({1}, {0}));",
                        i, src, out));
    if (t.is<Type::Str>())
        return collect(
            Type::str(), "ktl_str", fmt::format("{}.len", src),
            fmt::format(
                "for (int64_t {0} = 0, _j{0}; {0} < {1}.len; {0} = _j{0}) {{ _j{0} = {0} + 1; "
                "while (_j{0} < {1}.len && ((unsigned char){1}.p[_j{0}] & 0xC0) == 0x80) "
                "_j{0}++; L_s_push({2}, (ktl_str){{{1}.p + {0}, _j{0} - {0}}}); }}",
                i, src, out));
    if (const auto *s = t.as<Type::Set>()) {
        std::string sn = set_c_name(*s->element);
        return collect(
            *s->element, sn + " *", fmt::format("{}->used", src),
            fmt::format(
                "for (int64_t {0} = 0; {0} <= {1}->mask; {0}++) if ({1}->table[{0}].st == 1) "
                "{2}_push({3}, {1}->table[{0}].key);",
                i, src, list_c_name(*s->element), out));
    }
    if (const auto *d = t.as<Type::Dict>()) {
        std::string dn = dict_c_name(*d->key, *d->value);
        return collect(*d->key, dn + " *", fmt::format("{}->len", src),
                       fmt::format("for (int64_t {0} = 0; {0} < {1}->n; {0}++) if (!{1}->dead || "
                                   "!{1}->dead[{0}]) {2}_push({3}, {1}->ents[{0}].key);",
                                   i, src, list_c_name(*d->key), out));
    }
    if (const auto *tuple = t.as<Type::Tuple>()) {
        if (tuple->elements.empty())
            return std::nullopt;
        const Type &item = tuple->elements.front();
        for (const Type &e : tuple->elements)
            if (!(e == item))
                return std::nullopt;
        ensure_type_defined(ctx, t);
        std::string pushes;
        for (size_t k = 0; k < tuple->elements.size(); ++k)
            pushes += fmt::format("{}_push({}, {}.f{}); ", list_c_name(item), out, src, k);
        return collect(item, c_type_name(t), std::to_string(tuple->elements.size()), pushes);
    }
    return std::nullopt;
}

} // namespace kestal
