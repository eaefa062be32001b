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
//
// Cost: each level of a deep expression asks the side-effect question about
// its operands, so the answers are kept per node (`side_effect_memo` of the
// context) and the method-name set is built once per context. The memo only
// holds nodes of trees that a running `compile_expr` call was given: the call
// that first reaches a tree registers its nodes and drops them when it
// returns, so no answer outlives its node (temporary trees are freed and
// their addresses reused). Hoisted operands are compiled from the given tree
// and the rewritten expression is built around the hoisted names, without
// copying the hoisted subtrees.
#include "codegen/expr/expr.h"
#include "ast/overload.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtin_methods.h"

#include <algorithm>
#include <array>
#include <unordered_map>

namespace kestal {

namespace {


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

using MethodNames = std::unordered_set<std::string>;

// The side-effect test of one node; `child` answers it for a child node, so
// the same rules serve the plain and the memoized test.
template <class Child>
bool side_effects_by_kind(const Expr &e, const MethodNames *names, Child &&child) {
    auto any_of = [&](const std::vector<Expr> &list) {
        return std::any_of(list.begin(), list.end(), [&](const Expr &x) { return child(x); });
    };
    auto any_kw = [&](const std::vector<Keyword> &list) {
        return std::any_of(list.begin(), list.end(), [&](const Keyword &k) { return child(k.value); });
    };
    auto clauses = [&](const std::vector<ComprehensionClause> &list) {
        for (const auto &c : list) {
            if (child(c.iterable)) return true;
            if (any_of(c.conditions)) return true;
        }
        return false;
    };
    return std::visit(
        Overload{
            [&](const Expr::FString &f) {
                for (const auto &seg : f.segments) {
                    const auto *field = std::get_if<FStringSegment::Field>(&seg.kind);
                    if (field && child(field->expr)) return true;
                }
                return false;
            },
            [&](const Expr::BinaryOp &b) { return child(*b.left) || child(*b.right); },
            [&](const Expr::Unary &u) { return child(*u.operand); },
            [&](const Expr::IfExp &i) {
                return child(*i.condition) || child(*i.if_true) || child(*i.if_false);
            },
            [&](const Expr::Call &c) {
                if (!builtin_has(c.name, kBuiltinPure)) return true;
                return any_of(c.args) || any_kw(c.kwargs);
            },
            [&](const Expr::CallExpr &) { return true; },
            [&](const Expr::MethodCall &m) {
                if (!is_pure_method(m.method) || !names || names->count(m.method)) return true;
                return child(*m.receiver) || any_of(m.args) || any_kw(m.kwargs);
            },
            [&](const Expr::Attribute &a) { return child(*a.object); },
            [&](const Expr::Index &i) { return child(*i.object) || child(*i.index); },
            [&](const Expr::Slice &s) {
                return child(*s.object) || (s.lower && child(**s.lower)) ||
                       (s.upper && child(**s.upper)) || (s.step && child(**s.step));
            },
            [&](const Expr::List &l) { return any_of(l.elements); },
            [&](const Expr::Tuple &l) { return any_of(l.elements); },
            [&](const Expr::Set &l) { return any_of(l.elements); },
            [&](const Expr::Dict &d) {
                for (const auto &en : d.entries)
                    if (child(en.key) || child(en.value)) return true;
                return false;
            },
            [&](const Expr::SetComp &c) { return child(*c.element) || clauses(c.clauses); },
            [&](const Expr::ListComp &c) { return child(*c.element) || clauses(c.clauses); },
            [&](const Expr::GeneratorExp &c) { return child(*c.element) || clauses(c.clauses); },
            [&](const Expr::DictComp &c) {
                return child(*c.key) || child(*c.value) || clauses(c.clauses);
            },
            [](const auto &) { return false; },
        },
        e.kind);
}

// Every expression directly inside `e`, whatever its role.
template <class F> void for_each_sub_expr(const Expr &e, F &&f) {
    auto each = [&](const std::vector<Expr> &list) {
        for (const Expr &x : list) f(x);
    };
    auto each_kw = [&](const std::vector<Keyword> &list) {
        for (const Keyword &k : list) f(k.value);
    };
    auto each_clause = [&](const std::vector<ComprehensionClause> &list) {
        for (const auto &c : list) {
            f(c.target);
            f(c.iterable);
            each(c.conditions);
        }
    };
    std::visit(Overload{
                   [&](const Expr::FString &x) {
                       for (const auto &seg : x.segments)
                           if (const auto *field = std::get_if<FStringSegment::Field>(&seg.kind))
                               f(field->expr);
                   },
                   [&](const Expr::BinaryOp &x) {
                       f(*x.left);
                       f(*x.right);
                   },
                   [&](const Expr::Unary &x) { f(*x.operand); },
                   [&](const Expr::IfExp &x) {
                       f(*x.condition);
                       f(*x.if_true);
                       f(*x.if_false);
                   },
                   [&](const Expr::Call &x) {
                       each(x.args);
                       each_kw(x.kwargs);
                   },
                   [&](const Expr::CallExpr &x) {
                       f(*x.callee);
                       each(x.args);
                       each_kw(x.kwargs);
                   },
                   [&](const Expr::MethodCall &x) {
                       f(*x.receiver);
                       each(x.args);
                       each_kw(x.kwargs);
                   },
                   [&](const Expr::Attribute &x) { f(*x.object); },
                   [&](const Expr::Index &x) {
                       f(*x.object);
                       f(*x.index);
                   },
                   [&](const Expr::Slice &x) {
                       f(*x.object);
                       if (x.lower) f(**x.lower);
                       if (x.upper) f(**x.upper);
                       if (x.step) f(**x.step);
                   },
                   [&](const Expr::List &x) { each(x.elements); },
                   [&](const Expr::Tuple &x) { each(x.elements); },
                   [&](const Expr::Set &x) { each(x.elements); },
                   [&](const Expr::Dict &x) {
                       for (const auto &en : x.entries) {
                           f(en.key);
                           f(en.value);
                       }
                   },
                   [&](const Expr::SetComp &x) {
                       f(*x.element);
                       each_clause(x.clauses);
                   },
                   [&](const Expr::ListComp &x) {
                       f(*x.element);
                       each_clause(x.clauses);
                   },
                   [&](const Expr::GeneratorExp &x) {
                       f(*x.element);
                       each_clause(x.clauses);
                   },
                   [&](const Expr::DictComp &x) {
                       f(*x.key);
                       f(*x.value);
                       each_clause(x.clauses);
                   },
                   [](const auto &) {},
               },
               e.kind);
}

// Memo bits per registered node: whether each answer is known, and its value.
constexpr uint8_t kQuickKnown = 1, kQuickValue = 2, kFullKnown = 4, kFullValue = 8;

// Registers the nodes of the tree under `root` in the context's memo for the
// lifetime of the guard, unless an enclosing guard already holds the root.
// The registered set is closed under children (a walk stops at a registered
// node, whose subtree is registered already), and guards end in reverse
// order, so each guard drops exactly the nodes it added.
class MemoScope {
  public:
    MemoScope(CodegenContext &ctx, const Expr &root) : memo_(ctx.side_effect_memo) {
        if (memo_.count(&root)) return;
        std::vector<const Expr *> pending{&root};
        while (!pending.empty()) {
            const Expr *e = pending.back();
            pending.pop_back();
            if (!memo_.emplace(e, uint8_t{0}).second) continue;
            added_.push_back(e);
            for_each_sub_expr(*e, [&](const Expr &c) { pending.push_back(&c); });
        }
    }
    ~MemoScope() {
        for (const Expr *e : added_) memo_.erase(e);
    }
    MemoScope(const MemoScope &) = delete;
    MemoScope &operator=(const MemoScope &) = delete;

  private:
    std::unordered_map<const Expr *, uint8_t> &memo_;
    std::vector<const Expr *> added_;
};

// `may_have_side_effects` with the answers of registered nodes kept. `names`
// is null (the quick test) or the context's method-name set.
bool side_effects(CodegenContext &ctx, const Expr &e, const MethodNames *names) {
    auto it = ctx.side_effect_memo.find(&e);
    const uint8_t known = names ? kFullKnown : kQuickKnown;
    const uint8_t value = names ? kFullValue : kQuickValue;
    if (it != ctx.side_effect_memo.end() && (it->second & known)) return (it->second & value) != 0;
    bool answer =
        side_effects_by_kind(e, names, [&](const Expr &child) { return side_effects(ctx, child, names); });
    // The recursion may have rehashed the map: look the node up again.
    if (it != ctx.side_effect_memo.end()) {
        it = ctx.side_effect_memo.find(&e);
        it->second = static_cast<uint8_t>(it->second | known | (answer ? value : 0));
    }
    return answer;
}

size_t count_side_effects(CodegenContext &ctx, const std::vector<const Expr *> &list,
                          const MethodNames *names) {
    return static_cast<size_t>(std::count_if(
        list.begin(), list.end(), [&](const Expr *e) { return side_effects(ctx, *e, names); }));
}

// The quick test, without the method-name set.
bool worth_full_test(CodegenContext &ctx, const Expr &e) {
    return std::visit(
        Overload{
            [&](const Expr::BinaryOp &b) {
                if (b.op == BinOp::And || b.op == BinOp::Or) return false;
                return side_effects(ctx, *b.left, nullptr) && side_effects(ctx, *b.right, nullptr);
            },
            [&](const Expr::Call &) { return count_side_effects(ctx, expr_children(e), nullptr) >= 2; },
            [&](const Expr::CallExpr &) {
                return count_side_effects(ctx, expr_children(e), nullptr) >= 2;
            },
            [&](const Expr::MethodCall &) {
                return count_side_effects(ctx, expr_children(e), nullptr) >= 2;
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

// A copy of `e` in which each direct child found in `hoisted` is replaced by
// its entry and every other child is copied. Only the kinds that have
// `expr_children` come here; the structured bindings stop the build when a
// field is added to one of them, so no field is silently dropped.
Expr rebuilt_with(const Expr &e, const std::unordered_map<const Expr *, Expr> &hoisted) {
    auto take = [&](const Expr &c) -> Expr {
        auto it = hoisted.find(&c);
        return it != hoisted.end() ? it->second : c;
    };
    auto take_all = [&](const std::vector<Expr> &list) {
        std::vector<Expr> out;
        out.reserve(list.size());
        for (const Expr &x : list) out.push_back(take(x));
        return out;
    };
    auto take_kw = [&](const std::vector<Keyword> &list) {
        std::vector<Keyword> out;
        out.reserve(list.size());
        for (const Keyword &k : list) {
            const auto &[name, value] = k;
            out.push_back(Keyword{name, take(value)});
        }
        return out;
    };
    auto take_opt = [&](const std::optional<Box<Expr>> &b) -> std::optional<Box<Expr>> {
        if (!b) return std::nullopt;
        return Box<Expr>(take(**b));
    };
    Expr::Kind kind = std::visit(
        Overload{
            [&](const Expr::BinaryOp &x) -> Expr::Kind {
                const auto &[left, op, right, chain] = x;
                return Expr::BinaryOp{Box<Expr>(take(*left)), op, Box<Expr>(take(*right)), chain};
            },
            [&](const Expr::Call &x) -> Expr::Kind {
                const auto &[name, args, kwargs] = x;
                return Expr::Call{name, take_all(args), take_kw(kwargs)};
            },
            [&](const Expr::CallExpr &x) -> Expr::Kind {
                const auto &[callee, args, kwargs] = x;
                return Expr::CallExpr{Box<Expr>(take(*callee)), take_all(args), take_kw(kwargs)};
            },
            [&](const Expr::MethodCall &x) -> Expr::Kind {
                const auto &[receiver, method, args, kwargs] = x;
                return Expr::MethodCall{Box<Expr>(take(*receiver)), method, take_all(args),
                                        take_kw(kwargs)};
            },
            [&](const Expr::Index &x) -> Expr::Kind {
                const auto &[object, index] = x;
                return Expr::Index{Box<Expr>(take(*object)), Box<Expr>(take(*index))};
            },
            [&](const Expr::Slice &x) -> Expr::Kind {
                const auto &[object, lower, upper, step] = x;
                return Expr::Slice{Box<Expr>(take(*object)), take_opt(lower), take_opt(upper),
                                   take_opt(step)};
            },
            [&](const Expr::List &x) -> Expr::Kind {
                const auto &[elements] = x;
                return Expr::List{take_all(elements)};
            },
            [&](const Expr::Tuple &x) -> Expr::Kind {
                const auto &[elements] = x;
                return Expr::Tuple{take_all(elements)};
            },
            [&](const Expr::Set &x) -> Expr::Kind {
                const auto &[elements] = x;
                return Expr::Set{take_all(elements)};
            },
            [&](const Expr::Dict &x) -> Expr::Kind {
                const auto &[entries] = x;
                std::vector<DictEntry> out;
                out.reserve(entries.size());
                for (const DictEntry &en : entries) {
                    const auto &[key, value] = en;
                    out.push_back(DictEntry{take(key), take(value)});
                }
                return Expr::Dict{std::move(out)};
            },
            [&](const auto &) -> Expr::Kind { internal_fault("rebuilding a node without operands"); },
        },
        e.kind);
    return Expr{std::move(kind), e.line, e.column};
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
    return side_effects_by_kind(e, names, [&](const Expr &child) {
        return may_have_side_effects(child, names);
    });
}

const std::unordered_set<std::string> &program_method_names(CodegenContext &ctx) {
    // The classes never change after set-up, so the set is built once.
    if (!ctx.method_names) {
        ctx.method_names.emplace();
        for (const auto &entry : ctx.classes)
            for (const FuncDef &m : entry.second->methods) ctx.method_names->insert(m.name);
    }
    return *ctx.method_names;
}

// One piece: the steps share the child list, the hoisted names and the
// result text.
CompiledExpr compile_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    MemoScope memo(ctx, e);
    if (!worth_full_test(ctx, e) || is_closing_open_receiver(e)) return compile_expr_node(ctx, e, expected);
    const MethodNames *names = &program_method_names(ctx);
    const auto *mc = e.as<Expr::MethodCall>();
    const Expr *super_receiver = mc && is_super_receiver(*mc->receiver) ? mc->receiver.get() : nullptr;
    std::vector<const Expr *> children = expr_children(e);
    size_t effects = 0;
    for (const Expr *child : children)
        if (child != super_receiver && side_effects(ctx, *child, names)) ++effects;
    if (effects < 2) return compile_expr_node(ctx, e, expected);

    // Each hoisted child is compiled where it stands in `e` (the rewritten
    // expression holds an equal copy of every child it keeps).
    // The result text is built in place: a hoisted operand's text can hold
    // the whole chain below it, so it is copied once, not once per step.
    std::unordered_map<const Expr *, Expr> hoisted;
    std::string text = "({ ";
    for (const Expr *child : children) {
        if (child == super_receiver || !side_effects(ctx, *child, names)) continue;
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
        text.append(var.text).append(" = ").append(c.text).append("; ");
        hoisted.emplace(child, Expr{Expr::Name{name}, child->line, child->column});
    }
    if (hoisted.empty()) return compile_expr_node(ctx, e, expected);
    Expr copy = rebuilt_with(e, hoisted);
    CompiledExpr r = compile_expr(ctx, copy, expected);
    text.append(r.text).append("; })");
    return {std::move(text), std::move(r.type)};
}

} // namespace kestal
