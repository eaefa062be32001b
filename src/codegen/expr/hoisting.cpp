// Evaluation-order hoisting. C leaves the order of function arguments and
// of most operands open, so an expression with two or more direct operands
// that may have side effects evaluates those operands first, in source
// order, into fresh variables `__ktl_o<N>`, and is compiled over them inside
// a GNU statement expression.
//
// Some operands must stay where they are: a `super()` receiver (it is no
// value), an `open(...)` receiver whose file the method-call lowering closes
// right after the call, and the lazy iterables (`zip`, `map`, `filter`,
// `reversed`, `enumerate`), which exist only where they are consumed.
#include "codegen/expr/expr.h"

#include <algorithm>
#include <array>

namespace kestal {

namespace {

template <class... Fs> struct Overload : Fs... {
    using Fs::operator()...;
};
template <class... Fs> Overload(Fs...) -> Overload<Fs...>;

constexpr std::array<std::string_view, 33> kPureCalls = {
    "len",   "str",    "int",  "float", "bool",     "abs",       "ord",  "chr",  "round",
    "repr",  "isinstance", "min", "max", "sum",     "range",     "hex",  "oct",  "bin",
    "divmod", "pow",   "tuple", "list", "set",      "dict",      "sorted", "reversed",
    "enumerate", "zip", "any",  "all",  "type",     "hash",      "id"};

constexpr std::array<std::string_view, 39> kPureMethods = {
    "upper",    "lower",      "strip",      "lstrip",       "rstrip",       "split",  "rsplit",
    "splitlines", "join",     "replace",    "startswith",   "endswith",     "find",   "rfind",
    "count",    "index",      "format",     "isdigit",      "isalpha",      "isalnum", "isspace",
    "isupper",  "islower",    "title",      "capitalize",   "swapcase",     "zfill",  "center",
    "ljust",    "rjust",      "partition",  "rpartition",   "removeprefix", "removesuffix",
    "get",      "keys",       "values",     "items",        "copy"};

constexpr std::array<std::string_view, 5> kLazyIterables = {"zip", "map", "filter", "reversed",
                                                            "enumerate"};

template <size_t N> bool in_table(const std::array<std::string_view, N> &table, std::string_view n) {
    return std::find(table.begin(), table.end(), n) != table.end();
}

bool is_plain_call_of(const Expr &e, std::string_view name) {
    const auto *call = e.as<Expr::Call>();
    return call && call->name == name;
}

bool is_super_receiver(const Expr &e) {
    const auto *call = e.as<Expr::Call>();
    return call && call->name == "super" && call->args.empty() && call->kwargs.empty();
}

bool is_lazy_iterable_call(const Expr &e) {
    const auto *call = e.as<Expr::Call>();
    return call && in_table(kLazyIterables, call->name);
}

// A method call on `open(...)` whose file the call lowering closes.
bool is_closing_open_receiver(const Expr &e) {
    const auto *mc = e.as<Expr::MethodCall>();
    return mc && mc->method != "close" && is_plain_call_of(*mc->receiver, "open");
}

bool any_side_effects(const std::vector<Expr> &list, const std::unordered_set<std::string> *names) {
    return std::any_of(list.begin(), list.end(),
                       [&](const Expr &e) { return may_have_side_effects(e, names); });
}

bool any_kw_side_effects(const std::vector<Keyword> &list,
                         const std::unordered_set<std::string> *names) {
    return std::any_of(list.begin(), list.end(),
                       [&](const Keyword &k) { return may_have_side_effects(k.value, names); });
}

bool clauses_side_effects(const std::vector<ComprehensionClause> &clauses,
                          const std::unordered_set<std::string> *names) {
    for (const auto &c : clauses) {
        if (may_have_side_effects(c.iterable, names)) return true;
        if (any_side_effects(c.conditions, names)) return true;
    }
    return false;
}

size_t count_side_effects(const std::vector<const Expr *> &list,
                          const std::unordered_set<std::string> *names) {
    return static_cast<size_t>(std::count_if(list.begin(), list.end(), [&](const Expr *e) {
        return may_have_side_effects(*e, names);
    }));
}

// The quick test, without the method-name set.
bool worth_full_test(const Expr &e) {
    return std::visit(
        Overload{
            [&](const Expr::BinaryOp &b) {
                if (b.op == BinOp::And || b.op == BinOp::Or) return false;
                return may_have_side_effects(*b.left, nullptr) &&
                       may_have_side_effects(*b.right, nullptr);
            },
            [&](const Expr::Call &) { return count_side_effects(expr_children(e), nullptr) >= 2; },
            [&](const Expr::CallExpr &) { return count_side_effects(expr_children(e), nullptr) >= 2; },
            [&](const Expr::MethodCall &) {
                return count_side_effects(expr_children(e), nullptr) >= 2;
            },
            [](const Expr::Index &) { return true; },
            [](const Expr::Slice &) { return true; },
            [](const Expr::List &) { return true; },
            [](const Expr::Tuple &) { return true; },
            [](const Expr::Dict &) { return true; },
            [](const Expr::Set &) { return true; },
            [](const auto &) { return false; },
        },
        e.kind);
}

std::vector<Expr *> mutable_children(Expr &e) {
    std::vector<Expr *> out;
    for (const Expr *c : expr_children(e)) out.push_back(const_cast<Expr *>(c));
    return out;
}

} // namespace

std::vector<const Expr *> expr_children(const Expr &e) {
    std::vector<const Expr *> out;
    std::visit(Overload{
                   [&](const Expr::BinaryOp &b) {
                       if (b.op == BinOp::And || b.op == BinOp::Or) return;
                       out.push_back(b.left.get());
                       out.push_back(b.right.get());
                   },
                   [&](const Expr::Call &c) {
                       for (const auto &a : c.args) out.push_back(&a);
                       for (const auto &k : c.kwargs) out.push_back(&k.value);
                   },
                   [&](const Expr::CallExpr &c) {
                       out.push_back(c.callee.get());
                       for (const auto &a : c.args) out.push_back(&a);
                       for (const auto &k : c.kwargs) out.push_back(&k.value);
                   },
                   [&](const Expr::MethodCall &c) {
                       out.push_back(c.receiver.get());
                       for (const auto &a : c.args) out.push_back(&a);
                       for (const auto &k : c.kwargs) out.push_back(&k.value);
                   },
                   [&](const Expr::Index &i) {
                       out.push_back(i.object.get());
                       out.push_back(i.index.get());
                   },
                   [&](const Expr::Slice &s) {
                       out.push_back(s.object.get());
                       if (s.lower) out.push_back(s.lower->get());
                       if (s.upper) out.push_back(s.upper->get());
                       if (s.step) out.push_back(s.step->get());
                   },
                   [&](const Expr::List &l) {
                       for (const auto &x : l.elements) out.push_back(&x);
                   },
                   [&](const Expr::Tuple &l) {
                       for (const auto &x : l.elements) out.push_back(&x);
                   },
                   [&](const Expr::Set &l) {
                       for (const auto &x : l.elements) out.push_back(&x);
                   },
                   [&](const Expr::Dict &d) {
                       for (const auto &en : d.entries) {
                           out.push_back(&en.key);
                           out.push_back(&en.value);
                       }
                   },
                   [](const auto &) {},
               },
               e.kind);
    if (out.size() >= 2) {
        std::stable_sort(out.begin(), out.end(), [](const Expr *a, const Expr *b) {
            return a->line != b->line ? a->line < b->line : a->column < b->column;
        });
    }
    return out;
}

bool may_have_side_effects(const Expr &e, const std::unordered_set<std::string> *names) {
    return std::visit(
        Overload{
            [&](const Expr::FString &f) {
                for (const auto &seg : f.segments) {
                    const auto *field = std::get_if<FStringSegment::Field>(&seg.kind);
                    if (field && may_have_side_effects(field->expr, names)) return true;
                }
                return false;
            },
            [&](const Expr::BinaryOp &b) {
                return may_have_side_effects(*b.left, names) || may_have_side_effects(*b.right, names);
            },
            [&](const Expr::Unary &u) { return may_have_side_effects(*u.operand, names); },
            [&](const Expr::IfExp &i) {
                return may_have_side_effects(*i.condition, names) ||
                       may_have_side_effects(*i.if_true, names) ||
                       may_have_side_effects(*i.if_false, names);
            },
            [&](const Expr::Call &c) {
                if (!in_table(kPureCalls, c.name)) return true;
                return any_side_effects(c.args, names) || any_kw_side_effects(c.kwargs, names);
            },
            [&](const Expr::CallExpr &) { return true; },
            [&](const Expr::MethodCall &m) {
                if (!in_table(kPureMethods, m.method) || !names || names->count(m.method)) return true;
                return may_have_side_effects(*m.receiver, names) || any_side_effects(m.args, names) ||
                       any_kw_side_effects(m.kwargs, names);
            },
            [&](const Expr::Attribute &a) { return may_have_side_effects(*a.object, names); },
            [&](const Expr::Index &i) {
                return may_have_side_effects(*i.object, names) || may_have_side_effects(*i.index, names);
            },
            [&](const Expr::Slice &s) {
                return may_have_side_effects(*s.object, names) ||
                       (s.lower && may_have_side_effects(**s.lower, names)) ||
                       (s.upper && may_have_side_effects(**s.upper, names)) ||
                       (s.step && may_have_side_effects(**s.step, names));
            },
            [&](const Expr::List &l) { return any_side_effects(l.elements, names); },
            [&](const Expr::Tuple &l) { return any_side_effects(l.elements, names); },
            [&](const Expr::Set &l) { return any_side_effects(l.elements, names); },
            [&](const Expr::Dict &d) {
                for (const auto &en : d.entries)
                    if (may_have_side_effects(en.key, names) || may_have_side_effects(en.value, names))
                        return true;
                return false;
            },
            [&](const Expr::SetComp &c) {
                return may_have_side_effects(*c.element, names) || clauses_side_effects(c.clauses, names);
            },
            [&](const Expr::ListComp &c) {
                return may_have_side_effects(*c.element, names) || clauses_side_effects(c.clauses, names);
            },
            [&](const Expr::GeneratorExp &c) {
                return may_have_side_effects(*c.element, names) || clauses_side_effects(c.clauses, names);
            },
            [&](const Expr::DictComp &c) {
                return may_have_side_effects(*c.key, names) || may_have_side_effects(*c.value, names) ||
                       clauses_side_effects(c.clauses, names);
            },
            [](const auto &) { return false; },
        },
        e.kind);
}

std::unordered_set<std::string> all_method_names(const CodegenContext &ctx) {
    std::unordered_set<std::string> out;
    for (const auto &entry : ctx.classes)
        for (const FuncDef &m : entry.second->methods) out.insert(m.name);
    return out;
}

// One piece: the steps share the copy, its children and the prefix text.
CompiledExpr compile_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    if (!worth_full_test(e) || is_closing_open_receiver(e)) return compile_expr_node(ctx, e, expected);
    std::unordered_set<std::string> names = all_method_names(ctx);
    const auto *mc = e.as<Expr::MethodCall>();
    const Expr *super_receiver = mc && is_super_receiver(*mc->receiver) ? mc->receiver.get() : nullptr;
    size_t effects = 0;
    for (const Expr *child : expr_children(e))
        if (child != super_receiver && may_have_side_effects(*child, &names)) ++effects;
    if (effects < 2) return compile_expr_node(ctx, e, expected);

    Expr copy = e;
    const auto *copy_mc = copy.as<Expr::MethodCall>();
    const Expr *copy_super =
        copy_mc && is_super_receiver(*copy_mc->receiver) ? copy_mc->receiver.get() : nullptr;
    std::string prefix;
    for (Expr *child : mutable_children(copy)) {
        if (child == copy_super || !may_have_side_effects(*child, &names)) continue;
        if (child->is<Expr::GeneratorExp>()) return compile_expr_node(ctx, e, expected);
        // Operands after a lazy iterable stay in place too, so that none of
        // them jumps ahead of it.
        if (is_lazy_iterable_call(*child)) break;
        CompiledExpr c = compile_expr(ctx, *child);
        if (c.type.is<Type::Range>() || c.type.is<Type::Function>() || c.type.is<Type::None>() ||
            c.type.is<Type::NoValue>())
            return compile_expr_node(ctx, e, expected);
        ++ctx.temp_counter;
        std::string name = fmt::format("__ktl_o{}", ctx.temp_counter);
        Variable var = declare_var(ctx, name, c.type);
        prefix += fmt::format("{} = {}; ", var.text, c.text);
        Expr replacement{Expr::Name{name}, child->line, child->column};
        *child = std::move(replacement);
    }
    if (prefix.empty()) return compile_expr_node(ctx, e, expected);
    CompiledExpr r = compile_expr(ctx, copy, expected);
    return {fmt::format("({{ {}{}; }})", prefix, r.text), r.type};
}

} // namespace kestal
