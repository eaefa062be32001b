// None-narrowing facts and their flow through conditions and assignments.
#include "codegen/optional/narrowing.h"

#include "analysis/analyses.h"
#include "codegen/expr/expr.h"

#include "ast/traverse.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/classes/classes.h"

namespace kestal {

namespace {

bool is_none_compare(BinOp op) {
    return op == BinOp::Eq || op == BinOp::Ne || op == BinOp::Is || op == BinOp::IsNot;
}

// The operand compared with the None literal, or null when neither is None.
const Expr *none_compared_operand(const Expr::BinaryOp &b) {
    if (b.right->is<Expr::None>())
        return b.left.get();
    if (b.left->is<Expr::None>())
        return b.right.get();
    return nullptr;
}

StaticTruth negate(StaticTruth t) {
    if (t == StaticTruth::True)
        return StaticTruth::False;
    if (t == StaticTruth::False)
        return StaticTruth::True;
    return t;
}

} // namespace

NarrowingFacts non_none_paths_if_true(const Expr &c) {
    NarrowingFacts facts;
    if (c.is<Expr::Name>() || c.is<Expr::Attribute>()) {
        if (auto p = access_path_of(c))
            facts.when_true.push_back(*p);
        return facts;
    }
    if (const auto *b = c.as<Expr::BinaryOp>()) {
        if (is_none_compare(b->op)) {
            const Expr *o = none_compared_operand(*b);
            if (!o)
                return facts;
            auto p = access_path_of(*o);
            if (!p)
                return facts;
            if (b->op == BinOp::Eq || b->op == BinOp::Is) {
                facts.when_false.push_back(*p);
            } else {
                facts.when_true.push_back(*p);
            }
            return facts;
        }
        if (b->op == BinOp::And) {
            auto l = non_none_paths_if_true(*b->left);
            auto r = non_none_paths_if_true(*b->right);
            facts.when_true = l.when_true;
            facts.when_true.insert(facts.when_true.end(), r.when_true.begin(), r.when_true.end());
            return facts;
        }
        if (b->op == BinOp::Or) {
            auto l = non_none_paths_if_true(*b->left);
            auto r = non_none_paths_if_true(*b->right);
            facts.when_false = l.when_false;
            facts.when_false.insert(facts.when_false.end(), r.when_false.begin(),
                                    r.when_false.end());
            return facts;
        }
        return facts;
    }
    if (const auto *u = c.as<Expr::Unary>()) {
        if (u->op == UnaryOp::Not) {
            auto inner = non_none_paths_if_true(*u->operand);
            facts.when_true = std::move(inner.when_false);
            facts.when_false = std::move(inner.when_true);
        }
        return facts;
    }
    if (const auto *call = c.as<Expr::Call>()) {
        if (call->name == "isinstance" && call->args.size() == 2) {
            if (auto p = access_path_of(call->args[0]))
                facts.when_true.push_back(*p);
        }
    }
    return facts;
}

StaticTruth none_test_fact(CodegenContext &ctx, const Expr &c) {
    if (const auto *u = c.as<Expr::Unary>()) {
        if (u->op == UnaryOp::Not)
            return negate(none_test_fact(ctx, *u->operand));
        return StaticTruth::Undecided;
    }
    const auto *b = c.as<Expr::BinaryOp>();
    if (!b)
        return StaticTruth::Undecided;
    if (is_none_compare(b->op)) {
        const Expr *o = none_compared_operand(*b);
        if (!o)
            return StaticTruth::Undecided;
        bool is_none;
        if (o->is<Expr::None>()) {
            is_none = true;
        } else {
            if (!access_path_of(*o) || resolve_module_ref(ctx, *o))
                return StaticTruth::Undecided;
            if (const auto *n = o->as<Expr::Name>()) {
                if (!lookup_var(ctx, n->name))
                    return StaticTruth::Undecided;
            }
            CompiledExpr compiled = compile_expr(ctx, *o);
            if (compiled.type.is<Type::Optional>())
                return StaticTruth::Undecided;
            is_none = compiled.type.is<Type::None>();
        }
        bool result = (b->op == BinOp::Eq || b->op == BinOp::Is) ? is_none : !is_none;
        return result ? StaticTruth::True : StaticTruth::False;
    }
    if (b->op == BinOp::And) {
        StaticTruth l = none_test_fact(ctx, *b->left);
        if (l != StaticTruth::True)
            return l;
        return static_truth_with_paths(ctx, non_none_paths_if_true(*b->left).when_true, *b->right);
    }
    if (b->op == BinOp::Or) {
        StaticTruth l = none_test_fact(ctx, *b->left);
        if (l != StaticTruth::False)
            return l;
        return static_truth_with_paths(ctx, non_none_paths_if_true(*b->left).when_false, *b->right);
    }
    return StaticTruth::Undecided;
}

StaticTruth static_truth_with_paths(CodegenContext &ctx, const std::vector<std::string> &paths,
                                    const Expr &condition) {
    NarrowingScope scope(ctx, paths);
    return none_test_fact(ctx, condition);
}

CompiledExpr compile_expr_with_paths(CodegenContext &ctx, const std::vector<std::string> &paths,
                                     const Expr &expr, const Type *expected) {
    NarrowingScope scope(ctx, paths);
    return compile_expr(ctx, expr, expected);
}

std::vector<std::string> new_paths_only(CodegenContext &ctx,
                                        const std::vector<std::string> &paths) {
    std::vector<std::string> out;
    for (const auto &p : paths)
        if (!ctx.frame().narrowed_paths.count(p))
            out.push_back(p);
    return out;
}

bool is_known_non_none(CodegenContext &ctx, const std::string &path) {
    return ctx.frame().narrowed_paths.count(path) > 0;
}

void update_facts_on_assign(CodegenContext &ctx, const Expr &target, const Type &target_type,
                            const Type &value_type) {
    auto p = access_path_of(target);
    if (!p)
        return;
    forget_facts_under(ctx, *p);
    if (target_type.is<Type::Optional>() && !value_type.is<Type::None>() &&
        !value_type.is<Type::Optional>())
        ctx.frame().narrowed_paths.insert(*p);
}

void forget_facts_under(CodegenContext &ctx, const std::string &path) {
    auto &paths = ctx.frame().narrowed_paths;
    std::string prefix = path + ".";
    for (auto it = paths.begin(); it != paths.end();) {
        if (*it == path || it->rfind(prefix, 0) == 0) {
            it = paths.erase(it);
        } else {
            ++it;
        }
    }
}

namespace {

// What one function body does to fields, before following its calls.
struct DirectStores {
    std::unordered_set<std::string> fields;
    std::unordered_set<std::string> callees;
    bool unknown_call = false;
};

// One piece: each expression kind that stores or calls adds what it does.
void scan_expr(const CodegenContext &ctx, const Expr &e, ExprRole role, DirectStores &out) {
    if (role != ExprRole::Read)
        if (const auto *a = e.as<Expr::Attribute>())
            out.fields.insert(a->name);
    if (const auto *call = e.as<Expr::Call>()) {
        if (ctx.functions.count(call->name)) {
            out.callees.insert(call->name);
        } else if (ctx.classes.count(call->name)) {
            auto owner =
                first_class_defining_method(ctx, class_ancestors(ctx, call->name), "__init__");
            if (owner)
                out.callees.insert(*owner + ".__init__");
        } else if (call->name != "super" && call->name != "isinstance" &&
                   !find_builtin(call->name)) {
            // A variable holding a function value: any function.
            out.unknown_call = true;
        }
    } else if (const auto *m = e.as<Expr::MethodCall>()) {
        out.callees.insert("*." + m->method);
    } else if (e.is<Expr::CallExpr>()) {
        out.unknown_call = true;
    } else if (const auto *n = e.as<Expr::Name>()) {
        // A function passed as a value may be called by whatever receives it.
        if (ctx.functions.count(n->name))
            out.callees.insert(n->name);
    } else if (const auto *l = e.as<Expr::Lambda>()) {
        out.callees.insert(fmt::format("<lambda{}>", l->index));
    }
    for_each_child_expr(e, [&](const Expr &child, ExprRole r) { scan_expr(ctx, child, r, out); });
}

void scan_block(const CodegenContext &ctx, const std::vector<Stmt> &body, DirectStores &out) {
    for (const Stmt &stmt : body) {
        for_each_stmt_expr(stmt, [&](const Expr &e, ExprRole r) { scan_expr(ctx, e, r, out); });
        for_each_child_block(
            stmt, [&](const std::vector<Stmt> &b, BlockRole) { scan_block(ctx, b, out); });
    }
}

// Every function's direct stores joined with those of everything it may
// call, to a fixed point. Operators, print and truth tests call special
// methods implicitly, so every function may call every dunder.
std::unordered_map<std::string, std::unordered_set<std::string>>
build_field_stores(const CodegenContext &ctx) {
    std::unordered_map<std::string, DirectStores> direct;
    std::vector<std::string> dunders;
    for (const auto &[name, def] : ctx.functions) {
        scan_block(ctx, def->body, direct[name]);
        size_t dot = name.find('.');
        if (dot != std::string::npos && name.compare(dot + 1, 2, "__") == 0 &&
            name.compare(dot + 1, std::string::npos, "__init__") != 0)
            dunders.push_back(name);
    }
    for (size_t i = 0; i < ctx.lambdas->size(); ++i)
        scan_block(ctx, (*ctx.lambdas)[i].body, direct[fmt::format("<lambda{}>", i)]);
    auto callees_of = [&](const std::string &pattern) {
        std::vector<std::string> out;
        if (pattern.rfind("*.", 0) != 0) {
            out.push_back(pattern);
            return out;
        }
        std::string suffix = pattern.substr(1);
        for (const auto &[name, d] : direct)
            if (name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
                out.push_back(name);
        return out;
    };
    std::unordered_map<std::string, std::unordered_set<std::string>> stores;
    std::unordered_map<std::string, std::vector<std::string>> edges;
    for (auto &[name, d] : direct) {
        stores[name] = d.fields;
        if (d.unknown_call)
            stores[name].insert("*");
        auto &e = edges[name];
        for (const std::string &c : d.callees)
            for (const std::string &target : callees_of(c))
                e.push_back(target);
        e.insert(e.end(), dunders.begin(), dunders.end());
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (auto &[name, targets] : edges) {
            auto &mine = stores[name];
            for (const std::string &t : targets) {
                auto it = stores.find(t);
                if (it == stores.end() || &it->second == &mine)
                    continue;
                for (const std::string &f : it->second)
                    changed = mine.insert(f).second || changed;
            }
        }
    }
    return stores;
}

// True when a path goes through one of the fields (any part after the
// first name).
bool path_uses_field(const std::string &path, const std::unordered_set<std::string> &fields) {
    size_t at = path.find('.');
    while (at != std::string::npos) {
        size_t end = path.find('.', at + 1);
        std::string part = path.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        if (fields.count(part))
            return true;
        at = end;
    }
    return false;
}

} // namespace

void forget_attribute_facts(CodegenContext &ctx, const std::string &callee) {
    if (ctx.frames.empty())
        return;
    auto &paths = ctx.frame().narrowed_paths;
    if (paths.empty())
        return;
    if (!ctx.field_stores)
        ctx.field_stores = build_field_stores(ctx);
    auto it = ctx.field_stores->find(callee);
    bool any = it == ctx.field_stores->end() || it->second.count("*");
    for (auto p = paths.begin(); p != paths.end();) {
        bool drop = p->find('.') != std::string::npos && (any || path_uses_field(*p, it->second));
        p = drop ? paths.erase(p) : std::next(p);
    }
}

void forget_facts_for_names(CodegenContext &ctx, const std::unordered_set<std::string> &names) {
    for (const auto &n : names)
        forget_facts_under(ctx, n);
}

std::optional<CompiledExpr> compile_static_is_none(BinOp op, const CompiledExpr &l,
                                                   const CompiledExpr &r) {
    std::string text;
    if (l.type.is<Type::None>()) {
        text = fmt::format("((void)({}), {})", l.text, is_none_test_text(r.text, r.type));
    } else if (r.type.is<Type::None>()) {
        text = fmt::format("({{ bool _nt = {}; (void)({}); _nt; }})",
                           is_none_test_text(l.text, l.type), r.text);
    } else {
        return std::nullopt;
    }
    if (op == BinOp::Ne || op == BinOp::IsNot)
        text = fmt::format("(!{})", text);
    return CompiledExpr{text, Type::bool_()};
}

NarrowingScope::NarrowingScope(CodegenContext &ctx, const std::vector<std::string> &paths)
    : frame_(&ctx.frame()), added_(new_paths_only(ctx, paths)) {
    for (const auto &p : added_)
        frame_->narrowed_paths.insert(p);
}

NarrowingScope::~NarrowingScope() {
    for (const auto &p : added_)
        frame_->narrowed_paths.erase(p);
}

} // namespace kestal
