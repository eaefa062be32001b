// Evaluation-order hoisting. C leaves the order of function arguments and
// of most operands open, so where the order of an expression's direct
// operands can be observed, the operands that must come first are evaluated
// in source order into fresh variables `__ktl_o<N>`, and the expression is
// compiled over them inside a GNU statement expression.
//
// Each operand has an Order: Free, Sensitive (it may raise, or it reads a
// module global that a function assigns, a field or an item) or Effect (a
// call that is not a pure built-in; a pure built-in's name counts only where
// it means the built-in; `str()`, `repr()` or an f-string field of a value
// whose text a user `__str__` or `__repr__` may give, since those may
// print). An Effect must come before every later operand
// that is not Free, and a Sensitive operand before every later Effect;
// operands left in place run after all the hoisted ones, so only the
// operands with such a later partner are hoisted (and, once there are two
// effects, every effect).
//
// Some operands must stay where they are: a `super()` receiver (it is no
// value), an `open(...)` receiver whose file the method-call lowering closes
// right after the call, and the lazy iterables (`zip`, `map`, `filter`,
// `reversed`, `enumerate`), which exist only where they are consumed.
//
// Cost: each level of a deep expression asks the Order of its operands, so
// the answers are kept per node (`side_effect_memo` of the context) and the
// method-name and assigned-global sets are built once per context. The memo only
// holds nodes of trees that a running `compile_expr` call was given: the call
// that first reaches a tree registers its nodes and drops them when it
// returns, so no answer outlives its node (temporary trees are freed and
// their addresses reused). Hoisted operands are compiled from the given tree
// and the rewritten expression is built around the hoisted names, without
// copying the hoisted subtrees.
#include "codegen/expr/expr.h"

#include "analysis/walkers.h"
#include "ast/traverse.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtin_methods.h"
#include "codegen/builtins/builtins.h"
#include "codegen/expr/strings.h"
#include "support/overload.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace kestal {

namespace {

bool is_pure_call_name(std::string_view name) {
    return builtin_has(name, kBuiltinPure);
}
bool is_pure_method_name(std::string_view name) {
    return is_pure_method(name);
}

// The pure built-ins and methods that can't raise either: an operand made
// of them needs no ordering against a call beside it.
bool never_raises_call(std::string_view name) {
    return builtin_has(name, kBuiltinNeverRaises);
}
bool never_raises_method(std::string_view name) {
    return every_method_named_has(name, kMethodNeverRaises);
}

bool is_plain_call_of(const Expr &e, std::string_view name) {
    const auto *call = e.as<Expr::Call>();
    return call && call->name == name;
}

bool is_super_receiver(const Expr &e) {
    const auto *call = e.as<Expr::Call>();
    return call && call->name == "super" && call->args.empty() && call->kwargs.empty();
}

// A non-empty list display beside `+`: the concatenation stores its items
// straight into the result, so they are operands of the `+` itself.
bool is_spliced_display(const Expr::BinaryOp &b, const Expr &side) {
    const auto *l = side.as<Expr::List>();
    return b.op == BinOp::Add && l && !l->elements.empty();
}

bool is_lazy_iterable_call(const Expr &e) {
    const auto *call = e.as<Expr::Call>();
    return call && builtin_has(call->name, kBuiltinIterationOnly);
}

// A method call on `open(...)` whose file the call lowering closes.
bool is_closing_open_receiver(const Expr &e) {
    const auto *mc = e.as<Expr::MethodCall>();
    return mc && mc->method != "close" && is_plain_call_of(*mc->receiver, "open");
}

using MethodNames = std::unordered_set<std::string>;

// How evaluating an operand can be observed, in rising strength. An operand
// is as strong as its strongest part.
enum class Order : uint8_t {
    // Nothing to see: it can be evaluated at any point.
    Free,
    // It may raise, or it reads what a call may change (a module global that
    // a function assigns, an attribute, an item): it must not move across
    // an operand with effects.
    Sensitive,
    // It may change state or print: it keeps its place among all the other
    // operands that are not Free.
    Effect,
};

// A name written as a callee means the built-in only where no user function,
// class, import alias or variable of that name is in sight.
bool means_builtin(CodegenContext &ctx, const std::string &name) {
    return is_builtin_name(ctx, name) && !ctx.classes.count(name) && !ctx.aliases->count(name);
}

// The names that some function or method declares `global`: the only
// module globals a call can assign. Built once per context.
const std::unordered_set<std::string> &call_assigned_globals(CodegenContext &ctx) {
    if (!ctx.call_assigned_globals) {
        std::set<std::string> names;
        for (const FuncDef &f : ctx.program->functions)
            collect_global_declarations(f.body, names);
        for (const ClassDef &c : ctx.program->classes)
            for (const FuncDef &m : c.methods)
                collect_global_declarations(m.body, names);
        ctx.call_assigned_globals.emplace(names.begin(), names.end());
    }
    return *ctx.call_assigned_globals;
}

} // namespace

bool call_may_assign_global(CodegenContext &ctx, const std::string &name) {
    return call_assigned_globals(ctx).count(name) != 0;
}

namespace {

bool reads_call_assigned_global(CodegenContext &ctx, const std::string &name) {
    if (!call_assigned_globals(ctx).count(name))
        return false;
    std::optional<Variable> var = lookup_var(ctx, name);
    return var && var->text.starts_with("ktl_G.");
}

// A variable holding a list, dict, set, file, object or an optional of one:
// what a read of it sees (its length, an item, a field) may be changed by a
// call beside it, so the read keeps its place before that call. A hoisted
// operand's own variable is read once, where it was placed, and never moves.
bool names_mutable_value(CodegenContext &ctx, const std::string &name) {
    if (name.starts_with("__ktl_o"))
        return false;
    std::optional<Variable> var = lookup_var(ctx, name);
    if (!var)
        return false;
    const Type *t = &var->type;
    if (const auto *q = t->as<Type::Optional>())
        t = &*q->inner;
    switch (t->tag()) {
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::File:
    case TypeKind::Class:
        return true;
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    return false;
}

bool is_nonzero_number(const Expr &e) {
    if (const auto *i = e.as<Expr::Int>())
        return i->value != 0;
    if (const auto *f = e.as<Expr::Float>())
        return f->value != 0.0;
    return false;
}

bool is_nonnegative_int(const Expr &e) {
    const auto *i = e.as<Expr::Int>();
    return i && i->value >= 0;
}

Order binary_op_order(const Expr::BinaryOp &b) {
    switch (b.op) {
    case BinOp::Div:
    case BinOp::FloorDiv:
    case BinOp::Mod:
        return is_nonzero_number(*b.right) ? Order::Free : Order::Sensitive;
    case BinOp::Shl:
    case BinOp::Shr:
        return is_nonnegative_int(*b.right) ? Order::Free : Order::Sensitive;
    case BinOp::Pow:
        return Order::Sensitive;
    case BinOp::Add:
    case BinOp::Sub:
    case BinOp::Mul:
    case BinOp::BitAnd:
    case BinOp::BitOr:
    case BinOp::BitXor:
    case BinOp::Eq:
    case BinOp::Ne:
    case BinOp::Lt:
    case BinOp::Le:
    case BinOp::Gt:
    case BinOp::Ge:
    case BinOp::And:
    case BinOp::Or:
    case BinOp::In:
    case BinOp::NotIn:
    case BinOp::Is:
    case BinOp::IsNot:
        return Order::Free;
    }
    return Order::Effect;
}

// Whether the text of the value (its repr with `repr`) may come from a user
// __str__ or __repr__, which may print: known from a variable's Type,
// assumed for any other operand but a literal, and never so in a program
// where no class has either written.
bool text_may_run_user_code(CodegenContext &ctx, const Expr &value, bool repr) {
    if (!program_has_text_methods(ctx))
        return false;
    if (value.is<Expr::Int>() || value.is<Expr::Float>() || value.is<Expr::Str>() ||
        value.is<Expr::Bool>() || value.is<Expr::None>() || value.is<Expr::FString>())
        return false;
    if (const auto *n = value.as<Expr::Name>())
        if (std::optional<Variable> var = lookup_var(ctx, n->name))
            return text_runs_user_code(ctx, var->type, repr);
    return true;
}

// The order of the node itself, its operands aside. `names` is null (the
// quick test, where every method call counts as an effect) or the
// context's method-name set.
Order own_order(CodegenContext &ctx, const Expr &e, const MethodNames *names) {
    return std::visit(
        Overload{
            [](const OneOf<Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::None, Expr::Lambda,
                           Expr::Unary, Expr::IfExp, Expr::List, Expr::Tuple, Expr::Dict, Expr::Set,
                           Expr::SetComp, Expr::ListComp, Expr::DictComp, Expr::GeneratorExp> auto
                   &) { return Order::Free; },
            [&](const Expr::FString &f) {
                for (const FStringSegment &seg : f.segments) {
                    const auto *field = std::get_if<FStringSegment::Field>(&seg.kind);
                    if (field && text_may_run_user_code(ctx, field->expr, field->conversion == 'r'))
                        return Order::Effect;
                }
                return Order::Free;
            },
            [&](const Expr::Name &n) {
                return reads_call_assigned_global(ctx, n.name) || names_mutable_value(ctx, n.name)
                           ? Order::Sensitive
                           : Order::Free;
            },
            [](const Expr::BinaryOp &b) { return binary_op_order(b); },
            [&](const Expr::Call &c) {
                if (!is_pure_call_name(c.name) || !means_builtin(ctx, c.name))
                    return Order::Effect;
                if ((c.name == "str" || c.name == "repr") && c.args.size() == 1 &&
                    text_may_run_user_code(ctx, c.args[0], c.name == "repr"))
                    return Order::Effect;
                return never_raises_call(c.name) ? Order::Free : Order::Sensitive;
            },
            [](const Expr::CallExpr &) { return Order::Effect; },
            [&](const Expr::MethodCall &m) {
                // A C library's function may do anything, whatever its name.
                std::optional<std::string> module = resolve_module_ref(ctx, *m.receiver);
                if (module && ctx.libraries->count(*module))
                    return Order::Effect;
                if (!is_pure_method_name(m.method) || !names || names->count(m.method))
                    return Order::Effect;
                return never_raises_method(m.method) ? Order::Free : Order::Sensitive;
            },
            // A module's member never changes; an object's field may.
            [&](const Expr::Attribute &a) {
                return resolve_module_ref(ctx, *a.object) ? Order::Free : Order::Sensitive;
            },
            [](const OneOf<Expr::Index, Expr::Slice> auto &) { return Order::Sensitive; },
        },
        e.kind);
}

// The order of the node with its operands; `child` answers for an operand,
// so the same rules serve the plain and the memoized test. Comprehension
// targets bind and are not operands.
template <class Child>
Order order_by_kind(CodegenContext &ctx, const Expr &e, const MethodNames *names, Child &&child) {
    Order order = own_order(ctx, e, names);
    if (order == Order::Effect)
        return order;
    for_each_child_expr(e, [&](const Expr &c, ExprRole role) {
        if (order == Order::Effect || role != ExprRole::Read)
            return;
        order = std::max(order, child(c));
    });
    return order;
}

// Which operands to evaluate first, in order, given their orders: an operand
// is hoisted when a later one must not run before it (an effect before
// anything that is not Free, a Sensitive operand before an effect), and
// every effect is hoisted once there are two of them.
std::vector<bool> hoisting_plan(const std::vector<Order> &orders) {
    std::vector<bool> plan(orders.size(), false);
    size_t effects = static_cast<size_t>(std::count(orders.begin(), orders.end(), Order::Effect));
    bool later_effect = false, later_observable = false;
    for (size_t i = orders.size(); i-- > 0;) {
        Order o = orders[i];
        plan[i] = (o == Order::Effect && (effects >= 2 || later_observable)) ||
                  (o == Order::Sensitive && later_effect);
        later_effect = later_effect || o == Order::Effect;
        later_observable = later_observable || o != Order::Free;
    }
    return plan;
}

bool any_hoisted(const std::vector<bool> &plan) {
    return std::find(plan.begin(), plan.end(), true) != plan.end();
}

// Memo bits per registered node: for the quick and the full test, whether
// the answer is known (one bit) and the Order (two bits above it).
constexpr unsigned kQuickShift = 0, kFullShift = 3;
constexpr uint8_t kKnown = 1;

// Registers the nodes of the tree under `root` in the context's memo for the
// lifetime of the guard, unless an enclosing guard already holds the root.
// The registered set is closed under children (a walk stops at a registered
// node, whose subtree is registered already), and guards end in reverse
// order, so each guard drops exactly the nodes it added.
class MemoScope {
  public:
    MemoScope(CodegenContext &ctx, const Expr &root) : memo_(ctx.side_effect_memo) {
        if (memo_.count(&root))
            return;
        std::vector<const Expr *> pending{&root};
        while (!pending.empty()) {
            const Expr *e = pending.back();
            pending.pop_back();
            if (!memo_.emplace(e, uint8_t{0}).second)
                continue;
            added_.push_back(e);
            for_each_child_expr(*e, [&](const Expr &c) { pending.push_back(&c); });
        }
    }
    ~MemoScope() {
        for (const Expr *e : added_)
            memo_.erase(e);
    }
    MemoScope(const MemoScope &) = delete;
    MemoScope &operator=(const MemoScope &) = delete;

  private:
    std::unordered_map<const Expr *, uint8_t> &memo_;
    std::vector<const Expr *> added_;
};

// `order_by_kind` with the answers of registered nodes kept. `names` is
// null (the quick test) or the context's method-name set.
Order order_of(CodegenContext &ctx, const Expr &e, const MethodNames *names) {
    auto it = ctx.side_effect_memo.find(&e);
    const unsigned shift = names ? kFullShift : kQuickShift;
    if (it != ctx.side_effect_memo.end() && ((it->second >> shift) & kKnown))
        return static_cast<Order>((it->second >> (shift + 1)) & 3);
    Order answer = order_by_kind(ctx, e, names,
                                 [&](const Expr &child) { return order_of(ctx, child, names); });
    // The recursion may have rehashed the map: look the node up again.
    if (it != ctx.side_effect_memo.end()) {
        it = ctx.side_effect_memo.find(&e);
        unsigned bits = (kKnown | (static_cast<unsigned>(answer) << 1)) << shift;
        it->second = static_cast<uint8_t>(it->second | bits);
    }
    return answer;
}

// The hoisting plan of `e`'s operands (`children`); `skip` (may be null)
// stands where it is whatever it holds.
std::vector<bool> plan_for(CodegenContext &ctx, const std::vector<const Expr *> &children,
                           const Expr *skip, const MethodNames *names) {
    std::vector<Order> orders;
    orders.reserve(children.size());
    for (const Expr *child : children)
        orders.push_back(child == skip ? Order::Free : order_of(ctx, *child, names));
    return hoisting_plan(orders);
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
        for (const Expr &x : list)
            out.push_back(take(x));
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
        if (!b)
            return std::nullopt;
        return Box<Expr>(take(**b));
    };
    Expr::Kind kind = std::visit(
        Overload{
            [&](const Expr::BinaryOp &x) -> Expr::Kind {
                const auto &[left, op, right, chain] = x;
                auto side = [&](const Expr &c) {
                    if (!is_spliced_display(x, c))
                        return take(c);
                    return Expr{Expr::List{take_all(c.as<Expr::List>()->elements)}, c.line,
                                c.column};
                };
                return Expr::BinaryOp{Box<Expr>(side(*left)), op, Box<Expr>(side(*right)), chain};
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
            [](const OneOf<Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::FString, Expr::Name,
                           Expr::Unary, Expr::IfExp, Expr::Attribute, Expr::SetComp, Expr::ListComp,
                           Expr::DictComp, Expr::GeneratorExp, Expr::Lambda, Expr::None> auto &)
                -> Expr::Kind { internal_fault("rebuilding a node without operands"); },
        },
        e.kind);
    return Expr{std::move(kind), e.line, e.column};
}

} // namespace

std::vector<const Expr *> expr_children(const Expr &e) {
    std::vector<const Expr *> out;
    std::visit(
        Overload{
            [&](const Expr::BinaryOp &b) {
                if (b.op == BinOp::And || b.op == BinOp::Or)
                    return;
                for (const Expr *side : {b.left.get(), b.right.get()}) {
                    if (!is_spliced_display(b, *side)) {
                        out.push_back(side);
                        continue;
                    }
                    for (const auto &x : side->as<Expr::List>()->elements)
                        out.push_back(&x);
                }
            },
            [&](const Expr::Call &c) {
                for (const auto &a : c.args)
                    out.push_back(&a);
                for (const auto &k : c.kwargs)
                    out.push_back(&k.value);
            },
            [&](const Expr::CallExpr &c) {
                out.push_back(c.callee.get());
                for (const auto &a : c.args)
                    out.push_back(&a);
                for (const auto &k : c.kwargs)
                    out.push_back(&k.value);
            },
            [&](const Expr::MethodCall &c) {
                out.push_back(c.receiver.get());
                for (const auto &a : c.args)
                    out.push_back(&a);
                for (const auto &k : c.kwargs)
                    out.push_back(&k.value);
            },
            [&](const Expr::Index &i) {
                out.push_back(i.object.get());
                out.push_back(i.index.get());
            },
            [&](const Expr::Slice &s) {
                out.push_back(s.object.get());
                if (s.lower)
                    out.push_back(s.lower->get());
                if (s.upper)
                    out.push_back(s.upper->get());
                if (s.step)
                    out.push_back(s.step->get());
            },
            [&](const Expr::List &l) {
                for (const auto &x : l.elements)
                    out.push_back(&x);
            },
            [&](const Expr::Tuple &l) {
                for (const auto &x : l.elements)
                    out.push_back(&x);
            },
            [&](const Expr::Set &l) {
                for (const auto &x : l.elements)
                    out.push_back(&x);
            },
            [&](const Expr::Dict &d) {
                for (const auto &en : d.entries) {
                    out.push_back(&en.key);
                    out.push_back(&en.value);
                }
            },
            // One operand, or operands that run only in their own
            // order (an f-string's fields, a conditional's branches, a
            // comprehension's clauses).
            [](const OneOf<Expr::Int, Expr::Float, Expr::Str, Expr::Bool, Expr::FString, Expr::Name,
                           Expr::Unary, Expr::IfExp, Expr::Attribute, Expr::SetComp, Expr::ListComp,
                           Expr::DictComp, Expr::GeneratorExp, Expr::Lambda, Expr::None> auto &) {},
        },
        e.kind);
    if (out.size() >= 2) {
        std::stable_sort(out.begin(), out.end(), [](const Expr *a, const Expr *b) {
            return a->line != b->line ? a->line < b->line : a->column < b->column;
        });
    }
    return out;
}

bool may_have_side_effects(CodegenContext &ctx, const Expr &e) {
    return order_of(ctx, e, &program_method_names(ctx)) == Order::Effect;
}

const std::unordered_set<std::string> &program_method_names(CodegenContext &ctx) {
    // The classes never change after set-up, so the set is built once.
    if (!ctx.method_names) {
        ctx.method_names.emplace();
        for (const auto &entry : ctx.classes)
            for (const FuncDef &m : entry.second->methods)
                ctx.method_names->insert(m.name);
    }
    return *ctx.method_names;
}

// One piece: the steps share the child list, the hoisted names and the
// result text.
namespace {

// A value is computed in full where it stands, before any loop body that
// follows it runs: only the lazy sources of a `for` statement's own iterable
// call their function between steps of the body.
class LoopBodyScope {
  public:
    explicit LoopBodyScope(CodegenContext &ctx)
        : frame_(ctx.frames.empty() ? nullptr : &ctx.frame()),
          saved_(frame_ ? frame_->loop_body_assigned : nullptr) {
        if (frame_)
            frame_->loop_body_assigned = nullptr;
    }
    ~LoopBodyScope() {
        if (frame_)
            frame_->loop_body_assigned = saved_;
    }
    LoopBodyScope(const LoopBodyScope &) = delete;
    LoopBodyScope &operator=(const LoopBodyScope &) = delete;

  private:
    FunctionFrame *frame_;
    const std::unordered_set<std::string> *saved_;
};

} // namespace

CompiledExpr compile_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    MemoScope memo(ctx, e);
    LoopBodyScope loop_body(ctx);
    // A string-building run orders its operands itself.
    if (std::optional<CompiledExpr> built = compile_str_chain(ctx, e))
        return std::move(*built);
    if (std::optional<CompiledExpr> run = compile_operator_run(ctx, e, expected))
        return std::move(*run);
    std::vector<const Expr *> children = expr_children(e);
    // The quick test never finds less to order than the full one.
    if (!any_hoisted(plan_for(ctx, children, nullptr, nullptr)) || is_closing_open_receiver(e))
        return compile_expr_node(ctx, e, expected);
    const MethodNames *names = &program_method_names(ctx);
    const auto *mc = e.as<Expr::MethodCall>();
    const Expr *super_receiver =
        mc && is_super_receiver(*mc->receiver) ? mc->receiver.get() : nullptr;
    std::vector<bool> plan = plan_for(ctx, children, super_receiver, names);
    if (!any_hoisted(plan))
        return compile_expr_node(ctx, e, expected);

    // Each hoisted child is compiled where it stands in `e` (the rewritten
    // expression holds an equal copy of every child it keeps).
    // The result text is built in place: a hoisted operand's text can hold
    // the whole chain below it, so it is copied once, not once per step.
    std::unordered_map<const Expr *, Expr> hoisted;
    std::string text = "({ ";
    for (size_t i = 0; i < children.size(); ++i) {
        const Expr *child = children[i];
        if (!plan[i])
            continue;
        if (child->is<Expr::GeneratorExp>())
            return compile_expr_node(ctx, e, expected);
        // Operands after a lazy iterable stay in place too, so that none of
        // them jumps ahead of it.
        if (is_lazy_iterable_call(*child))
            break;
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
    if (hoisted.empty())
        return compile_expr_node(ctx, e, expected);
    Expr copy = rebuilt_with(e, hoisted);
    CompiledExpr r = compile_expr(ctx, copy, expected);
    text.append(r.text).append("; })");
    return {std::move(text), std::move(r.type)};
}

} // namespace kestal
