// The prange body checker. One walk over the body's statements and
// expressions, in source order, with the first violation thrown. Two
// questions run through it: which names are bound to objects that may come
// from outside the loop (`may_alias`), and which to new containers holding
// such objects (`elements_may_alias`): a slice, a copy or a list() of an
// outside list is a new list, but its elements are still the outside
// objects. Called user code is walked once per argument signature by a
// second checker whose outside names are the function's free names plus the
// parameters that receive outside objects.
#include "codegen/parallel/checker.h"

#include "analysis/walkers.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtin_methods.h"
#include "codegen/classes/classes.h"
#include "codegen/expr/expr.h"
#include "support/overload.h"

#include <algorithm>
#include <optional>

namespace kestal {

namespace {

constexpr const char *kPrefix = "inside a prange loop, ";

// A method of a built-in value that changes its receiver, asked by name
// whatever the receiver's Type: a user method of such a name counts too.
bool changes_receiver(const std::string &method) {
    return some_method_named_has(method, kMethodChangesReceiver);
}

// A method whose result is a new container of its receiver's elements.
bool keeps_elements(const std::string &method) {
    return every_method_named_has(method, kMethodKeepsElements);
}

std::string update_forms(const std::string &name) {
    return fmt::format("`{0} += ...`, `{0} -= ...`, `{0} = min({0}, ...)` or `{0} = max({0}, ...)`",
                       name);
}

std::optional<std::string> root_name_of(const Expr &e) {
    if (const auto *n = e.as<Expr::Name>())
        return n->name;
    if (const auto *m = e.as<Expr::MethodCall>())
        return root_name_of(*m->receiver);
    if (const auto *a = e.as<Expr::Attribute>())
        return root_name_of(*a->object);
    if (const auto *i = e.as<Expr::Index>())
        return root_name_of(*i->object);
    if (const auto *s = e.as<Expr::Slice>())
        return root_name_of(*s->object);
    return std::nullopt;
}

std::string after_last_dot(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

class Walker {
  public:
    explicit Walker(PrangeChecker &c) : c_(c) {}

    [[noreturn]] void fail(uint64_t line, uint64_t column, const std::string &message) {
        throw wrap_prange_message(c_.in_body, line, column, message);
    }

    // ---- Aliasing ----

    bool may_alias(const Expr &e) {
        if (const auto *n = e.as<Expr::Name>())
            return c_.outside.count(n->name) || c_.aliased.count(n->name);
        if (const auto *b = e.as<Expr::BinaryOp>()) {
            if (b->op == BinOp::And || b->op == BinOp::Or)
                return may_alias(*b->left) || may_alias(*b->right);
            return false;
        }
        if (const auto *i = e.as<Expr::IfExp>())
            return may_alias(*i->if_true) || may_alias(*i->if_false);
        if (const auto *call = e.as<Expr::Call>()) {
            bool user = c_.ctx.functions.count(call->name) > 0;
            if (!user && call->name != "next" && call->name != "min" && call->name != "max" &&
                !c_.callees.count(call->name))
                return false;
            if (user && returns_outside_state(call->name))
                return true;
            if (call->name == "next" || call->name == "min" || call->name == "max")
                return any_arg(call->args, call->kwargs,
                               [&](const Expr &a) { return elements_may_alias(a); });
            return any_arg(call->args, call->kwargs, [&](const Expr &a) { return may_alias(a); });
        }
        if (const auto *m = e.as<Expr::MethodCall>()) {
            if (keeps_elements(m->method))
                return false;
            return may_alias(*m->receiver) || elements_may_alias(*m->receiver);
        }
        if (const auto *a = e.as<Expr::Attribute>())
            return may_alias(*a->object) || elements_may_alias(*a->object);
        if (const auto *i = e.as<Expr::Index>())
            return may_alias(*i->object) || elements_may_alias(*i->object);
        return false;
    }

    // True when the value is, or holds, objects that may come from outside.
    bool elements_may_alias(const Expr &e) {
        if (may_alias(e))
            return true;
        if (const auto *n = e.as<Expr::Name>())
            return c_.element_aliased.count(n->name) > 0;
        if (const auto *s = e.as<Expr::Slice>())
            return elements_may_alias(*s->object);
        if (const auto *m = e.as<Expr::MethodCall>())
            return keeps_elements(m->method) && elements_may_alias(*m->receiver);
        if (e.is<Expr::Attribute>() || e.is<Expr::Index>())
            return deep_may_alias(e);
        if (const auto *call = e.as<Expr::Call>()) {
            // A new object holds what its constructor's arguments give it,
            // and whatever its __init__ stores.
            if (is_constructor(*call))
                return c_.holding_calls.count(&e) ||
                       any_arg(call->args, call->kwargs,
                               [&](const Expr &a) { return may_alias(a) && !scalar(a); });
            if (!builtin_has(call->name, kBuiltinKeepsElements) ||
                !is_builtin_name(c_.ctx, call->name))
                return false;
            return any_arg(call->args, call->kwargs,
                           [&](const Expr &a) { return elements_may_alias(a); });
        }
        if (const auto *b = e.as<Expr::BinaryOp>())
            return (b->op == BinOp::Add || b->op == BinOp::Mul) &&
                   (elements_may_alias(*b->left) || elements_may_alias(*b->right));
        auto any_of = [&](const std::vector<Expr> &xs) {
            return std::any_of(xs.begin(), xs.end(),
                               [&](const Expr &x) { return elements_may_alias(x); });
        };
        if (const auto *l = e.as<Expr::List>())
            return any_of(l->elements);
        if (const auto *t = e.as<Expr::Tuple>())
            return any_of(t->elements);
        if (const auto *s = e.as<Expr::Set>())
            return any_of(s->elements);
        if (const auto *d = e.as<Expr::Dict>())
            return std::any_of(d->entries.begin(), d->entries.end(), [&](const DictEntry &entry) {
                return elements_may_alias(entry.key) || elements_may_alias(entry.value);
            });
        if (const auto *lc = e.as<Expr::ListComp>())
            return elements_may_alias(*lc->element);
        if (const auto *sc = e.as<Expr::SetComp>())
            return elements_may_alias(*sc->element);
        if (const auto *g = e.as<Expr::GeneratorExp>())
            return elements_may_alias(*g->element);
        if (const auto *dc = e.as<Expr::DictComp>())
            return elements_may_alias(*dc->key) || elements_may_alias(*dc->value);
        return false;
    }

    // True when the value is a new object whose attributes or items may be
    // new containers of outside objects.
    bool deep_may_alias(const Expr &e) {
        if (const auto *call = e.as<Expr::Call>(); call && is_constructor(*call))
            return c_.deep_calls.count(&e) || any_arg(call->args, call->kwargs, [&](const Expr &a) {
                       return holds_outside(a) && !scalar(a);
                   });
        if (const auto *i = e.as<Expr::IfExp>())
            return deep_may_alias(*i->if_true) || deep_may_alias(*i->if_false);
        if (e.is<Expr::Name>() || e.is<Expr::Attribute>() || e.is<Expr::Index>()) {
            auto root = root_name_of(e);
            return root && c_.deep_aliased.count(*root);
        }
        return false;
    }

    // True when the value is, holds, or holds containers of objects that
    // may come from outside.
    bool holds_outside(const Expr &e) { return elements_may_alias(e) || deep_may_alias(e); }

    bool is_constructor(const Expr::Call &call) {
        return c_.ctx.classes.count(call.name) && !lookup_var(c_.ctx, call.name) &&
               !c_.callees.count(call.name);
    }

    // A value no iteration can change: sharing it races with nothing.
    bool scalar(const Expr &e) {
        if (e.is<Expr::Int>() || e.is<Expr::Float>() || e.is<Expr::Str>() || e.is<Expr::Bool>() ||
            e.is<Expr::None>())
            return true;
        auto type = known_type(e);
        return type && (type->is<Type::Int>() || type->is<Type::Float>() ||
                        type->is<Type::Bool>() || type->is<Type::Str>() || type->is<Type::None>());
    }

    // The Type of a name, or of an item of a list or dict it holds, when
    // known before compiling.
    std::optional<Type> known_type(const Expr &e) {
        if (const auto *i = e.as<Expr::Index>()) {
            auto object = known_type(*i->object);
            if (!object)
                return std::nullopt;
            if (const auto *l = object->as<Type::List>())
                return *l->element;
            if (const auto *d = object->as<Type::Dict>())
                return *d->value;
            return std::nullopt;
        }
        const auto *n = e.as<Expr::Name>();
        if (!n)
            return std::nullopt;
        if (auto known = c_.known_types.find(n->name); known != c_.known_types.end())
            return known->second;
        if (c_.in_body) {
            if (auto var = lookup_var(c_.ctx, n->name))
                return var->type;
            return std::nullopt;
        }
        if (c_.outside.count(n->name) && !c_.variables.count(n->name))
            if (auto g = c_.ctx.globals.find(n->name); g != c_.ctx.globals.end())
                return g->second.type;
        return std::nullopt;
    }

    // An object that may come from outside (level 2), or a new container
    // of such objects (1), is stored into `object`: a local holding it now
    // holds outside objects, or new containers of them; one that reaches
    // it through attributes or items holds them at any depth.
    void note_filled(const Expr &object, int level) {
        if (level <= 0)
            return;
        auto root = root_name_of(object);
        if (!root)
            return;
        int &mark = c_.filled[*root];
        if (level >= 2 && object.is<Expr::Name>()) {
            c_.element_aliased.insert(*root);
            mark = 2;
        } else {
            c_.deep_aliased.insert(*root);
            mark = std::max(mark, 1);
        }
    }

    // A value that may come from outside counts as one from outside (2); a
    // new container or object holding such objects, as a holder (1); plain
    // values, as nothing (0). Used for stores and for call arguments alike.
    int store_level(const Expr &value) {
        if (scalar(value))
            return 0;
        if (may_alias(value))
            return 2;
        return holds_outside(value) ? 1 : 0;
    }

    template <class F>
    bool any_arg(const std::vector<Expr> &args, const std::vector<Keyword> &kwargs, F pred) {
        return std::any_of(args.begin(), args.end(), pred) ||
               std::any_of(kwargs.begin(), kwargs.end(),
                           [&](const Keyword &k) { return pred(k.value); });
    }

    // A user function that reads a module variable may hand back an object
    // every iteration shares.
    bool returns_outside_state(const std::string &name) {
        const FuncDef *def = c_.ctx.functions.at(name);
        BlockNames names = collect_block_names(*c_.ctx.lambdas, def->body);
        for (const std::string &r : names.read)
            if (!names.assigned.count(r) && c_.ctx.global_names.count(r) &&
                !c_.ctx.functions.count(r) && !c_.ctx.classes.count(r))
                return true;
        return false;
    }

    // ---- Statements ----

    void block(const std::vector<Stmt> &body, int depth) {
        for (const Stmt &s : body)
            stmt(s, depth);
    }

    void stmt(const Stmt &s, int depth) {
        std::visit(
            Overload{
                [&](const Stmt::ExprStmt &e) { expr(e.expr); },
                [&](const Stmt::Assign &a) { assign(a); },
                [&](const Stmt::Unpack &u) {
                    expr(u.value);
                    bool flag = elements_may_alias(u.value);
                    for (const Expr &t : u.targets)
                        assign_target(t, flag, flag);
                },
                [&](const Stmt::AugAssign &a) { aug_assign(a); },
                [&](const Stmt::If &i) {
                    for (const IfBranch &b : i.branches) {
                        condition(b.condition);
                        block(b.body, depth);
                    }
                    if (i.else_body)
                        block(*i.else_body, depth);
                },
                [&](const Stmt::While &w) {
                    to_fixed_point([&] {
                        condition(w.condition);
                        block(w.body, depth + 1);
                    });
                    if (w.else_body)
                        block(*w.else_body, depth);
                },
                [&](const Stmt::For &f) { for_stmt(f, depth); },
                [&](const Stmt::Break &) {
                    if (depth == 0 && c_.in_body)
                        fail(s.line, s.column,
                             "`break` can't be used (the iterations run at the same time, in any "
                             "order)");
                },
                [&](const Stmt::Continue &) {},
                [&](const Stmt::Pass &) {},
                [&](const Stmt::Return &r) {
                    if (c_.in_body)
                        fail(s.line, s.column, "`return` can't be used");
                    if (r.value)
                        expr(*r.value);
                },
                [&](const Stmt::Global &) { fail(s.line, s.column, "`global` can't be used"); },
                [&](const Stmt::Del &d) {
                    for (const Expr &t : d.targets) {
                        store_operands(t);
                        store(t, false);
                    }
                },
                [&](const Stmt::With &w) {
                    for (const WithItem &item : w.items) {
                        expr(item.context);
                        if (item.target)
                            assign_target(*item.target, false, false);
                    }
                    block(w.body, depth);
                },
                [&](const Stmt::Try &t) {
                    block(t.body, depth);
                    for (const ExceptHandler &h : t.handlers) {
                        for (const Expr &type : h.types)
                            expr(type);
                        // A caught exception may have been raised by called
                        // code with outside objects in its attributes.
                        if (h.name)
                            assign_target(Expr(Expr::Name{*h.name}, s.line, s.column), false, true);
                        block(h.body, depth);
                    }
                    if (t.else_body)
                        block(*t.else_body, depth);
                    if (t.finally_body)
                        block(*t.finally_body, depth);
                },
                [&](const Stmt::Raise &r) {
                    if (r.exception)
                        expr(*r.exception);
                    if (r.cause)
                        expr(*r.cause);
                },
                [&](const Stmt::Assert &a) {
                    condition(a.condition);
                    if (a.message)
                        expr(*a.message);
                },
            },
            s.kind);
    }

    // Walks a loop's body until the names it binds to outside objects stop
    // growing: a value bound late in one pass reaches the start of the next.
    template <class F> void to_fixed_point(F walk) {
        while (true) {
            auto sizes = [&] {
                return std::array<size_t, 5>{
                    c_.aliased.size(), c_.element_aliased.size(), c_.deep_aliased.size(),
                    c_.holding_calls.size() + c_.deep_calls.size(), c_.filled.size()};
            };
            auto before = sizes();
            size_t reductions = c_.reductions.size();
            walk();
            if (sizes() == before)
                return;
            c_.reductions.erase(c_.reductions.begin() + static_cast<std::ptrdiff_t>(reductions),
                                c_.reductions.end());
        }
    }

    void assign(const Stmt::Assign &a) {
        if (const auto *n = a.target.as<Expr::Name>();
            n && c_.in_body && c_.outside.count(n->name)) {
            if (auto kind = min_max_reduction(n->name, a.value)) {
                c_.reductions.push_back({n->name, *kind, a.target.line, a.target.column});
                return;
            }
        }
        expr(a.value);
        note_callee(a.target, a.value);
        assign_target(a.target, may_alias(a.value), elements_may_alias(a.value),
                      deep_may_alias(a.value), &a.value);
    }

    // Remembers which function a plain name is bound to, so that its calls
    // can be checked like direct calls.
    void note_callee(const Expr &target, const Expr &value) {
        const auto *n = target.as<Expr::Name>();
        if (!n)
            return;
        if (auto callee = resolve_callee(value))
            c_.callees[n->name] = *callee;
        else
            c_.callees.erase(n->name);
    }

    std::optional<KnownCallee> resolve_callee(const Expr &value) {
        if (const auto *l = value.as<Expr::Lambda>())
            return KnownCallee{KnownCallee::Kind::Lambda, "", l->index};
        const auto *n = value.as<Expr::Name>();
        if (!n)
            return std::nullopt;
        if (auto it = c_.callees.find(n->name); it != c_.callees.end())
            return it->second;
        if (c_.ctx.functions.count(n->name) && !lookup_var(c_.ctx, n->name))
            return KnownCallee{KnownCallee::Kind::User, n->name, 0};
        return std::nullopt;
    }

    std::optional<ReductionKind> min_max_reduction(const std::string &name, const Expr &value) {
        const auto *call = value.as<Expr::Call>();
        if (!call || (call->name != "min" && call->name != "max") || call->args.size() != 2 ||
            !call->kwargs.empty() || !is_builtin_name(c_.ctx, call->name))
            return std::nullopt;
        auto is_self = [&](const Expr &e) {
            const auto *n = e.as<Expr::Name>();
            return n && n->name == name;
        };
        const Expr *operand = nullptr;
        if (is_self(call->args[0]) && !is_self(call->args[1]))
            operand = &call->args[1];
        else if (is_self(call->args[1]) && !is_self(call->args[0]))
            operand = &call->args[0];
        if (!operand)
            return std::nullopt;
        expr(*operand);
        return call->name == "min" ? ReductionKind::Min : ReductionKind::Max;
    }

    void aug_assign(const Stmt::AugAssign &a) {
        expr(a.value);
        // `xs += [v]` and `b.items += [v]` store v's elements.
        if (store_level(a.value) > 0) {
            if (const Expr *object = stored_object(a.target))
                note_filled(*object, 1);
            else if (a.target.is<Expr::Name>() && !c_.outside.count(root_name_of(a.target).value()))
                note_filled(a.target, 2);
        }
        const auto *n = a.target.as<Expr::Name>();
        if (n && c_.in_body && c_.outside.count(n->name)) {
            if (a.op == BinOp::Add || a.op == BinOp::Sub) {
                c_.reductions.push_back(
                    {n->name, ReductionKind::Sum, a.target.line, a.target.column});
                return;
            }
            fail(a.target.line, a.target.column,
                 fmt::format("'{}' (from outside the loop) can only be updated by {}, not `{}=`",
                             n->name, update_forms(n->name), binop_symbol(a.op)));
        }
        if (n) {
            expr(a.target);
            loop_var_reassign(n->name, a.target.line, a.target.column);
            note_in_place_update(a, n->name);
            return;
        }
        store_operands(a.target);
        store(a.target, true);
    }

    // `xs += ys` on a list and `s -= t` (and &=, |=, ^=) on a set change
    // the object in place, like their methods. Whether the name holds a
    // list or a set is only known while the statement is compiled, so the
    // refusal is left with the context for the statement compiler to give.
    void note_in_place_update(const Stmt::AugAssign &a, const std::string &name) {
        bool in_place_op = a.op == BinOp::Add || a.op == BinOp::Sub || a.op == BinOp::BitAnd ||
                           a.op == BinOp::BitOr || a.op == BinOp::BitXor;
        if (!in_place_op || !may_alias(a.target))
            return;
        auto changes = [&](const Type &t) {
            return a.op == BinOp::Add ? t.is<Type::List>() : t.is<Type::Set>();
        };
        std::string message = changing_message(name, fmt::format("{}=", binop_symbol(a.op)), true);
        // A called function may have been compiled already, for a call
        // outside the loop: its variables' Types are known then.
        if (auto known = c_.known_types.find(name); known != c_.known_types.end())
            if (changes(known->second))
                fail(a.target.line, a.target.column, message);
        for (const auto &[key, locals] : c_.ctx.instance_locals)
            if (key.name == c_.function_name)
                for (const auto &[local, type] : locals)
                    if (local == name && changes(type))
                        fail(a.target.line, a.target.column, message);
        CompileError error =
            wrap_prange_message(c_.in_body, a.target.line, a.target.column, message);
        c_.ctx.prange_in_place_refusals[{a.target.line, a.target.column}] = error.message;
    }

    void for_stmt(const Stmt::For &f, int depth) {
        if (c_.in_body && match_prange_call(c_.ctx, f.iterable))
            fail(f.iterable.line, f.iterable.column,
                 "another prange loop can't run (the outer one already uses every core)");
        expr(f.iterable);
        // Iterating over a file reads it as readline() does.
        if (const auto *n = f.iterable.as<Expr::Name>(); n && may_alias(f.iterable)) {
            auto var = lookup_var(c_.ctx, n->name);
            if (var && var->type.is<Type::File>())
                fail(f.iterable.line, f.iterable.column,
                     changing_message(n->name, "readline", false));
        }
        to_fixed_point([&] {
            bool flag = elements_may_alias(f.iterable);
            assign_target(f.target, flag, flag, deep_may_alias(f.iterable));
            block(f.body, depth + 1);
        });
        if (f.else_body)
            block(*f.else_body, depth);
    }

    // `value`: the one value stored, when known (not for unpacking).
    void assign_target(const Expr &target, bool flag, bool elements_flag, bool deep_flag = false,
                       const Expr *value = nullptr) {
        if (const auto *t = target.as<Expr::Tuple>()) {
            for (const Expr &e : t->elements)
                assign_target(e, flag || elements_flag, elements_flag || deep_flag, deep_flag);
            return;
        }
        if (const auto *l = target.as<Expr::List>()) {
            for (const Expr &e : l->elements)
                assign_target(e, flag || elements_flag, elements_flag || deep_flag, deep_flag);
            return;
        }
        if (const auto *n = target.as<Expr::Name>()) {
            loop_var_reassign(n->name, target.line, target.column);
            if (c_.in_body && c_.outside.count(n->name))
                fail(target.line, target.column,
                     fmt::format("'{}' can't be assigned: it comes from outside the loop, and the "
                                 "iterations run at the same time. Assign a new name, or make it a "
                                 "reduction: {}",
                                 n->name, update_forms(n->name)));
            if (flag)
                c_.aliased.insert(n->name);
            if (elements_flag)
                c_.element_aliased.insert(n->name);
            if (deep_flag)
                c_.deep_aliased.insert(n->name);
            return;
        }
        store_operands(target);
        store(target, true);
        if (const Expr *object = stored_object(target)) {
            int level = value                          ? store_level(*value)
                        : flag                         ? 2
                        : (elements_flag || deep_flag) ? 1
                                                       : 0;
            note_filled(*object, level);
        }
    }

    static const Expr *stored_object(const Expr &target) {
        if (const auto *a = target.as<Expr::Attribute>())
            return a->object.get();
        if (const auto *i = target.as<Expr::Index>())
            return i->object.get();
        if (const auto *s = target.as<Expr::Slice>())
            return s->object.get();
        return nullptr;
    }

    void loop_var_reassign(const std::string &name, uint64_t line, uint64_t column) {
        if (c_.in_body && name == c_.loop_var)
            fail(line, column, fmt::format("the loop variable '{}' can't be reassigned", name));
    }

    void store_operands(const Expr &target) {
        if (const auto *a = target.as<Expr::Attribute>()) {
            expr(*a->object);
        } else if (const auto *i = target.as<Expr::Index>()) {
            expr(*i->object);
            expr(*i->index);
            dunders({"__setitem__", "__delitem__", "__hash__", "__eq__"},
                    {i->object.get(), i->index.get()}, target);
        } else if (const auto *s = target.as<Expr::Slice>()) {
            expr(*s->object);
            for (const auto *part : {&s->lower, &s->upper, &s->step})
                if (*part)
                    expr(***part);
        } else {
            expr(target);
        }
    }

    // A write through an attribute, item or slice. `at_loop_index` allows
    // the one shared write, `xs[i] = v` with `i` the loop variable (not for
    // `del`, which shifts the items other iterations use).
    void store(const Expr &target, bool at_loop_index) {
        const Expr *object = nullptr;
        std::string kind;
        if (const auto *a = target.as<Expr::Attribute>()) {
            object = a->object.get();
            kind = "an attribute";
        } else if (const auto *i = target.as<Expr::Index>()) {
            object = i->object.get();
            kind = "an item";
        } else if (const auto *s = target.as<Expr::Slice>()) {
            object = s->object.get();
            kind = "a slice";
        } else {
            return;
        }
        if (!may_alias(*object))
            return;
        std::string root = root_name_of(*object).value_or("it");
        if (!c_.in_body)
            fail(target.line, target.column,
                 fmt::format("it changes {} of '{}', which may be shared by all the loop's "
                             "iterations",
                             kind, root));
        const auto *ix = target.as<Expr::Index>();
        const auto *obj_name = object->as<Expr::Name>();
        const auto *index_name = ix ? ix->index->as<Expr::Name>() : nullptr;
        if (at_loop_index && obj_name && !c_.aliased.count(obj_name->name) && index_name &&
            index_name->name == c_.loop_var) {
            if (auto var = lookup_var(c_.ctx, obj_name->name)) {
                if (!var->type.is<Type::List>())
                    fail(target.line, target.column,
                         fmt::format("'{}' ({:#}, from outside the loop) can't change; only lists "
                                     "can be written, at the loop variable's index",
                                     obj_name->name, var->type));
                c_.ctx.prange_strict_stores.insert({target.line, target.column});
                return;
            }
        }
        std::string hint =
            kind == "an attribute"
                ? "only objects made inside the loop can change"
                : fmt::format("a list from outside the loop can only be written at the loop "
                              "variable's index (`{}[{}] = ...`), and objects made inside the "
                              "loop can change freely",
                              root, c_.loop_var);
        fail(target.line, target.column,
             fmt::format("{} of '{}' can't be changed: {}; {}", kind, root, reason(root), hint));
    }

    std::string reason(const std::string &root) {
        if ((c_.element_aliased.count(root) || c_.deep_aliased.count(root)) &&
            !c_.aliased.count(root) && !c_.outside.count(root))
            return fmt::format("'{}' holds objects that come from outside the loop, shared by "
                               "all iterations",
                               root);
        if (c_.aliased.count(root) && !c_.outside.count(root))
            return fmt::format("'{}' may be shared with other iterations (its value comes from "
                               "outside the loop; change a copy made with .copy())",
                               root);
        return fmt::format("'{}' is shared by all iterations", root);
    }

    // The refusal of a change to a possibly shared object by a method (or
    // an in-place operator).
    std::string changing_message(const std::string &root, const std::string &what,
                                 bool is_operator) {
        std::string by = is_operator ? fmt::format("`{}`", what) : fmt::format(".{}()", what);
        if (!c_.in_body)
            return fmt::format("it changes '{}' ({}), which may be shared by all the loop's "
                               "iterations",
                               root, by);
        return fmt::format("'{}' can't be changed by {}: {} (objects made inside the loop can "
                           "change freely)",
                           root, by, reason(root));
    }

    // ---- Methods called implicitly ----

    // The dunder methods an operator may call on its operands.
    static std::vector<std::string> operator_dunders(BinOp op) {
        static const std::map<BinOp, std::vector<std::string>> table = {
            {BinOp::Add, {"__add__", "__radd__"}},
            {BinOp::Sub, {"__sub__", "__rsub__"}},
            {BinOp::Mul, {"__mul__", "__rmul__"}},
            {BinOp::Div, {"__truediv__", "__rtruediv__"}},
            {BinOp::FloorDiv, {"__floordiv__", "__rfloordiv__"}},
            {BinOp::Mod, {"__mod__", "__rmod__"}},
            {BinOp::Pow, {"__pow__", "__rpow__"}},
            {BinOp::BitAnd, {"__and__", "__rand__"}},
            {BinOp::BitOr, {"__or__", "__ror__"}},
            {BinOp::BitXor, {"__xor__", "__rxor__"}},
            {BinOp::Shl, {"__lshift__", "__rlshift__"}},
            {BinOp::Shr, {"__rshift__", "__rrshift__"}},
            {BinOp::Eq, {"__eq__", "__ne__"}},
            {BinOp::Ne, {"__eq__", "__ne__"}},
            {BinOp::Lt, {"__lt__", "__gt__", "__le__", "__ge__", "__eq__"}},
            {BinOp::Le, {"__lt__", "__gt__", "__le__", "__ge__", "__eq__"}},
            {BinOp::Gt, {"__lt__", "__gt__", "__le__", "__ge__", "__eq__"}},
            {BinOp::Ge, {"__lt__", "__gt__", "__le__", "__ge__", "__eq__"}},
            {BinOp::And, {"__bool__", "__len__"}},
            {BinOp::Or, {"__bool__", "__len__"}},
            {BinOp::In, {"__contains__", "__eq__", "__hash__"}},
            {BinOp::NotIn, {"__contains__", "__eq__", "__hash__"}},
        };
        auto it = table.find(op);
        return it == table.end() ? std::vector<std::string>{} : it->second;
    }

    // The dunder methods a built-in function may call on its arguments or
    // their elements.
    static std::vector<std::string> builtin_dunders(const std::string &name) {
        static const std::vector<std::string> compare = {"__lt__", "__gt__", "__le__", "__ge__",
                                                         "__eq__"};
        static const std::vector<std::string> text = {"__str__", "__repr__", "__format__"};
        static const std::vector<std::string> truth = {"__bool__", "__len__"};
        static const std::vector<std::string> hashing = {"__hash__", "__eq__"};
        static const std::map<std::string, std::vector<std::string>> table = {
            {"len", {"__len__"}},
            {"str", text},
            {"repr", text},
            {"format", text},
            {"print", text},
            {"bool", truth},
            {"any", truth},
            {"all", truth},
            {"filter", truth},
            {"hash", {"__hash__"}},
            {"sorted", compare},
            {"min", compare},
            {"max", compare},
            {"set", hashing},
            {"dict", hashing},
            {"frozenset", hashing},
            {"sum", {"__add__", "__radd__"}},
            {"abs", {"__abs__"}},
        };
        auto it = table.find(name);
        return it == table.end() ? std::vector<std::string>{} : it->second;
    }

    // Methods of lists, dicts and sets that compare, hash or order their
    // elements, or print them.
    void method_dunders(const Expr &e, const Expr::MethodCall &m) {
        static const std::map<std::string, std::vector<std::string>> table = {
            {"sort", {"__lt__", "__gt__", "__le__", "__ge__", "__eq__"}},
            {"index", {"__eq__"}},
            {"count", {"__eq__"}},
            {"remove", {"__eq__"}},
            {"get", {"__hash__", "__eq__"}},
            {"setdefault", {"__hash__", "__eq__"}},
            {"pop", {"__hash__", "__eq__"}},
            {"add", {"__hash__", "__eq__"}},
            {"discard", {"__hash__", "__eq__"}},
            {"update", {"__hash__", "__eq__"}},
            {"join", {"__str__"}},
            {"format", {"__str__", "__repr__", "__format__"}},
        };
        auto it = table.find(m.method);
        if (it == table.end())
            return;
        std::vector<const Expr *> operands = {m.receiver.get()};
        for (const Expr &a : m.args)
            operands.push_back(&a);
        for (const Keyword &k : m.kwargs)
            operands.push_back(&k.value);
        dunders(it->second, operands, e);
    }

    void hashed(const std::vector<Expr> &elements, const Expr &at) {
        std::vector<const Expr *> operands;
        for (const Expr &x : elements)
            operands.push_back(&x);
        dunders({"__hash__", "__eq__"}, operands, at);
    }

    // A truth test: `if`, `while`, `not`, `and`/`or` and conditional
    // expressions call __bool__ or __len__ on objects.
    void condition(const Expr &e) {
        expr(e);
        dunders({"__bool__", "__len__"}, {&e}, e);
    }

    // Checks each named dunder of every class that defines it, as an
    // explicit call of that method on an unknown receiver would be: the
    // operands may be the receiver or the argument, or hold them.
    void dunders(const std::vector<std::string> &methods, const std::vector<const Expr *> &operands,
                 const Expr &at) {
        if (methods.empty())
            return;
        int receiver = 0, argument = 0;
        for (const Expr *op : operands) {
            receiver = std::max(receiver, receiver_level(*op) > 0 || store_level(*op) > 0
                                              ? std::max(receiver_level(*op), store_level(*op))
                                              : 0);
            argument = std::max(argument, store_level(*op) > 0 || may_alias(*op) ? 2 : 0);
        }
        for (const std::string &method : methods)
            for (const std::string &cls : sorted_class_names()) {
                auto it = c_.ctx.functions.find(cls + "." + method);
                if (it == c_.ctx.functions.end())
                    continue;
                std::vector<int> flags(it->second->params.size(), argument);
                if (!flags.empty())
                    flags[0] = receiver;
                called_function(it->first, flags, at.line, at.column, it->second, 1, {}, {});
            }
    }

    // ---- Expressions ----

    void exprs(const std::vector<Expr> &xs) {
        for (const Expr &x : xs)
            expr(x);
    }

    void call_args(const std::vector<Expr> &args, const std::vector<Keyword> &kwargs) {
        exprs(args);
        for (const Keyword &k : kwargs)
            expr(k.value);
    }

    void expr(const Expr &e) {
        std::visit(
            Overload{
                [&](const Expr::Int &) {},
                [&](const Expr::Float &) {},
                [&](const Expr::Str &) {},
                [&](const Expr::Bool &) {},
                [&](const Expr::None &) {},
                [&](const Expr::FString &f) {
                    for (const FStringSegment &seg : f.segments)
                        if (const auto *field = std::get_if<FStringSegment::Field>(&seg.kind)) {
                            expr(field->expr);
                            dunders({"__str__", "__repr__", "__format__"}, {&field->expr}, e);
                        }
                },
                [&](const Expr::Name &n) {
                    if (c_.in_body && c_.outside.count(n.name) && !c_.reads.count(n.name))
                        c_.reads[n.name] = {e.line, e.column};
                },
                [&](const Expr::BinaryOp &b) {
                    expr(*b.left);
                    expr(*b.right);
                    dunders(operator_dunders(b.op), {b.left.get(), b.right.get()}, e);
                },
                [&](const Expr::Unary &u) {
                    expr(*u.operand);
                    if (u.op == UnaryOp::Not)
                        dunders({"__bool__", "__len__"}, {u.operand.get()}, e);
                    else
                        dunders({u.op == UnaryOp::Neg ? "__neg__" : "__invert__"},
                                {u.operand.get()}, e);
                },
                [&](const Expr::IfExp &i) {
                    condition(*i.condition);
                    expr(*i.if_true);
                    expr(*i.if_false);
                },
                [&](const Expr::Call &c) { call(e, c); },
                [&](const Expr::CallExpr &c) {
                    expr(*c.callee);
                    call_args(c.args, c.kwargs);
                    if (const auto *l = c.callee->as<Expr::Lambda>()) {
                        check_callee(KnownCallee{KnownCallee::Kind::Lambda, "", l->index}, c.args,
                                     c.kwargs, e);
                        return;
                    }
                    fail(e.line, e.column,
                         "this call's function can't be known here, so it can't be checked; call "
                         "the function by its name");
                },
                [&](const Expr::MethodCall &m) {
                    expr(*m.receiver);
                    call_args(m.args, m.kwargs);
                    method_call(e, m);
                },
                [&](const Expr::Attribute &a) {
                    if (auto module = resolve_module_ref(c_.ctx, *a.object);
                        module && *module == "sys" &&
                        (a.name == "stdin" || a.name == "stdout" || a.name == "stderr"))
                        fail(e.line, e.column, fmt::format("sys.{} can't be used", a.name));
                    expr(*a.object);
                },
                [&](const Expr::Index &i) {
                    expr(*i.object);
                    expr(*i.index);
                    dunders({"__getitem__", "__hash__", "__eq__"}, {i.object.get(), i.index.get()},
                            e);
                },
                [&](const Expr::Slice &s) {
                    expr(*s.object);
                    for (const auto *part : {&s.lower, &s.upper, &s.step})
                        if (*part)
                            expr(***part);
                },
                [&](const Expr::List &l) { exprs(l.elements); },
                [&](const Expr::Tuple &t) { exprs(t.elements); },
                [&](const Expr::Set &s) {
                    exprs(s.elements);
                    hashed(s.elements, e);
                },
                [&](const Expr::Dict &d) {
                    std::vector<const Expr *> keys;
                    for (const DictEntry &entry : d.entries) {
                        expr(entry.key);
                        expr(entry.value);
                        keys.push_back(&entry.key);
                    }
                    dunders({"__hash__", "__eq__"}, keys, e);
                },
                [&](const Expr::ListComp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                },
                [&](const Expr::SetComp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                    dunders({"__hash__", "__eq__"}, {c.element.get()}, e);
                },
                [&](const Expr::GeneratorExp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                },
                [&](const Expr::DictComp &c) {
                    clauses(c.clauses);
                    expr(*c.key);
                    expr(*c.value);
                    dunders({"__hash__", "__eq__"}, {c.key.get()}, e);
                },
                [&](const Expr::Lambda &l) { lambda(l.index); },
            },
            e.kind);
    }

    void clauses(const std::vector<ComprehensionClause> &cs) {
        for (const ComprehensionClause &c : cs) {
            expr(c.iterable);
            std::vector<std::string> names;
            collect_target_names(c.target, names);
            if (elements_may_alias(c.iterable))
                c_.aliased.insert(names.begin(), names.end());
            for (const Expr &cond : c.conditions)
                condition(cond);
        }
    }

    // A lambda may be called with outside objects: its parameters count as
    // aliases while its body is walked.
    void lambda(uint64_t index) {
        const FuncDef &def = (*c_.ctx.lambdas)[index];
        std::set<std::string> saved = c_.aliased;
        try {
            for (const Param &p : def.params)
                c_.aliased.insert(p.name);
            for (const Stmt &s : def.body)
                if (const auto *r = s.as<Stmt::Return>(); r && r->value)
                    expr(*r->value);
        } catch (...) {
            c_.aliased = saved;
            throw;
        }
        c_.aliased = saved;
    }

    void call(const Expr &e, const Expr::Call &c) {
        call_args(c.args, c.kwargs);
        const std::string &name = c.name;
        if (c_.ctx.functions.count(name) && !lookup_var(c_.ctx, name) && !c_.callees.count(name)) {
            const FuncDef &def = *c_.ctx.functions.at(name);
            auto filled =
                called_function(name, alias_flags(def.params, std::nullopt, c.args, c.kwargs),
                                e.line, e.column, &def, 0, c.args, c.kwargs);
            note_filled_args(filled, def, 0, c.args, c.kwargs);
            return;
        }
        if (c_.ctx.classes.count(name) && !lookup_var(c_.ctx, name)) {
            constructor(name, c.args, c.kwargs, e);
            return;
        }
        if (auto alias = c_.ctx.aliases->find(name);
            alias != c_.ctx.aliases->end() && is_builtin_name(c_.ctx, name)) {
            if (auto split = split_module_member(c_.ctx, alias->second)) {
                module_call(split->first, split->second, e.line, e.column);
                return;
            }
        }
        if (auto callee = c_.callees.find(name); callee != c_.callees.end()) {
            check_callee(callee->second, c.args, c.kwargs, e);
            return;
        }
        if (auto var = lookup_var(c_.ctx, name)) {
            if (const auto *f = var->type.as<Type::Function>()) {
                check_callee(callee_of_value(f->value), c.args, c.kwargs, e);
                return;
            }
            return;
        }
        if (c_.aliased.count(name) || c_.variables.count(name))
            fail(e.line, e.column,
                 fmt::format("'{}' holds a function that can't be known here, so its call can't "
                             "be checked; call the function by its name",
                             name));
        builtin_call(name, e.line, e.column);
        std::vector<const Expr *> operands;
        for (const Expr &a : c.args)
            operands.push_back(&a);
        for (const Keyword &k : c.kwargs)
            operands.push_back(&k.value);
        dunders(builtin_dunders(name), operands, e);
    }

    void builtin_call(const std::string &name, uint64_t line, uint64_t column) {
        if (name == "print" || name == "input")
            fail(line, column,
                 fmt::format("{}() can't be used (the iterations run at the same time, in any "
                             "order)",
                             name));
        if (name == "open")
            fail(line, column, "files can't be opened");
        if (name == "exit" || name == "quit")
            fail(line, column, "the program can't exit");
    }

    KnownCallee callee_of_value(const FunctionValue &value) {
        return std::visit(Overload{
                              [](const FunctionValue::UserFunction &u) {
                                  return KnownCallee{KnownCallee::Kind::User, u.name, 0};
                              },
                              [](const FunctionValue::Lambda &l) {
                                  return KnownCallee{KnownCallee::Kind::Lambda, "", l.index};
                              },
                              [](const FunctionValue::Builtin &b) {
                                  return KnownCallee{KnownCallee::Kind::Builtin, b.name, 0};
                              },
                              [](const FunctionValue::StrMethod &) {
                                  return KnownCallee{KnownCallee::Kind::Harmless, "", 0};
                              },
                              // The method the class resolves, maybe a base's.
                              [&](const FunctionValue::ClassMethod &m) {
                                  auto owner = first_class_defining_method(
                                      c_.ctx, class_ancestors(c_.ctx, m.class_name), m.method_name);
                                  return KnownCallee{
                                      KnownCallee::Kind::User,
                                      owner.value_or(m.class_name) + "." + m.method_name, 0};
                              },
                          },
                          value.kind);
    }

    // A call through a function value, checked like a direct call of what
    // the value holds.
    void check_callee(const KnownCallee &callee, const std::vector<Expr> &args,
                      const std::vector<Keyword> &kwargs, const Expr &e) {
        switch (callee.kind) {
        case KnownCallee::Kind::Harmless:
            return;
        case KnownCallee::Kind::Builtin:
            builtin_call(callee.name, e.line, e.column);
            return;
        case KnownCallee::Kind::Lambda: {
            const FuncDef &def = (*c_.ctx.lambdas)[callee.lambda_index];
            auto filled =
                called_function(def.name, alias_flags(def.params, std::nullopt, args, kwargs),
                                e.line, e.column, &def, 0, args, kwargs);
            note_filled_args(filled, def, 0, args, kwargs);
            return;
        }
        case KnownCallee::Kind::User: {
            auto it = c_.ctx.functions.find(callee.name);
            if (it == c_.ctx.functions.end())
                return;
            bool method = callee.name.find('.') != std::string::npos;
            std::optional<int> receiver;
            if (method)
                receiver = args.empty() ? 0 : receiver_level(args.front());
            std::vector<Expr> rest(method && !args.empty() ? args.begin() + 1 : args.begin(),
                                   args.end());
            auto filled = called_function(
                callee.name, alias_flags(it->second->params, receiver, rest, kwargs), e.line,
                e.column, it->second, method ? 1 : 0, rest, kwargs);
            note_filled_args(filled, *it->second, 0, args, kwargs);
            return;
        }
        }
    }

    void constructor(const std::string &cls, const std::vector<Expr> &args,
                     const std::vector<Keyword> &kwargs, const Expr &e) {
        std::optional<std::string> at = cls;
        while (at) {
            std::string init = *at + ".__init__";
            if (auto it = c_.ctx.functions.find(init); it != c_.ctx.functions.end()) {
                auto filled =
                    called_function(init, alias_flags(it->second->params, 0, args, kwargs), e.line,
                                    e.column, it->second, 1, args, kwargs);
                if (!it->second->params.empty())
                    if (auto f = filled.find(it->second->params[0].name); f != filled.end())
                        (f->second == 2 ? c_.holding_calls : c_.deep_calls).insert(&e);
                note_filled_args(filled, *it->second, 1, args, kwargs);
                return;
            }
            auto base = c_.ctx.class_bases.find(*at);
            at = base == c_.ctx.class_bases.end() ? std::nullopt : base->second;
        }
    }

    void method_call(const Expr &e, const Expr::MethodCall &m) {
        if (auto module = resolve_module_ref(c_.ctx, *m.receiver)) {
            module_call(*module, m.method, e.line, e.column);
            return;
        }
        // `Base.m(obj, ...)`: Base's own m, with obj as its receiver.
        if (const auto *cls = m.receiver->as<Expr::Name>();
            cls && c_.ctx.classes.count(cls->name) && !lookup_var(c_.ctx, cls->name)) {
            auto owner =
                first_class_defining_method(c_.ctx, class_ancestors(c_.ctx, cls->name), m.method);
            if (owner)
                check_callee(KnownCallee{KnownCallee::Kind::User, *owner + "." + m.method, 0},
                             m.args, m.kwargs, e);
            return;
        }
        if (changes_receiver(m.method) && may_alias(*m.receiver)) {
            std::string root = root_name_of(*m.receiver).value_or("it");
            fail(e.line, e.column, changing_message(root, m.method, false));
        }
        method_dunders(e, m);
        int receiver = receiver_level(*m.receiver);
        for (const std::string &cls : sorted_class_names()) {
            auto it = c_.ctx.functions.find(cls + "." + m.method);
            if (it == c_.ctx.functions.end())
                continue;
            auto filled = called_function(
                it->first, alias_flags(it->second->params, receiver, m.args, m.kwargs), e.line,
                e.column, it->second, 1, m.args, m.kwargs);
            if (!it->second->params.empty() && filled.count(it->second->params[0].name))
                note_filled(*m.receiver, 2);
            note_filled_args(filled, *it->second, 1, m.args, m.kwargs);
        }
        // A method given an outside object may keep it in its receiver
        // (`xs.append(v)`, `box.attach(v)`), also one that flattens a new
        // container of them (`xs.extend([v])`).
        if (any_arg(m.args, m.kwargs, [&](const Expr &a) { return store_level(a) > 0; }))
            note_filled(*m.receiver, 2);
    }

    std::vector<std::string> sorted_class_names() {
        std::vector<std::string> names = c_.ctx.class_names;
        std::sort(names.begin(), names.end());
        return names;
    }

    // How a receiver passes into a method: as an object that may come from
    // outside (2), as one holding such objects (1), or as the iteration's
    // own (0).
    int receiver_level(const Expr &receiver) {
        if (may_alias(receiver))
            return 2;
        return holds_outside(receiver) ? 1 : 0;
    }

    // The arguments whose objects the called code stored outside objects
    // into.
    void note_filled_args(const std::map<std::string, int> &filled, const FuncDef &def,
                          size_t first, const std::vector<Expr> &args,
                          const std::vector<Keyword> &kwargs) {
        if (filled.empty())
            return;
        for (size_t i = 0; i < args.size() && first + i < def.params.size(); ++i)
            if (auto f = filled.find(def.params[first + i].name); f != filled.end())
                note_filled(args[i], f->second);
        for (const Keyword &k : kwargs)
            if (auto f = filled.find(k.name); f != filled.end())
                note_filled(k.value, f->second);
    }

    void module_call(const std::string &module, const std::string &function, uint64_t line,
                     uint64_t column) {
        if (auto lib = c_.ctx.libraries->find(module); lib != c_.ctx.libraries->end()) {
            auto fn = lib->second.functions.find(function);
            if (fn != lib->second.functions.end() && !fn->second.thread_safe)
                fail(line, column,
                     fmt::format("{0}.{1}() can't be called (library '{0}' doesn't mark it "
                                 "thread_safe)",
                                 module, function));
            return;
        }
        if (module == "os" && function == "remove")
            fail(line, column, "files can't be removed");
        if (module == "sys" && function == "exit")
            fail(line, column, "the program can't exit");
        if (module == "random")
            fail(line, column,
                 "random numbers can't be drawn (the generator is shared); draw them before the "
                 "loop");
    }

    // One flag per parameter: whether its argument may come from outside.
    // `receiver`: none for a plain function, else the flag of the first
    // parameter (false for a new object).
    std::vector<int> alias_flags(const std::vector<Param> &params, std::optional<int> receiver,
                                 const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs) {
        std::vector<int> flags(params.size(), 0);
        size_t first = 0;
        if (receiver && !flags.empty()) {
            flags[0] = *receiver;
            first = 1;
        }
        for (size_t i = 0; i < args.size() && first + i < params.size(); ++i)
            flags[first + i] = store_level(args[i]);
        for (const Keyword &k : kwargs)
            for (size_t i = 0; i < params.size(); ++i)
                if (params[i].name == k.name) {
                    flags[i] = store_level(k.value);
                    break;
                }
        return flags;
    }

    // The callees that function-valued arguments bind to the parameters.
    std::map<std::string, KnownCallee> argument_callees(const FuncDef &def, size_t first,
                                                        const std::vector<Expr> &args,
                                                        const std::vector<Keyword> &kwargs) {
        std::map<std::string, KnownCallee> out;
        for (size_t i = 0; i < args.size() && first + i < def.params.size(); ++i)
            if (auto callee = resolve_callee(args[i]))
                out[def.params[first + i].name] = *callee;
        for (const Keyword &k : kwargs)
            if (auto callee = resolve_callee(k.value))
                out[k.name] = *callee;
        return out;
    }

    // Walks the body of called user code once per argument signature; a
    // violation there is reported at the call in the loop body. `first`:
    // the parameter the first argument binds (1 after a receiver).
    // Returns the parameters the code stores outside objects into (see
    // PrangeChecker::fills).
    std::map<std::string, int> called_function(const std::string &name,
                                               const std::vector<int> &flags, uint64_t line,
                                               uint64_t column, const FuncDef *def, size_t first,
                                               const std::vector<Expr> &args,
                                               const std::vector<Keyword> &kwargs);

  private:
    PrangeChecker &c_;
};

std::map<std::string, int> Walker::called_function(const std::string &name,
                                                   const std::vector<int> &flags, uint64_t line,
                                                   uint64_t column, const FuncDef *def,
                                                   size_t first, const std::vector<Expr> &args,
                                                   const std::vector<Keyword> &kwargs) {
    std::map<std::string, KnownCallee> callees = argument_callees(*def, first, args, kwargs);
    std::string key = name + ":";
    for (int f : flags)
        key += static_cast<char>('0' + f);
    for (const auto &[param, callee] : callees)
        key += fmt::format(";{}={}{}{}", param, static_cast<int>(callee.kind), callee.name,
                           callee.lambda_index);
    if (!c_.visited.insert(key).second) {
        auto known = c_.fills.find(key);
        return known == c_.fills.end() ? std::map<std::string, int>{} : known->second;
    }
    PrangeChecker nested{"",    {},  c_.ctx, {}, {}, {}, {}, {}, {}, {}, std::move(callees),
                         false, name};
    BlockNames names = collect_block_names(*c_.ctx.lambdas, def->body);
    std::set<std::string> params;
    for (const Param &p : def->params)
        params.insert(p.name);
    for (const std::string &r : names.read)
        if (!names.assigned.count(r) && !params.count(r))
            nested.outside.insert(r);
    for (size_t i = 0; i < def->params.size() && i < flags.size(); ++i) {
        if (flags[i] == 2)
            nested.outside.insert(def->params[i].name);
        else if (flags[i] == 1)
            nested.element_aliased.insert(def->params[i].name);
    }
    for (const Param &p : def->params)
        if (p.annotation)
            nested.known_types[p.name] = *p.annotation;
    nested.variables = params;
    nested.variables.insert(names.assigned.begin(), names.assigned.end());
    nested.visited = std::move(c_.visited);
    nested.fills = std::move(c_.fills);
    try {
        Walker inner(nested);
        inner.block(def->body, 1);
    } catch (CompileError &violation) {
        c_.visited = std::move(nested.visited);
        c_.fills = std::move(nested.fills);
        if (!c_.in_body)
            throw;
        throw error_at(fmt::format("{}() can't be called inside a prange loop: at line {}, {}",
                                   after_last_dot(name), violation.line, violation.message),
                       line, column);
    }
    c_.visited = std::move(nested.visited);
    c_.fills = std::move(nested.fills);
    std::map<std::string, int> filled;
    for (size_t i = 0; i < def->params.size(); ++i) {
        const std::string &p = def->params[i].name;
        if (i < flags.size() && flags[i] == 2)
            continue;
        if (auto f = nested.filled.find(p); f != nested.filled.end())
            filled[p] = f->second;
    }
    c_.fills[key] = filled;
    return filled;
}

} // namespace

CompileError wrap_prange_message(bool in_body, uint64_t line, uint64_t column,
                                 const std::string &message) {
    return error_at(in_body ? kPrefix + message : message, line, column);
}

std::optional<PrangeCall> match_prange_call(CodegenContext &ctx, const Expr &expr) {
    if (const auto *c = expr.as<Expr::Call>()) {
        if (!is_builtin_name(ctx, c->name))
            return std::nullopt;
        auto alias = ctx.aliases->find(c->name);
        if (alias == ctx.aliases->end() || alias->second != "parallel.prange")
            return std::nullopt;
        return PrangeCall{&c->args, &c->kwargs};
    }
    if (const auto *m = expr.as<Expr::MethodCall>()) {
        if (m->method != "prange")
            return std::nullopt;
        auto module = resolve_module_ref(ctx, *m->receiver);
        if (!module || *module != "parallel")
            return std::nullopt;
        return PrangeCall{&m->args, &m->kwargs};
    }
    return std::nullopt;
}

void check_prange_body(PrangeChecker &checker, const std::vector<Stmt> &body) {
    Walker walker(checker);
    walker.block(body, 0);
}

} // namespace kestal
