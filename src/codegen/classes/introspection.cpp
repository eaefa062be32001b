// isinstance() and type(x).__name__.
//
// Every value has one static Type, so most answers are fixed at compile
// time; only a test against a proper subclass of an object's static class
// reads the object's class id, and an optional's None is tested at run
// time (None is an instance of no class given here). The operand is
// evaluated exactly once in every form, also when the answer is fixed.
#include "ast/python_exceptions.h"
#include "codegen/classes/classes.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <array>
#include <utility>

namespace kestal {

namespace {

// The built-in type names isinstance() accepts, by the Types they match.
bool builtin_type_matches(const std::string &name, const Type &t) {
    if (name == "int")
        return t.is<Type::Int>() || t.is<Type::Bool>();
    if (name == "float")
        return t.is<Type::Float>();
    if (name == "bool")
        return t.is<Type::Bool>();
    if (name == "str")
        return t.is<Type::Str>();
    if (name == "list")
        return t.is<Type::List>();
    if (name == "dict")
        return t.is<Type::Dict>();
    if (name == "set")
        return t.is<Type::Set>();
    if (name == "tuple")
        return t.is<Type::Tuple>();
    return name == "range" && t.is<Type::Range>();
}

bool is_builtin_type_name(const std::string &name) {
    static const std::array<const char *, 9> names = {"int",  "float", "bool",  "str",  "list",
                                                      "dict", "set",   "tuple", "range"};
    for (const char *n : names)
        if (name == n)
            return true;
    return false;
}

// The test that `value` (a plain value of Type t, no optional) is an
// instance of the class or type named `name`.
std::string instance_test(CodegenContext &ctx, const std::string &value, const Type &t,
                          const Expr &name_expr) {
    const std::string &name = name_expr.as<Expr::Name>()->name;
    if (ctx.classes.count(name)) {
        const auto *c = t.as<Type::Class>();
        if (!c)
            return "false";
        if (is_subclass_of(ctx, c->name, name))
            return "true";
        if (!is_subclass_of(ctx, name, c->name))
            return "false";
        std::vector<std::string> tests;
        for (const std::string &k : subclasses_of(ctx, name))
            tests.push_back(fmt::format("{}->cls == {}", value, class_id(ctx, k)));
        return fmt::format("({})", fmt::join(tests, " || "));
    }
    if (is_builtin_type_name(name))
        return builtin_type_matches(name, t) ? "true" : "false";
    if (auto python = missing_python_exception_message(name))
        throw_error(*python, name_expr.line, name_expr.column);
    throw_error(fmt::format("isinstance() needs a class or a built-in type (int, float, bool, str, "
                            "list, dict, set, tuple, range); '{}' isn't one",
                            name),
                name_expr.line, name_expr.column);
}

// The name type() gives a plain value of Type t held in `value`.
std::string type_name_text(const std::string &value, const Type &t) {
    switch (t.tag()) {
    case TypeKind::Class:
        return fmt::format("ktl_mkstr(ktl_class_names[{0}->cls], "
                           "(int64_t)strlen(ktl_class_names[{0}->cls]))",
                           value);
    case TypeKind::File:
        return "KTL_LIT(\"TextIOWrapper\")";
    case TypeKind::Function:
        return "KTL_LIT(\"function\")";
    case TypeKind::None:
    case TypeKind::NoValue:
    case TypeKind::Optional:
        return "KTL_LIT(\"NoneType\")";
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
        break;
    }
    // int, float, bool, str, list, dict, set, tuple and range show their
    // own display's head.
    std::string shown = type_display(t);
    return fmt::format("KTL_LIT(\"{}\")", shown.substr(0, shown.find('[')));
}

} // namespace

CompiledExpr compile_isinstance(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                                uint64_t column) {
    if (args.size() != 2)
        throw_error("isinstance() takes 2 arguments", line, column);
    CompiledExpr x = compile_expr(ctx, args[0]);
    if (x.type.is<Type::NoValue>())
        throw_error("this expression has no value", args[0].line, args[0].column);
    // A class or type name, or a tuple of them (an instance of any).
    std::vector<const Expr *> names;
    if (const auto *tuple = args[1].as<Expr::Tuple>()) {
        for (const Expr &e : tuple->elements)
            names.push_back(&e);
    } else {
        names.push_back(&args[1]);
    }
    for (const Expr *n : names)
        if (!n->is<Expr::Name>())
            throw_error("isinstance() needs a class or type name", n->line, n->column);
    if (names.empty())
        throw_error("isinstance() needs a class or type name", args[1].line, args[1].column);
    std::string v = fresh_temp(ctx, "io");
    const Type *plain = &x.type;
    std::string value = v;
    std::string present;
    if (const auto *opt = x.type.as<Type::Optional>()) {
        plain = &*opt->inner;
        value = unwrap_optional_text(v, *plain);
        present = fmt::format("!{} && ", is_none_test_text(v, x.type));
    }
    std::vector<std::string> tests;
    for (const Expr *n : names)
        tests.push_back(instance_test(ctx, value, *plain, *n));
    ensure_type_defined(ctx, x.type);
    return {fmt::format("({{ {} {} = {}; (void){}; {}({}); }})", c_type_name(x.type), v, x.text, v,
                        present, fmt::join(tests, " || ")),
            Type::bool_()};
}

CompiledExpr compile_type_name(CodegenContext &ctx, const Expr &x) {
    CompiledExpr c = compile_expr(ctx, x);
    if (c.type.is<Type::NoValue>())
        return {fmt::format("((void)({}), KTL_LIT(\"NoneType\"))", c.text), Type::str()};
    ensure_type_defined(ctx, c.type);
    std::string t = fresh_temp(ctx, "tq");
    if (const auto *opt = c.type.as<Type::Optional>()) {
        std::string inner = type_name_text(unwrap_optional_text(t, *opt->inner), *opt->inner);
        return {fmt::format("({{ {} {} = {}; {} ? KTL_LIT(\"NoneType\") : {}; }})",
                            c_type_name(c.type), t, c.text, is_none_test_text(t, c.type), inner),
                Type::str()};
    }
    return {fmt::format("({{ {} {} = {}; (void){}; {}; }})", c_type_name(c.type), t, c.text, t,
                        type_name_text(t, c.type)),
            Type::str()};
}

} // namespace kestal
