// Conditions and the boolean operators. `and`/`or` compile their right
// operand under the None-narrowing the left one establishes, both as C
// truth values and as values with Python's semantics.
//
// A comparison chain `a < b < c` arrives as `(a < b) and (b < c)` with the
// middle operand copied into both links and the `and` marked as a chain.
// Unless the middle operand is a plain read it is evaluated once: the left
// link stores it into a variable at its natural place (after the left
// operand) and the right link reads that variable.
#include "codegen/expr/expr.h"

#include "ast/builtin_modules.h"

#include "codegen/core/ctypes.h"
#include "codegen/optional/narrowing.h"

#include <array>

namespace kestal {

namespace {

bool is_chain(const Expr &e) {
    const auto *b = e.as<Expr::BinaryOp>();
    return b && b->op == BinOp::And && b->chain;
}

// The comparison links of a chain, in evaluation order.
void collect_links(Expr &e, std::vector<Expr *> &links) {
    if (is_chain(e)) {
        auto *b = e.as<Expr::BinaryOp>();
        collect_links(*b->left, links);
        collect_links(*b->right, links);
        b->chain = false;
    } else {
        links.push_back(&e);
    }
}

// Whether reading the operand twice is the same as reading it once: a name,
// a literal or a field of a name. Anything else may run user code that
// prints, even where it looks pure (a built-in's key function, len() or
// an operator on objects whose dunders print).
bool is_plain_read(const Expr &e) {
    if (e.is<Expr::Name>() || e.is<Expr::Int>() || e.is<Expr::Float>() || e.is<Expr::Str>() ||
        e.is<Expr::Bool>() || e.is<Expr::None>())
        return true;
    const auto *a = e.as<Expr::Attribute>();
    return a && a->object->is<Expr::Name>();
}

// A chain rewritten so that every middle operand but a plain read is
// evaluated once; the precompiled links are bound to internal names for the
// lifetime of the rewrite.
struct ChainRewrite {
    Expr tree;
    std::vector<std::unique_ptr<ScopedBinding>> bindings;
};

// One piece: the links are rewritten in evaluation order, each using the
// variable the previous one stored.
std::unique_ptr<ChainRewrite> rewrite_chain(CodegenContext &ctx, const Expr &chain) {
    auto rw = std::make_unique<ChainRewrite>();
    rw->tree = chain;
    std::vector<Expr *> links;
    collect_links(rw->tree, links);
    for (size_t i = 0; i + 1 < links.size(); ++i) {
        auto *link = links[i]->as<Expr::BinaryOp>();
        auto *next = links[i + 1]->as<Expr::BinaryOp>();
        if (!link || !next || !is_comparison(link->op))
            continue;
        if (is_plain_read(*link->right) && !may_have_side_effects(ctx, *link->right))
            continue;
        CompiledExpr left = compile_expr(ctx, *link->left);
        CompiledExpr middle = compile_expr(ctx, *link->right);
        if (middle.type.is<Type::NoValue>() || left.type.is<Type::NoValue>())
            continue;
        ++ctx.temp_counter;
        std::string hoisted = fmt::format("__ktl_o{}", ctx.temp_counter);
        Variable held = declare_var(ctx, hoisted, middle.type);
        ensure_type_defined(ctx, left.type);
        std::string cx = fresh_temp(ctx, "cx");
        std::string left_name = "%" + cx;
        std::string middle_name = "%" + cx + "m";
        CompiledExpr compared;
        {
            ScopedBinding lb(ctx, left_name, Variable{left.type, cx});
            ScopedBinding mb(ctx, middle_name, Variable{middle.type, held.text});
            Expr::BinaryOp bare;
            bare.left = Expr{Expr::Name{left_name}, link->left->line, link->left->column};
            bare.op = link->op;
            bare.right = Expr{Expr::Name{middle_name}, link->right->line, link->right->column};
            Expr cmp{std::move(bare), links[i]->line, links[i]->column};
            compared = compile_expr_node(ctx, cmp, nullptr);
        }
        std::string text = fmt::format("({{ {} {} = {}; {} = {}; {}; }})", c_type_name(left.type),
                                       cx, left.text, held.text, middle.text, compared.text);
        std::string link_name = "%" + cx + "l";
        rw->bindings.push_back(
            std::make_unique<ScopedBinding>(ctx, link_name, Variable{compared.type, text}));
        uint64_t line = links[i]->line, column = links[i]->column;
        *links[i] = Expr{Expr::Name{link_name}, line, column};
        next->left = Expr{Expr::Name{hoisted}, next->left->line, next->left->column};
    }
    return rw;
}

// Runs of at most this many links keep their shape, so ordinary conditions
// read in the C as they were written.
constexpr size_t kRegroupLinks = 16;

bool same_link(const Expr &e, BinOp op, bool chain) {
    const auto *b = e.as<Expr::BinaryOp>();
    return b && b->op == op && b->chain == chain;
}

// The operands of a balanced tree over operands [from, to), joined by
// nodes like `shape` (operator, chain mark), each at its first operand's
// position.
Expr balanced_run(std::vector<Expr> &operands, size_t from, size_t to,
                  const Expr::BinaryOp &shape) {
    if (to - from == 1)
        return std::move(operands[from]);
    size_t mid = from + (to - from) / 2;
    Expr left = balanced_run(operands, from, mid, shape);
    Expr right = balanced_run(operands, mid, to, shape);
    uint64_t line = left.line, column = left.column;
    return Expr{Expr::BinaryOp{Box<Expr>(std::move(left)), shape.op, Box<Expr>(std::move(right)),
                               shape.chain},
                line, column};
}

} // namespace

std::optional<Expr> regrouped_bool_run(const Expr &e) {
    const auto *top = e.as<Expr::BinaryOp>();
    if (!top || (top->op != BinOp::And && top->op != BinOp::Or))
        return std::nullopt;
    std::vector<const Expr *> rights;
    const Expr *cur = &e;
    while (same_link(*cur, top->op, top->chain)) {
        const auto &b = *cur->as<Expr::BinaryOp>();
        rights.push_back(b.right.get());
        cur = b.left.get();
    }
    if (rights.size() <= kRegroupLinks)
        return std::nullopt;
    std::vector<Expr> operands;
    operands.reserve(rights.size() + 1);
    operands.push_back(*cur);
    for (size_t i = rights.size(); i-- > 0;)
        operands.push_back(*rights[i]);
    return balanced_run(operands, 0, operands.size(), *top);
}

std::optional<std::string> resolve_module_ref(CodegenContext &ctx, const Expr &e) {
    if (const auto *n = e.as<Expr::Name>()) {
        if (lookup_var(ctx, n->name) || ctx.functions.count(n->name))
            return std::nullopt;
        auto alias = ctx.aliases->find(n->name);
        if (alias != ctx.aliases->end()) {
            const std::string &target = alias->second;
            if (builtin_module_has(target, kModuleHasMembers) || ctx.libraries->count(target))
                return target;
            return std::nullopt;
        }
        if (builtin_module_has(n->name, kModuleNamedWithoutImport))
            return n->name;
        return std::nullopt;
    }
    if (const auto *a = e.as<Expr::Attribute>()) {
        auto m = resolve_module_ref(ctx, *a->object);
        if (m && *m + "." + a->name == "os.path")
            return "os.path";
    }
    return std::nullopt;
}

std::string compile_condition(CodegenContext &ctx, const Expr &e) {
    if (const auto *b = e.as<Expr::BinaryOp>()) {
        if (b->op == BinOp::And || b->op == BinOp::Or) {
            // The regrouped run is compiled from its root down; its links
            // are short runs, so they are not regrouped again.
            std::optional<Expr> grouped = regrouped_bool_run(e);
            const Expr &run = grouped ? *grouped : e;
            const auto &top = *run.as<Expr::BinaryOp>();
            if (top.chain) {
                auto rw = rewrite_chain(ctx, run);
                const auto &rewritten = *rw->tree.as<Expr::BinaryOp>();
                return compile_bool_condition(ctx, rewritten.op, *rewritten.left, *rewritten.right);
            }
            return compile_bool_condition(ctx, top.op, *top.left, *top.right);
        }
    }
    CompiledExpr c = compile_expr(ctx, e);
    auto test = truth_test_expr(c.text, c.type);
    if (!test)
        throw_error("this expression has no value, so it can't be used as a condition", e.line,
                    e.column);
    return *test;
}

std::string compile_bool_condition(CodegenContext &ctx, BinOp op, const Expr &left,
                                   const Expr &right) {
    bool is_and = op == BinOp::And;
    NarrowingFacts facts = non_none_paths_if_true(left);
    const auto &paths = is_and ? facts.when_true : facts.when_false;
    StaticTruth truth = none_test_fact(ctx, left);
    if (truth == StaticTruth::Undecided) {
        std::string l = compile_condition(ctx, left);
        std::string r;
        {
            NarrowingScope scope(ctx, paths);
            r = compile_condition(ctx, right);
        }
        return fmt::format("({} {} {})", l, is_and ? "&&" : "||", r);
    }
    if (is_and && truth == StaticTruth::False)
        return "false";
    if (!is_and && truth == StaticTruth::True)
        return "true";
    NarrowingScope scope(ctx, paths);
    return compile_condition(ctx, right);
}

// One piece: the value form must keep its operand order, narrowing and
// temporary together.
CompiledExpr compile_and_or(CodegenContext &ctx, BinOp op, const Expr &left, const Expr &right,
                            const Type *expected, uint64_t line, uint64_t column) {
    bool is_and = op == BinOp::And;
    NarrowingFacts facts = non_none_paths_if_true(left);
    StaticTruth truth = none_test_fact(ctx, left);
    if (truth != StaticTruth::Undecided) {
        // A left operand the Types decide is a None test without side
        // effects. When it does not decide the result, the value is the right
        // operand's own (`p is not None and p.name` is p.name), compiled
        // under the left operand's facts; otherwise it is the left's bool.
        bool left_decides = is_and == (truth == StaticTruth::False);
        if (left_decides)
            return {is_and ? "false" : "true", Type::bool_()};
        return compile_expr_with_paths(ctx, is_and ? facts.when_true : facts.when_false, right,
                                       expected);
    }
    CompiledExpr l = compile_expr(ctx, left, expected);
    CompiledExpr r;
    {
        NarrowingScope scope(ctx, is_and ? facts.when_true : facts.when_false);
        r = compile_expr(ctx, right, expected);
    }
    const Type &t = l.type;
    auto test = truth_test_expr("_ao", t);
    if (!test)
        throw_error("this expression has no value", left.line, left.column);
    if (t.is<Type::Bool>() && r.type.is<Type::Bool>())
        return {fmt::format("({} {} {})", l.text, is_and ? "&&" : "||", r.text), Type::bool_()};
    std::string left_value = "_ao";
    Type left_type = t;
    if (!is_and && t.is<Type::Optional>()) {
        left_type = *t.as<Type::Optional>()->inner;
        left_value = unwrap_optional_text("_ao", left_type);
    }
    auto joined = join_types(ctx, left_type, r.type);
    if (!joined)
        throw_error(
            fmt::format("`{}` here gives either {:#} or {:#}, and a Kestal value has one type",
                        is_and ? "and" : "or", left_type, r.type),
            line, column);
    ensure_type_defined(ctx, *joined);
    std::string lv = *coerce_expr(ctx, left_value, left_type, *joined);
    std::string rv = *coerce_expr(ctx, r.text, r.type, *joined);
    std::string text = fmt::format("({{ {} _ao = {}; {} ? {} : {}; }})", c_type_name(t), l.text,
                                   *test, is_and ? rv : lv, is_and ? lv : rv);
    return {text, *joined};
}

CompiledExpr compile_chain_value(CodegenContext &ctx, const Expr &e, const Type *expected) {
    auto rw = rewrite_chain(ctx, e);
    const auto &top = *rw->tree.as<Expr::BinaryOp>();
    return compile_and_or(ctx, top.op, *top.left, *top.right, expected, e.line, e.column);
}

} // namespace kestal
