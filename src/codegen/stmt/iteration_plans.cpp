// Iteration plans by the iterable's syntax (range calls, the dict views, a
// str's split, the iteration-only built-ins of iteration_sources.cpp) and
// otherwise by its static Type. Every fragment is one line
// in which each C statement is followed by one space; the consumer chooses
// line breaks and indentation and wraps the whole in a C block of its own.
//
// Dicts and sets save their size before the loop and compare it at the top
// of every step, the one that finds the end included, raising Python's
// RuntimeError when it changed: removing the last entry is caught too. Lists
// and strings read their current length on every step, so a body that grows
// or shrinks a list sees what Python's loop sees and never reads past the
// end. A range loop runs over a count computed without overflow, so bounds
// next to the int limits run exactly the right number of times.
#include "codegen/stmt/iteration_plans.h"

#include "codegen/builtins/builtins.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

namespace kestal {

namespace {

IterationPlan new_plan(Type element_type, std::string setup, std::string element) {
    IterationPlan plan{std::move(element_type)};
    plan.setup = std::move(setup);
    plan.element = std::move(element);
    return plan;
}

bool is_view_method(const std::string &m) {
    return dict_view_kind(m).has_value();
}

// A homogeneous tuple's Type of item, or none.
const Type *tuple_item_type(const Type &type) {
    const auto *tuple = type.as<Type::Tuple>();
    if (!tuple || tuple->elements.empty())
        return nullptr;
    for (const Type &e : tuple->elements)
        if (!(e == tuple->elements.front()))
            return nullptr;
    return &tuple->elements.front();
}

IterationPlan plan_split_loop(CodegenContext &ctx, const std::string &value) {
    std::string src = fresh_temp(ctx, "src"), i = fresh_temp(ctx, "i"), j = fresh_temp(ctx, "j"),
                w = fresh_temp(ctx, "w");
    IterationPlan plan = new_plan(Type::str(), "", w);
    plan.setup = fmt::format("ktl_str {} = {}; int64_t {} = 0; ", src, value, i);
    plan.header = fmt::format(
        "for (;;) {{ while ({1} < {0}.len && ktl_isspace_c({0}.p[{1}])) {1}++; if ({1} >= {0}.len) "
        "break; int64_t {2} = {1}; while ({2} < {0}.len && !ktl_isspace_c({0}.p[{2}])) {2}++; "
        "ktl_str {3} = ktl_mkstr({0}.p + {1}, {2} - {1}); {1} = {2}; ",
        src, i, j, w);
    return plan;
}

// `for line in open(...)`: the file plan over the opened file, which is
// also kept in an `f` temporary so the loop closes it when it ends.
IterationPlan plan_open_loop(CodegenContext &ctx, const Expr &call) {
    CompiledExpr file = compile_expr(ctx, call);
    IterationPlan plan = plan_typed_iteration(ctx, file.text, file.type, DictIterationMode::Keys,
                                              call.line, call.column);
    std::string f = fresh_temp(ctx, "f");
    size_t at = plan.setup.find(" = ");
    plan.setup = fmt::format("ktl_file *{0}; {1} = {0} = {2}", f, plan.setup.substr(0, at),
                             plan.setup.substr(at + 3));
    plan.cleanup = fmt::format("ktl_file_close({}); ", f);
    return plan;
}

} // namespace

IterationPlan plan_for_iteration(CodegenContext &ctx, const Expr &iterable) {
    if (iterable.is<Expr::GeneratorExp>())
        return plan_generator_expression(ctx, iterable);
    if (const auto *call = iterable.as<Expr::Call>()) {
        if (call->name == "range" && call->kwargs.empty() && is_builtin_name(ctx, "range"))
            return plan_range_loop(ctx, call->args, iterable.line, iterable.column);
        if (call->name == "open" && is_builtin_name(ctx, "open"))
            return plan_open_loop(ctx, iterable);
        if (is_lazy_iterable(ctx, iterable)) {
            const std::string &n = call->name;
            if (n == "enumerate")
                return plan_enumerate_loop(ctx, call->args, call->kwargs, iterable.line,
                                           iterable.column);
            if (!call->kwargs.empty())
                throw_error(fmt::format("{}() doesn't take keyword arguments", n), iterable.line,
                            iterable.column);
            if (n == "zip")
                return plan_zip_loop(ctx, call->args, iterable.line, iterable.column);
            if (n == "map")
                return plan_map_loop(ctx, call->args, iterable);
            if (n == "filter")
                return plan_filter_loop(ctx, call->args, iterable);
            return plan_reversed_loop(ctx, call->args, iterable.line, iterable.column);
        }
    }
    // A module's function of one of these names (`os.keys()`) is an
    // ordinary call.
    if (const auto *mc = iterable.as<Expr::MethodCall>();
        mc && mc->args.empty() && mc->kwargs.empty() && !resolve_module_ref(ctx, *mc->receiver)) {
        if (is_view_method(mc->method)) {
            CompiledExpr receiver = compile_expr(ctx, *mc->receiver);
            if (receiver.type.is<Type::Dict>()) {
                DictIterationMode mode = mc->method == "keys"     ? DictIterationMode::Keys
                                         : mc->method == "values" ? DictIterationMode::Values
                                                                  : DictIterationMode::Items;
                return plan_typed_iteration(ctx, receiver.text, receiver.type, mode, iterable.line,
                                            iterable.column);
            }
            CompiledExpr r = compile_method_call(ctx, receiver, mc->method, {}, {}, iterable);
            return plan_typed_iteration(ctx, r.text, r.type, DictIterationMode::Keys, iterable.line,
                                        iterable.column);
        }
        if (mc->method == "split") {
            CompiledExpr receiver = compile_expr(ctx, *mc->receiver);
            if (receiver.type.is<Type::Str>())
                return plan_split_loop(ctx, receiver.text);
            CompiledExpr r = compile_method_call(ctx, receiver, "split", {}, {}, iterable);
            return plan_typed_iteration(ctx, r.text, r.type, DictIterationMode::Keys, iterable.line,
                                        iterable.column);
        }
    }
    CompiledExpr value = compile_expr(ctx, iterable);
    return plan_typed_iteration(ctx, value.text, value.type, DictIterationMode::Keys, iterable.line,
                                iterable.column);
}

IterationPlan plan_typed_iteration(CodegenContext &ctx, const std::string &value, const Type &type,
                                   DictIterationMode mode, uint64_t line, uint64_t column) {
    auto refuse = [&]() {
        std::string hint;
        if (type.is<Type::Optional>())
            hint = " (it may be None; check `is not None` first)";
        if (type.is<Type::None>())
            hint = " (it is always None here)";
        throw_error(fmt::format("can't iterate over {:#}{}", type, hint), line, column);
    };
    const Type *tuple_item = tuple_item_type(type);
    bool iterable = type.is<Type::Str>() || type.is<Type::List>() || type.is<Type::Dict>() ||
                    type.is<Type::Set>() || type.is<Type::Range>() || type.is<Type::File>() ||
                    tuple_item;
    if (!iterable)
        refuse();
    std::string src = fresh_temp(ctx, "src"), k = fresh_temp(ctx, "k");
    ensure_type_defined(ctx, type);
    IterationPlan plan =
        new_plan(Type::int_(), fmt::format("{} {} = {}; ", c_type_name(type), src, value), "");
    if (type.is<Type::Str>()) {
        // A str is iterated by bytes, as len() and indexing count it.
        plan.element_type = Type::str();
        plan.header = fmt::format("for (int64_t {0} = 0; {0} < {1}.len; {0}++) {{ ", k, src);
        plan.element = fmt::format("ktl_mkstr({}.p + {}, 1)", src, k);
        plan.length = src + ".len";
    } else if (const auto *list = type.as<Type::List>()) {
        plan.element_type = *list->element;
        plan.header = fmt::format("for (int64_t {0} = 0; {0} < {1}->len; {0}++) {{ ", k, src);
        plan.element = fmt::format("{}->data[{}]", src, k);
        plan.length = src + "->len";
    } else if (const auto *dict = type.as<Type::Dict>()) {
        std::string n0 = fresh_temp(ctx, "n0");
        plan.setup += fmt::format("int64_t {} = {}->len; ", n0, src);
        plan.header =
            fmt::format("for (int64_t {0} = 0;; {0}++) {{ if (KTL_UNLIKELY({1}->len != {2})) "
                        "ktl_dict_changed(); "
                        "if ({0} >= {1}->n) break; if ({1}->dead && {1}->dead[{0}]) continue; ",
                        k, src, n0);
        std::string entry = fmt::format("{}->ents[{}]", src, k);
        switch (mode) {
        case DictIterationMode::Keys:
            plan.element_type = *dict->key;
            plan.element = entry + ".key";
            break;
        case DictIterationMode::Values:
            plan.element_type = *dict->value;
            plan.element = entry + ".val";
            break;
        case DictIterationMode::Items: {
            std::vector<Type> pair{*dict->key, *dict->value};
            define_tuple_type(ctx, pair);
            plan.element_type = Type::tuple(pair);
            plan.element =
                fmt::format("(({0}){{{1}.key, {1}.val}})", c_type_name(plan.element_type), entry);
            break;
        }
        }
        plan.length = src + "->len";
    } else if (const auto *set = type.as<Type::Set>()) {
        std::string n0 = fresh_temp(ctx, "n0");
        plan.setup += fmt::format("int64_t {} = {}->used; ", n0, src);
        plan.header =
            fmt::format("for (int64_t {0} = 0;; {0}++) {{ if (KTL_UNLIKELY({1}->used != {2})) "
                        "ktl_set_changed(); "
                        "if ({0} > {1}->mask) break; if ({1}->table[{0}].st != 1) continue; ",
                        k, src, n0);
        plan.element_type = *set->element;
        plan.element = fmt::format("{}->table[{}].key", src, k);
        plan.length = src + "->used";
    } else if (type.is<Type::File>()) {
        // Line by line, each with its "\n"; the first empty read is the end.
        std::string line_var = fresh_temp(ctx, "line");
        plan.element_type = Type::str();
        plan.header =
            fmt::format("for (;;) {{ ktl_str {0} = ktl_file_readline({1}); if (!{0}.len) break; ",
                        line_var, src);
        plan.element = line_var;
    } else if (type.is<Type::Range>()) {
        std::string n = fresh_temp(ctx, "n");
        plan.setup += fmt::format("int64_t {} = ktl_range_len({}); ", n, src);
        plan.header = fmt::format("for (int64_t {0} = 0; {0} < {1}; {0}++) {{ ", k, n);
        // The element wraps in unsigned arithmetic: it is always in range.
        plan.element = fmt::format(
            "((int64_t)((uint64_t){0}.start + (uint64_t){1} * (uint64_t){0}.step))", src, k);
        plan.length = n;
    } else {
        // A tuple whose items share one Type: its fields, copied once into
        // an array.
        size_t count = type.as<Type::Tuple>()->elements.size();
        std::string items = fresh_temp(ctx, "items");
        std::string fields;
        for (size_t f = 0; f < count; ++f)
            fields += fmt::format("{}{}.f{}", f ? ", " : "", src, f);
        plan.element_type = *tuple_item;
        plan.setup +=
            fmt::format("{} {}[{}] = {{{}}}; ", c_type_name(*tuple_item), items, count, fields);
        plan.header = fmt::format("for (int64_t {0} = 0; {0} < {1}; {0}++) {{ ", k, count);
        plan.element = fmt::format("{}[{}]", items, k);
        plan.length = std::to_string(count);
    }
    return plan;
}

// A step written as an int literal, `-` and a literal included.
static std::optional<int64_t> literal_step(const Expr &step) {
    if (const auto *k = step.as<Expr::Int>())
        return k->value;
    if (const auto *u = step.as<Expr::Unary>(); u && u->op == UnaryOp::Neg)
        if (const auto *k = u->operand->as<Expr::Int>(); k && k->value > 0)
            return -k->value;
    return std::nullopt;
}

IterationPlan plan_range_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                              uint64_t column) {
    if (args.empty() || args.size() > 3)
        throw_error(fmt::format("range() takes 1 to 3 arguments, got {}", args.size()), line,
                    column);
    std::vector<std::string> texts;
    for (const Expr &a : args)
        texts.push_back(check_int_operand(ctx, a, "range() arguments"));
    std::string a = args.size() == 1 ? "INT64_C(0)" : texts[0];
    std::string b = args.size() == 1 ? texts[0] : texts[1];
    std::string i = fresh_temp(ctx, "i"), start = fresh_temp(ctx, "start"),
                end = fresh_temp(ctx, "end");
    std::optional<int64_t> literal = args.size() == 3 ? literal_step(args[2]) : 1;
    if (literal && *literal == 0)
        throw_error("range() arg 3 must not be zero", args[2].line, args[2].column);
    IterationPlan plan = new_plan(Type::int_(), "", i);
    // A step of 1 or -1 is a plain C loop: the element never passes the
    // stop, so it never overflows.
    if (literal && (*literal == 1 || *literal == -1)) {
        bool up = *literal == 1;
        plan.setup = fmt::format("int64_t {} = {}, {} = {}; ", start, a, end, b);
        plan.header = fmt::format("for (int64_t {0} = {1}; {0} {2} {3}; {0}{4}) {{ ", i, start,
                                  up ? "<" : ">", end, up ? "++" : "--");
        plan.length = fmt::format("ktl_range_len((ktl_range){{{}, {}, {}}})", start, end, *literal);
        plan.range = RangeBounds{start, end, *literal};
        return plan;
    }
    // Otherwise the loop runs over the element count, computed in unsigned
    // arithmetic, and each element is start + k * step wrapped back into an
    // int: no signed overflow whatever the bounds and the step.
    std::string k = fresh_temp(ctx, "k"), n = fresh_temp(ctx, "n"), s = fresh_temp(ctx, "step");
    if (literal) {
        plan.setup = fmt::format("int64_t {0} = {1}, {2} = {3}; int64_t {4} = "
                                 "ktl_range_len((ktl_range){{{0}, {2}, {5}}}); ",
                                 start, a, end, b, n, *literal);
        s = fmt::format("INT64_C({})", *literal);
        plan.range = RangeBounds{start, end, *literal, n};
    } else {
        plan.setup = fmt::format(
            "int64_t {0} = {1}, {2} = {3}; int64_t {4} = ktl_range_new({0}, {2}, {5}).step; "
            "int64_t {6} = ktl_range_len((ktl_range){{{0}, {2}, {4}}}); ",
            start, a, end, b, s, texts[2], n);
    }
    plan.header = fmt::format(
        "for (int64_t {0} = 0; {0} < {1}; {0}++) {{ int64_t {2} = (int64_t)((uint64_t){3} + "
        "(uint64_t){0} * (uint64_t){4}); ",
        k, n, i, start, s);
    plan.length = n;
    return plan;
}

CompiledExpr compile_iteration_to_list(CodegenContext &ctx, const IterationPlan &plan) {
    define_list_type(ctx, plan.element_type);
    std::string l = list_c_name(plan.element_type);
    std::string res = fresh_temp(ctx, "res");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new({3}); {4}{1}_push({2}, {5}); {6} {7}{2}; }})",
                        plan.setup, l, res, plan.length, plan.header, plan.element, plan.close,
                        plan.cleanup),
            Type::list(plan.element_type)};
}

} // namespace kestal
