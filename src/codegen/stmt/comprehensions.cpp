// Comprehension loops and the values built from them. Every fragment is one
// line of C in which each statement is followed by one space, like the
// iteration plans the loops are made of.
#include "codegen/stmt/comprehensions.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/expr.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/lowerings.h"

namespace kestal {

namespace {

// One name a clause target binds: the C temporary holding its value.
struct Binding {
    std::string name;
    std::string text;
    Type type;
};

// The frame changes of one level of loops, undone when the level is left
// on success and on error alike: the bound names' earlier variables, their
// `global` declarations and single-assignment marks, and every narrowing
// fact (the names start without facts; facts from `if` clauses end here).
class LevelScope {
  public:
    explicit LevelScope(CodegenContext &ctx)
        : ctx_(ctx), frame_(ctx.frame()), narrowed_(frame_.narrowed_paths) {}
    ~LevelScope() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->local) {
                frame_.locals[it->name] = *it->local;
            } else {
                frame_.locals.erase(it->name);
            }
            if (it->was_global)
                frame_.declared_globals.insert(it->name);
            if (it->was_single)
                frame_.single_assignment_names.insert(it->name);
        }
        frame_.narrowed_paths = std::move(narrowed_);
    }
    LevelScope(const LevelScope &) = delete;
    LevelScope &operator=(const LevelScope &) = delete;

    void bind(const Binding &b) {
        Saved s{b.name, std::nullopt, false, false};
        if (auto it = frame_.locals.find(b.name); it != frame_.locals.end())
            s.local = it->second;
        s.was_global = frame_.declared_globals.erase(b.name) > 0;
        // A loop name takes a new value on every step.
        s.was_single = frame_.single_assignment_names.erase(b.name) > 0;
        saved_.push_back(std::move(s));
        forget_facts_under(ctx_, b.name);
        frame_.locals[b.name] = Variable{b.type, b.text};
    }

  private:
    struct Saved {
        std::string name;
        std::optional<Variable> local;
        bool was_global;
        bool was_single;
    };
    CodegenContext &ctx_;
    FunctionFrame &frame_;
    std::unordered_set<std::string> narrowed_;
    std::vector<Saved> saved_;
};

// Declares one temporary per target node in `header` and records the names.
void bind_comprehension_target(CodegenContext &ctx, const Expr &target, const std::string &element,
                               const Type &type, std::string &header,
                               std::vector<Binding> &bindings) {
    const auto *name = target.as<Expr::Name>();
    const auto *tuple = target.as<Expr::Tuple>();
    if (!name && !tuple)
        throw_error("can't assign to this loop target", target.line, target.column);
    ensure_type_defined(ctx, type);
    std::string v = fresh_temp(ctx, "v");
    header += fmt::format("{} {} = {}; ", c_type_name(type), v, element);
    if (name) {
        bindings.push_back({name->name, v, type});
        return;
    }
    std::vector<CompiledExpr> parts =
        unpack_elements(v, type, tuple->elements.size(), header, target.line, target.column);
    for (size_t i = 0; i < parts.size(); ++i)
        bind_comprehension_target(ctx, tuple->elements[i], parts[i].text, parts[i].type, header,
                                  bindings);
}

ComprehensionLoops compile_level(CodegenContext &ctx,
                                 const std::vector<ComprehensionClause> &clauses, size_t index,
                                 const ComprehensionElementStep &step) {
    const ComprehensionClause &clause = clauses[index];
    IterationPlan plan = plan_for_iteration(ctx, clause.iterable);
    std::string header = plan.header;
    std::vector<Binding> bindings;
    bind_comprehension_target(ctx, clause.target, plan.element, plan.element_type, header,
                              bindings);

    LevelScope scope(ctx);
    for (const Binding &b : bindings)
        scope.bind(b);
    for (const Expr &condition : clause.conditions) {
        header += fmt::format("if (!({})) continue; ", compile_condition(ctx, condition));
        for (const std::string &path : non_none_paths_if_true(condition).when_true)
            ctx.frame().narrowed_paths.insert(path);
    }

    ComprehensionLoops out;
    out.setup = plan.setup;
    out.header = header;
    out.close = plan.close;
    out.cleanup = plan.cleanup;
    out.loop_count = plan.loop_count;
    if (index + 1 == clauses.size()) {
        out.elements = step();
        if (clause.conditions.empty())
            out.length = plan.length;
        return out;
    }
    ComprehensionLoops inner = compile_level(ctx, clauses, index + 1, step);
    out.elements = std::move(inner.elements);
    out.header += inner.setup + inner.header;
    out.close = inner.close + inner.cleanup + out.close;
    out.loop_count += inner.loop_count;
    return out;
}

// The element's compiled value; "this expression has no value" for a call
// that returns nothing.
CompiledExpr compile_element_value(CodegenContext &ctx, const Expr &element, const Type *expected) {
    CompiledExpr e = compile_expr(ctx, element, expected);
    if (e.type.is<Type::NoValue>())
        throw_error("this expression has no value", element.line, element.column);
    return e;
}

// The item Type of a list (or a dict's values) and the element converted to
// it: the expected item Type when the element converts to it, else the
// element's own Type.
CompiledExpr convert_to_item(CodegenContext &ctx, const CompiledExpr &e, const Type *expected,
                             const Expr &position) {
    Type item = e.type;
    if (expected && coerce_expr(ctx, "", e.type, *expected))
        item = *expected;
    auto text = coerce_expr(ctx, e.text, e.type, item);
    if (!text)
        internal_fault("a comprehension element does not convert to its item Type");
    reject_function_element(item, position.line, position.column);
    return {*text, item};
}

void require_hashable(const Type &type, std::string_view what, const Expr &position) {
    if (!is_hashable_type(type))
        throw_error(
            fmt::format("{} must be int, str, bool or a tuple of those, not {}", what, type),
            position.line, position.column);
}

} // namespace

ComprehensionLoops compile_comprehension_loops(CodegenContext &ctx,
                                               const std::vector<ComprehensionClause> &clauses,
                                               const ComprehensionElementStep &step) {
    if (clauses.empty())
        internal_fault("a comprehension without a for clause");
    RepeatedCode repeated(ctx);
    return compile_level(ctx, clauses, 0, step);
}

IterationPlan plan_generator_expression(CodegenContext &ctx, const Expr &generator) {
    const auto *g = generator.as<Expr::GeneratorExp>();
    if (!g)
        internal_fault("a generator plan of another expression");
    ComprehensionLoops loops = compile_comprehension_loops(ctx, g->clauses, [&] {
        return std::vector<CompiledExpr>{compile_element_value(ctx, *g->element, nullptr)};
    });
    IterationPlan plan{loops.elements.front().type};
    plan.setup = std::move(loops.setup);
    plan.header = std::move(loops.header);
    plan.element = std::move(loops.elements.front().text);
    plan.close = std::move(loops.close);
    plan.length = std::move(loops.length);
    plan.cleanup = std::move(loops.cleanup);
    plan.loop_count = loops.loop_count;
    return plan;
}

CompiledExpr compile_list_comprehension(CodegenContext &ctx, const Expr &expr,
                                        const Type *expected) {
    const auto &c = *expr.as<Expr::ListComp>();
    const Type *item_expected =
        expected && expected->is<Type::List>() ? &*expected->as<Type::List>()->element : nullptr;
    ComprehensionLoops loops = compile_comprehension_loops(ctx, c.clauses, [&] {
        return std::vector<CompiledExpr>{compile_element_value(ctx, *c.element, item_expected)};
    });
    CompiledExpr e = convert_to_item(ctx, loops.elements.front(), item_expected, *c.element);
    define_list_type(ctx, e.type);
    std::string l = list_c_name(e.type), r = fresh_temp(ctx, "res");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new({3}); {4}{1}_push({2}, {5}); {6} {7}{2}; }})",
                        loops.setup, l, r, loops.length, loops.header, e.text, loops.close,
                        loops.cleanup),
            Type::list(e.type)};
}

CompiledExpr compile_set_comprehension(CodegenContext &ctx, const Expr &expr,
                                       const Type *expected) {
    const auto &c = *expr.as<Expr::SetComp>();
    const Type *item_expected =
        expected && expected->is<Type::Set>() ? &*expected->as<Type::Set>()->element : nullptr;
    ComprehensionLoops loops = compile_comprehension_loops(ctx, c.clauses, [&] {
        return std::vector<CompiledExpr>{compile_element_value(ctx, *c.element, item_expected)};
    });
    const CompiledExpr &e = loops.elements.front();
    require_hashable(e.type, "set items", *c.element);
    define_set_type(ctx, e.type);
    std::string s = set_c_name(e.type), r = fresh_temp(ctx, "res");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new(); {3}{1}_add({2}, {4}); {5} {6}{2}; }})",
                        loops.setup, s, r, loops.header, e.text, loops.close, loops.cleanup),
            Type::set(e.type)};
}

CompiledExpr compile_dict_comprehension(CodegenContext &ctx, const Expr &expr,
                                        const Type *expected) {
    const auto &c = *expr.as<Expr::DictComp>();
    const auto *dict = expected ? expected->as<Type::Dict>() : nullptr;
    const Type *key_expected = dict ? &*dict->key : nullptr;
    const Type *value_expected = dict ? &*dict->value : nullptr;
    ComprehensionLoops loops = compile_comprehension_loops(ctx, c.clauses, [&] {
        CompiledExpr key = compile_expr(ctx, *c.key, key_expected);
        CompiledExpr value = compile_element_value(ctx, *c.value, value_expected);
        return std::vector<CompiledExpr>{std::move(key), std::move(value)};
    });
    const CompiledExpr &key = loops.elements[0];
    require_hashable(key.type, "dict keys", *c.key);
    CompiledExpr value = convert_to_item(ctx, loops.elements[1], value_expected, *c.value);
    define_dict_type(ctx, key.type, value.type);
    std::string d = dict_c_name(key.type, value.type), r = fresh_temp(ctx, "res");
    // The key runs before the value, as in Python: C leaves the order of
    // call arguments open.
    std::string k = fresh_temp(ctx, "key");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new(0); {3}{8} {9} = {4}; {1}_set({2}, {9}, {5}); "
                        "{6} {7}{2}; }})",
                        loops.setup, d, r, loops.header, key.text, value.text, loops.close,
                        loops.cleanup, c_type_name(key.type), k),
            Type::dict(key.type, value.type)};
}

CompiledExpr compile_collected_argument(CodegenContext &ctx, const Expr &expr, const Type *hint) {
    if (is_lazy_iterable(ctx, expr) && !expr.is<Expr::MethodCall>())
        return compile_iteration_to_list(ctx, plan_for_iteration(ctx, expr));
    return compile_expr(ctx, expr, hint);
}

} // namespace kestal
