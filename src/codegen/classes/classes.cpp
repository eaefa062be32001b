// The class section of the C file.
//
// Print and repr switch on an object's run-time class id over the subtree of
// its static class; eq, lt and truth resolve the special method on the
// static class's own chain at compile time. The tables cover every class,
// the 27 built-in exception classes first, declared or not; structs and
// dispatch functions exist only for declared classes.
#include "codegen/classes/classes.h"

#include "codegen/core/ctypes.h"
#include "codegen/core/instances.h"
#include "codegen/expr/expr.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

namespace kestal {

namespace {

std::string exception_default(bool exception, bool print) {
    if (exception)
        return print ? "ktl_print_s(((ktl_exc *)o)->str)" : "ktl_print_exc_repr(o)";
    return "ktl_print_obj_default(ktl_class_names[o->cls], o)";
}

// The truth test of a special method's result; `absent` when it returns
// nothing.
std::string result_truth(const CompiledExpr &call, const char *absent) {
    if (call.type.is<Type::NoValue>())
        return absent;
    auto test = truth_test_expr(call.text, call.type);
    return test ? *test : call.text;
}

} // namespace

// The definition of the class's special method: the position of every
// fault found while the class section calls it, since no line of the
// program makes that call.
std::pair<uint64_t, uint64_t> special_method_position(const CodegenContext &ctx,
                                                      const std::string &cls,
                                                      const std::string &method) {
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, cls), method);
    if (!owner)
        internal_fault("the position of a special method no class defines");
    auto it = ctx.functions.find(*owner + "." + method);
    if (it == ctx.functions.end())
        internal_fault("a special method without a definition");
    return {it->second->line, it->second->column};
}

namespace {

// The call of the special method class K resolves to, with no arguments,
// on the object "o" of static class X: the object is cast straight to the
// method's owner, so no class below the owner is named (a class never
// constructed has no struct) and no second switch is written inside the
// case of K. None when K's chain defines no such method.
std::optional<CompiledExpr> resolved_dunder_call(CodegenContext &ctx, const std::string &x,
                                                 const std::string &k, const std::string &method) {
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, k), method);
    if (!owner)
        return std::nullopt;
    auto [line, column] = special_method_position(ctx, k, method);
    return call_resolved_method(ctx, *owner, method, cast_to_owner("o", x, *owner), {}, {}, line,
                                column);
}

std::string print_dispatcher(CodegenContext &ctx, const std::string &x, const std::string &code,
                             const char *prefix, const std::vector<std::string> &methods) {
    std::string cases;
    for (const std::string &s : subclasses_of(ctx, x)) {
        std::optional<std::string> method;
        std::vector<std::string> chain = class_ancestors(ctx, s);
        for (const std::string &m : methods) {
            if (first_class_defining_method(ctx, chain, m)) {
                method = m;
                break;
            }
        }
        if (!method)
            continue;
        auto call = resolved_dunder_call(ctx, x, s, *method);
        if (!call)
            internal_fault("a special method the chain defines does not compile");
        if (!call->type.is<Type::Str>()) {
            auto [line, column] = special_method_position(ctx, s, *method);
            throw_error(fmt::format("{}.{}() must return a str, not {}", s, *method, call->type),
                        line, column);
        }
        // The method runs with any capture paused, so what it prints goes
        // where it would go without one; only its result is captured.
        cases += fmt::format("case {}: {{ ktl_capstate cs = ktl_cap_pause(); ktl_str r = {}; "
                             "ktl_cap_resume(cs); ktl_print_s(r); return; }} ",
                             class_id(ctx, s), call->text);
    }
    bool print = std::string_view(prefix) == "ktl_print";
    std::string fallback = exception_default(is_exception_class(ctx, x), print);
    return fmt::format("static void {}_{}(C_{} *o) {{ switch (o->cls) {{ {}default: {}; }} }}\n",
                       prefix, code, x, cases, fallback);
}

// One piece: the six functions of one class follow the same receiver and
// position conventions and read best side by side.
void emit_class_functions(CodegenContext &ctx, const std::string &x) {
    std::string code = type_code(Type::class_(x));
    Type self = Type::class_(x);
    std::string text;
    text += print_dispatcher(ctx, x, code, "ktl_print", {"__str__", "__repr__"});
    text += print_dispatcher(ctx, x, code, "ktl_repr", {"__repr__"});
    if (is_exception_class(ctx, x)) {
        auto str =
            call_dunder_if_defined(ctx, fmt::format("((C_{} *)e)", x), x, "__str__", {}, 0, 0);
        if (str)
            ctx.exc_text_cases += fmt::format("case {}: return {}; ", class_id(ctx, x), str->text);
    }
    // Python's `a == b` and `a < b` as the program compiles them: each
    // object's own class deciding, the left object's method first, a proper
    // subclass on the right that provides the reflected method before it.
    CompiledExpr a{"a", self}, b{"b", self};
    Expr here{Expr::None{}, 0, 0};
    std::string eq_text = compile_binary_op(ctx, BinOp::Eq, a, b, here).text;
    text +=
        fmt::format("static bool {0}_eq(C_{1} *a, C_{1} *b) {{ return {2}; }}\n", code, x, eq_text);
    std::string no_order =
        fmt::format("(ktl_panic(\"TypeError: '<' not supported between instances of '{0}' and "
                    "'{0}'\"), false)",
                    x);
    std::string lt = no_order;
    if (subtree_defines(ctx, x, "__lt__") || subtree_defines(ctx, x, "__gt__"))
        lt = compile_binary_op(ctx, BinOp::Lt, a, b, here).text;
    text += fmt::format("static bool {0}_lt(C_{1} *a, C_{1} *b) {{ return {2}; }}\n", code, x, lt);
    // The order of items in lists and tuples: the same object is equal to
    // itself before its __eq__ is asked, and items neither equal nor
    // ordered either way (a class with only __lt__, two equal items)
    // compare as equal, never as greater.
    text += fmt::format("static int {0}_cmp(C_{1} *a, C_{1} *b) {{ return {0}_item_eq(a, b) ? 0 : "
                        "{0}_lt(a, b) ? -1 : {0}_lt(b, a) ? 1 : 0; }}\n",
                        code, x);
    std::string truth = "true";
    // A subclass's own __bool__ comes before the __len__ it inherits.
    std::optional<CompiledExpr> len;
    if (!subtree_defines(ctx, x, "__bool__"))
        len = call_dunder_if_defined(ctx, "o", x, "__len__", {}, 0, 0);
    if (auto m = call_dunder_if_defined(ctx, "o", x, "__bool__", {}, 0, 0)) {
        truth = result_truth(*m, "true");
    } else if (len) {
        truth = fmt::format("({} != 0)", len->text);
    } else if (subtree_defines(ctx, x, "__bool__") || subtree_defines(ctx, x, "__len__")) {
        // Each class of the subtree by its own __bool__, else its __len__.
        std::string cases;
        for (const std::string &k : subclasses_of(ctx, x)) {
            std::string value = "true";
            if (auto m = resolved_dunder_call(ctx, x, k, "__bool__")) {
                value = result_truth(*m, "true");
            } else if (auto l = resolved_dunder_call(ctx, x, k, "__len__")) {
                value = fmt::format("({} != 0)", l->text);
            }
            cases += fmt::format("case {}: return {}; ", class_id(ctx, k), value);
        }
        truth = fmt::format("({{ switch (o->cls) {{ {}default: break; }} true; }})", cases);
    }
    text += fmt::format("static bool ktl_truthy_{}(C_{} *o) {{ (void)o; return {}; }}\n", code, x,
                        truth);
    ctx.definitions_text += text;
}

} // namespace

void emit_class_dispatchers(CodegenContext &ctx) {
    std::set<std::string> done;
    for (;;) {
        std::vector<std::string> pending;
        for (const std::string &c : ctx.class_names)
            if (ctx.declared_classes.count(c) && !done.count(c))
                pending.push_back(c);
        if (pending.empty())
            break;
        for (const std::string &x : pending) {
            done.insert(x);
            emit_class_functions(ctx, x);
        }
    }
    ctx.definitions_text +=
        fmt::format("KTL_PROG ktl_str ktl_exc_text(void *e) {{ switch (((ktl_exc *)e)->cls) "
                    "{{ {}default: return ((ktl_exc *)e)->str; }} }}\n",
                    ctx.exc_text_cases);
}

void emit_class_structs(CodegenContext &ctx) {
    std::string text;
    // Per class id, the words of an object the collector reads: the fields
    // that may hold heap pointers (any class that makes no objects of its
    // own kind scans whole blocks).
    std::vector<std::string> masks;
    for (const std::string &c : ctx.class_names) {
        masks.push_back("~(uint64_t)0");
        if (!ctx.declared_classes.count(c))
            continue;
        // Root first, so a struct starts with its base's exact layout and a
        // pointer to it may be cast to a pointer to any base.
        std::vector<std::string> chain = class_ancestors(ctx, c);
        std::set<std::string> seen;
        std::string fields;
        bool exception = is_exception_class(ctx, c);
        bool holds_pointers = exception;
        std::vector<std::string> pointer_bits;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            auto own = ctx.class_attributes.find(*it);
            if (own == ctx.class_attributes.end())
                continue;
            for (const ClassField &f : own->second)
                if (seen.insert(f.name).second) {
                    fields += fmt::format(" {} f_{};", c_type_name(f.type), f.name);
                    if (needs_gc_scan(f.type)) {
                        holds_pointers = true;
                        pointer_bits.push_back(
                            fmt::format("KTL_FIELD_BITS(C_{}, f_{})", c, f.name));
                    }
                }
        }
        text += fmt::format("struct C_{} {{ int32_t cls;{}{} }};\n", c,
                            exception ? " ktl_str exc_str; ktl_str exc_args;" : "", fields);
        // The memory kind a constructor allocates the object in: one whose
        // fields are all numbers and bools is marked but never scanned; one
        // with pointer fields is scanned by its class's mask.
        text += fmt::format("enum {{ KTL_MEM_C_{} = {} }};\n", c,
                            !holds_pointers ? "KTL_NOSCAN"
                            : exception     ? "KTL_SCAN"
                                            : "KTL_OBJ");
        if (!exception)
            masks.back() =
                pointer_bits.empty() ? "0" : fmt::format("{}", fmt::join(pointer_bits, " | "));
    }
    if (masks.empty())
        masks.push_back("0");
    text +=
        fmt::format("static const uint64_t ktl_class_scan[] = {{ {} }};\n", fmt::join(masks, ", "));
    ctx.class_structs_text = text;
}

std::string class_tables_text(const CodegenContext &ctx) {
    std::vector<std::string> names, bases;
    for (const std::string &c : ctx.class_names) {
        names.push_back(fmt::format("\"{}\"", c));
        const ClassDef &def = *ctx.classes.at(c);
        bases.push_back(def.base ? fmt::format("{}", class_id(ctx, *def.base)) : "-1");
    }
    std::string text;
    text +=
        fmt::format("static const char *ktl_class_names[] = {{ {} }};\n", fmt::join(names, ", "));
    text +=
        fmt::format("static const int16_t ktl_class_bases[] = {{ {} }};\n", fmt::join(bases, ", "));
    text += "KTL_PROG const char *ktl_class_name(int32_t id) { return ktl_class_names[id]; }\n";
    text += "KTL_PROG bool ktl_isa(int32_t c, int32_t t) { while (c >= 0) { if (c == t) return "
            "true; c = "
            "ktl_class_bases[c]; } return false; }\n";
    return text;
}

} // namespace kestal
