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
#include "codegen/classes/classes.h"
#include "codegen/expr/expr.h"
#include "support/overload.h"

#include <algorithm>
#include <array>
#include <optional>

namespace kestal {

namespace {

constexpr const char *kPrefix = "inside a prange loop, ";

// Methods that change their receiver, whatever its Type. "flush" is one too:
// several iterations flushing one file would share its buffer.
constexpr std::array<const char *, 23> kChangingMethods = {"pop",
                                                           "add",
                                                           "sort",
                                                           "read",
                                                           "clear",
                                                           "write",
                                                           "close",
                                                           "append",
                                                           "extend",
                                                           "insert",
                                                           "remove",
                                                           "update",
                                                           "reverse",
                                                           "discard",
                                                           "popitem",
                                                           "readline",
                                                           "readlines",
                                                           "setdefault",
                                                           "writelines",
                                                           "difference_update",
                                                           "intersection_update",
                                                           "symmetric_difference_update",
                                                           "flush"};

// Built-ins whose result is a new container of their argument's elements.
constexpr std::array<const char *, 10> kElementKeepingBuiltins = {
    "list", "tuple", "set", "sorted", "reversed", "iter", "enumerate", "zip", "filter", "dict"};

template <size_t N> bool in_table(const std::array<const char *, N> &table, const std::string &s) {
    return std::any_of(table.begin(), table.end(), [&](const char *t) { return s == t; });
}

std::string augmented_symbol(BinOp op) {
    switch (op) {
    case BinOp::Add:
        return "+";
    case BinOp::Sub:
        return "-";
    case BinOp::Mul:
        return "*";
    case BinOp::Div:
        return "/";
    case BinOp::FloorDiv:
        return "//";
    case BinOp::Mod:
        return "%";
    case BinOp::Pow:
        return "**";
    case BinOp::BitAnd:
        return "&";
    case BinOp::BitOr:
        return "|";
    case BinOp::BitXor:
        return "^";
    case BinOp::Shl:
        return "<<";
    case BinOp::Shr:
        return ">>";
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
        break;
    }
    return "?";
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
            if (m->method == "copy")
                return false;
            return may_alias(*m->receiver) || elements_may_alias(*m->receiver);
        }
        if (const auto *a = e.as<Expr::Attribute>())
            return may_alias(*a->object);
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
            return m->method == "copy" && elements_may_alias(*m->receiver);
        if (const auto *call = e.as<Expr::Call>()) {
            if (!in_table(kElementKeepingBuiltins, call->name) ||
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
                        expr(b.condition);
                        block(b.body, depth);
                    }
                    if (i.else_body)
                        block(*i.else_body, depth);
                },
                [&](const Stmt::While &w) {
                    expr(w.condition);
                    block(w.body, depth + 1);
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
                        if (h.name)
                            assign_target(Expr(Expr::Name{*h.name}, s.line, s.column), false,
                                          false);
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
                    expr(a.condition);
                    if (a.message)
                        expr(*a.message);
                },
            },
            s.kind);
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
        assign_target(a.target, may_alias(a.value), elements_may_alias(a.value));
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
        const auto *n = a.target.as<Expr::Name>();
        if (n && c_.in_body && c_.outside.count(n->name)) {
            if (a.op == BinOp::Add || a.op == BinOp::Sub) {
                c_.reductions.push_back(
                    {n->name, ReductionKind::Sum, a.target.line, a.target.column});
                return;
            }
            fail(a.target.line, a.target.column,
                 fmt::format("'{}' (from outside the loop) can only be updated by {}, not `{}=`",
                             n->name, update_forms(n->name), augmented_symbol(a.op)));
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
        std::string message =
            changing_message(name, fmt::format("{}=", augmented_symbol(a.op)), true);
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
        bool flag = elements_may_alias(f.iterable);
        assign_target(f.target, flag, flag);
        block(f.body, depth + 1);
        if (f.else_body)
            block(*f.else_body, depth);
    }

    void assign_target(const Expr &target, bool flag, bool elements_flag) {
        if (const auto *t = target.as<Expr::Tuple>()) {
            for (const Expr &e : t->elements)
                assign_target(e, flag || elements_flag, elements_flag);
            return;
        }
        if (const auto *l = target.as<Expr::List>()) {
            for (const Expr &e : l->elements)
                assign_target(e, flag || elements_flag, elements_flag);
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
            return;
        }
        store_operands(target);
        store(target, true);
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
        if (c_.element_aliased.count(root) && !c_.aliased.count(root) && !c_.outside.count(root))
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
                        if (const auto *field = std::get_if<FStringSegment::Field>(&seg.kind))
                            expr(field->expr);
                },
                [&](const Expr::Name &n) {
                    if (c_.in_body && c_.outside.count(n.name) && !c_.reads.count(n.name))
                        c_.reads[n.name] = {e.line, e.column};
                },
                [&](const Expr::BinaryOp &b) {
                    expr(*b.left);
                    expr(*b.right);
                },
                [&](const Expr::Unary &u) { expr(*u.operand); },
                [&](const Expr::IfExp &i) {
                    expr(*i.condition);
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
                },
                [&](const Expr::Slice &s) {
                    expr(*s.object);
                    for (const auto *part : {&s.lower, &s.upper, &s.step})
                        if (*part)
                            expr(***part);
                },
                [&](const Expr::List &l) { exprs(l.elements); },
                [&](const Expr::Tuple &t) { exprs(t.elements); },
                [&](const Expr::Set &s) { exprs(s.elements); },
                [&](const Expr::Dict &d) {
                    for (const DictEntry &entry : d.entries) {
                        expr(entry.key);
                        expr(entry.value);
                    }
                },
                [&](const Expr::ListComp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                },
                [&](const Expr::SetComp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                },
                [&](const Expr::GeneratorExp &c) {
                    clauses(c.clauses);
                    expr(*c.element);
                },
                [&](const Expr::DictComp &c) {
                    clauses(c.clauses);
                    expr(*c.key);
                    expr(*c.value);
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
            exprs(c.conditions);
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
            called_function(name, alias_flags(def.params, std::nullopt, c.args, c.kwargs), e.line,
                            e.column, &def, 0, c.args, c.kwargs);
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
            called_function(def.name, alias_flags(def.params, std::nullopt, args, kwargs), e.line,
                            e.column, &def, 0, args, kwargs);
            return;
        }
        case KnownCallee::Kind::User: {
            auto it = c_.ctx.functions.find(callee.name);
            if (it == c_.ctx.functions.end())
                return;
            bool method = callee.name.find('.') != std::string::npos;
            std::optional<bool> receiver;
            if (method)
                receiver = !args.empty() && may_alias(args.front());
            std::vector<Expr> rest(method && !args.empty() ? args.begin() + 1 : args.begin(),
                                   args.end());
            called_function(callee.name, alias_flags(it->second->params, receiver, rest, kwargs),
                            e.line, e.column, it->second, method ? 1 : 0, rest, kwargs);
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
                called_function(init, alias_flags(it->second->params, false, args, kwargs), e.line,
                                e.column, it->second, 1, args, kwargs);
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
        if (in_table(kChangingMethods, m.method) && may_alias(*m.receiver)) {
            std::string root = root_name_of(*m.receiver).value_or("it");
            fail(e.line, e.column, changing_message(root, m.method, false));
        }
        bool receiver = may_alias(*m.receiver);
        std::vector<std::string> names = c_.ctx.class_names;
        std::sort(names.begin(), names.end());
        for (const std::string &cls : names) {
            auto it = c_.ctx.functions.find(cls + "." + m.method);
            if (it == c_.ctx.functions.end())
                continue;
            called_function(it->first, alias_flags(it->second->params, receiver, m.args, m.kwargs),
                            e.line, e.column, it->second, 1, m.args, m.kwargs);
        }
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
    std::vector<bool> alias_flags(const std::vector<Param> &params, std::optional<bool> receiver,
                                  const std::vector<Expr> &args,
                                  const std::vector<Keyword> &kwargs) {
        std::vector<bool> flags(params.size(), false);
        size_t first = 0;
        if (receiver && !flags.empty()) {
            flags[0] = *receiver;
            first = 1;
        }
        for (size_t i = 0; i < args.size() && first + i < params.size(); ++i)
            flags[first + i] = elements_may_alias(args[i]);
        for (const Keyword &k : kwargs)
            for (size_t i = 0; i < params.size(); ++i)
                if (params[i].name == k.name) {
                    flags[i] = elements_may_alias(k.value);
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
    void called_function(const std::string &name, const std::vector<bool> &flags, uint64_t line,
                         uint64_t column, const FuncDef *def, size_t first,
                         const std::vector<Expr> &args, const std::vector<Keyword> &kwargs);

  private:
    PrangeChecker &c_;
};

void Walker::called_function(const std::string &name, const std::vector<bool> &flags, uint64_t line,
                             uint64_t column, const FuncDef *def, size_t first,
                             const std::vector<Expr> &args, const std::vector<Keyword> &kwargs) {
    std::map<std::string, KnownCallee> callees = argument_callees(*def, first, args, kwargs);
    std::string key = name + ":";
    for (bool f : flags)
        key += f ? '1' : '0';
    for (const auto &[param, callee] : callees)
        key += fmt::format(";{}={}{}{}", param, static_cast<int>(callee.kind), callee.name,
                           callee.lambda_index);
    if (!c_.visited.insert(key).second)
        return;
    PrangeChecker nested{"",    {},  c_.ctx, {}, {}, {}, {}, {}, {}, {}, std::move(callees),
                         false, name};
    BlockNames names = collect_block_names(*c_.ctx.lambdas, def->body);
    std::set<std::string> params;
    for (const Param &p : def->params)
        params.insert(p.name);
    for (const std::string &r : names.read)
        if (!names.assigned.count(r) && !params.count(r))
            nested.outside.insert(r);
    for (size_t i = 0; i < def->params.size() && i < flags.size(); ++i)
        if (flags[i])
            nested.outside.insert(def->params[i].name);
    for (const Param &p : def->params)
        if (p.annotation)
            nested.known_types[p.name] = *p.annotation;
    nested.variables = params;
    nested.variables.insert(names.assigned.begin(), names.assigned.end());
    nested.visited = std::move(c_.visited);
    try {
        Walker inner(nested);
        inner.block(def->body, 1);
    } catch (CompileError &violation) {
        c_.visited = std::move(nested.visited);
        if (!c_.in_body)
            throw;
        throw error_at(fmt::format("{}() can't be called inside a prange loop: at line {}, {}",
                                   after_last_dot(name), violation.line, violation.message),
                       line, column);
    }
    c_.visited = std::move(nested.visited);
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
