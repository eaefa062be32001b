// Calls of built-in functions: the dispatch on the name and the argument
// shape, in the order that decides which error a wrong call reports, and
// `print` whole. Every value `print` shows is first evaluated into a
// temporary, left to right, so a failure while evaluating prints nothing.
// The numeric and conversion built-ins and the math functions live in
// numeric.cpp, the iterable consumers in consumers.cpp.
#include "codegen/builtins/builtins.h"

#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/consumers.h"
#include "codegen/builtins/files.h"
#include "codegen/builtins/methods.h"
#include "codegen/builtins/numeric.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"

#include <algorithm>
#include <array>
#include <set>

namespace kestal {

namespace {

[[noreturn]] void unexpected_keyword(const std::string &name, const Keyword &k) {
    throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", name, k.name),
                k.value.line, k.value.column);
}

[[noreturn]] void not_yet(const std::string &name, const Expr &call) {
    throw_error(fmt::format("{}() isn't supported yet", name), call.line, call.column);
}

void refuse_keywords(const std::string &name, const std::vector<Keyword> &kwargs) {
    if (!kwargs.empty())
        unexpected_keyword(name, kwargs.front());
}

// The pieces that print one f-string argument part by part.
std::vector<std::string> print_fstring_pieces(CodegenContext &ctx, std::string &pre,
                                              const Expr::FString &fs) {
    std::vector<std::string> pieces;
    for (const FStringSegment &seg : fs.segments) {
        if (const auto *lit = std::get_if<FStringSegment::Literal>(&seg.kind)) {
            pieces.push_back(fmt::format("ktl_print_s({})", c_str_literal(lit->text)));
            continue;
        }
        const auto &field = std::get<FStringSegment::Field>(seg.kind);
        bool plain = !field.spec &&
                     (!field.conversion || *field.conversion == 'r' || *field.conversion == 's');
        if (!plain) {
            std::string sb = fresh_temp(ctx, "sb");
            std::string code = compile_format_field(ctx, sb, seg);
            CompiledExpr str{
                fmt::format("({{ ktl_sb {0}; ktl_sb_init(&{0}); {1}ktl_sb_done(&{0}); }})", sb,
                            code),
                Type::str()};
            pieces.push_back(compile_print_value(ctx, pre, str, false));
            continue;
        }
        bool repr = field.conversion && *field.conversion == 'r';
        CompiledExpr value = compile_expr(ctx, field.expr);
        if (value.type.is<Type::NoValue>())
            throw_error("this expression has no value", field.expr.line, field.expr.column);
        if (type_contains_class(value.type)) {
            CompiledExpr str{compile_to_str(ctx, value, repr, field.expr.line, field.expr.column),
                             Type::str()};
            pieces.push_back(compile_print_value(ctx, pre, str, false));
        } else {
            pieces.push_back(compile_print_value(ctx, pre, value, repr));
        }
    }
    return pieces;
}

std::vector<std::string> print_argument_pieces(CodegenContext &ctx, std::string &pre,
                                               const Expr &arg) {
    if (const auto *fs = arg.as<Expr::FString>())
        return print_fstring_pieces(ctx, pre, *fs);
    if (const auto *mc = arg.as<Expr::MethodCall>()) {
        if (mc->args.empty() && dict_view_kind(mc->method) &&
            !resolve_module_ref(ctx, *mc->receiver)) {
            CompiledExpr receiver = compile_expr(ctx, *mc->receiver);
            if (receiver.type.is<Type::Dict>())
                throw_error(
                    fmt::format("Python prints d.{0}() as dict_{0}([...]), but in Kestal .{0}() "
                                "returns a plain list; print list(d.{0}()) instead",
                                mc->method),
                    arg.line, arg.column);
        }
    }
    CompiledExpr value = compile_expr(ctx, arg);
    if (value.type.is<Type::NoValue>())
        throw_error("this expression has no value to print", arg.line, arg.column);
    if (value.type.is<Type::File>())
        throw_error("printing a file object isn't supported", arg.line, arg.column);
    if (value.type.is<Type::Function>())
        throw_error("printing a function isn't supported", arg.line, arg.column);
    // Python takes an argument's whole text before writing it (after every
    // argument is evaluated), so what a container's items' __repr__ print
    // comes before the container. An object alone prints its method's
    // result right after the method runs, which is that order already.
    const Type *shown = &value.type;
    while (const auto *q = shown->as<Type::Optional>())
        shown = &*q->inner;
    if (!shown->is<Type::Class>() && text_runs_user_code(ctx, value.type, false)) {
        ensure_type_defined(ctx, value.type);
        std::string name = fresh_temp(ctx, "pv");
        pre += fmt::format("{} {} = {}; ", c_type_name(value.type), name, value.text);
        CompiledExpr held{name, value.type};
        return {
            fmt::format("ktl_print_s({})", compile_to_str(ctx, held, false, arg.line, arg.column))};
    }
    return {compile_print_value(ctx, pre, value, false)};
}

// One piece: the positional and keyword passes share the pre-text, whose
// order is the order of evaluation.
CompiledExpr compile_print(CodegenContext &ctx, const std::vector<Expr> &args,
                           const std::vector<Keyword> &kwargs) {
    std::string pre;
    std::vector<std::vector<std::string>> pieces;
    for (const Expr &arg : args)
        pieces.push_back(print_argument_pieces(ctx, pre, arg));
    std::string sep = "ktl_putc(' ')", end = "ktl_newline()";
    std::optional<std::string> file;
    for (const Keyword &k : kwargs) {
        if (k.name == "flush")
            continue;
        CompiledExpr value = compile_expr(ctx, k.value);
        if (k.name == "file") {
            if (!value.type.is<Type::File>())
                throw_error(fmt::format("print(file=...) must be a file, not {}", value.type),
                            k.value.line, k.value.column);
            std::string name = fresh_temp(ctx, "file");
            pre += fmt::format("ktl_file *{} = {}; ", name, value.text);
            file = name;
            continue;
        }
        if (!value.type.is<Type::Str>())
            throw_error(fmt::format("print({}=...) must be a str", k.name), k.value.line,
                        k.value.column);
        std::string name = fresh_temp(ctx, k.name);
        pre += fmt::format("ktl_str {} = {}; ", name, value.text);
        if (k.name == "sep") {
            sep = fmt::format("ktl_print_s({})", name);
        } else if (k.name == "end") {
            end = fmt::format("ktl_print_s({})", name);
        } else {
            throw_error(fmt::format("print() got an unexpected keyword argument '{}'", k.name),
                        k.value.line, k.value.column);
        }
    }
    std::vector<std::string> statements;
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            statements.push_back(sep);
        statements.insert(statements.end(), pieces[i].begin(), pieces[i].end());
    }
    statements.push_back(end);
    std::string joined = fmt::format("{}", fmt::join(statements, "; "));
    if (!file)
        return {fmt::format("({{ {}{}; }})", pre, joined), Type::no_value()};
    std::string sb = fresh_temp(ctx, "sb");
    std::string cs = fresh_temp(ctx, "cs");
    return {
        fmt::format("({{ {0}ktl_sb {1}; ktl_sb_init(&{1}); ktl_capstate {2} = ktl_cap_begin(&{1}); "
                    "{3}; ktl_cap_end({2}); ktl_file_print({4}, &{1}); }})",
                    pre, sb, cs, joined, *file),
        Type::no_value()};
}

} // namespace

void check_builtin_arity(const std::string &name, size_t count, size_t min, size_t max,
                         uint64_t line, uint64_t column) {
    if (count >= min && count <= max)
        return;
    std::string takes = min == max ? fmt::format("{}", min) : fmt::format("{} to {}", min, max);
    throw_error(fmt::format("{}() takes {} argument(s), got {}", name, takes, count), line, column);
}

std::string compile_print_value(CodegenContext &ctx, std::string &pre, const CompiledExpr &value,
                                bool repr) {
    ensure_type_defined(ctx, value.type);
    std::string name = fresh_temp(ctx, "pv");
    pre += fmt::format("{} {} = {}; ", c_type_name(value.type), name, value.text);
    return fmt::format("{}({})", repr ? repr_fn_name(value.type) : print_fn_name(value.type), name);
}

std::vector<std::string> compile_str_args(CodegenContext &ctx, const std::string &name,
                                          const std::vector<Expr> &args) {
    std::vector<std::string> out;
    for (const Expr &a : args) {
        CompiledExpr c = compile_expr(ctx, a);
        if (!c.type.is<Type::Str>())
            throw_error(fmt::format("{}() needs a str, not {}", name, c.type), a.line, a.column);
        out.push_back(c.text);
    }
    return out;
}

bool type_contains_class(const Type &t) {
    switch (t.tag()) {
    case TypeKind::Class:
        return true;
    case TypeKind::List:
        return type_contains_class(*t.as<Type::List>()->element);
    case TypeKind::Set:
        return type_contains_class(*t.as<Type::Set>()->element);
    case TypeKind::Optional:
        return type_contains_class(*t.as<Type::Optional>()->inner);
    case TypeKind::Dict:
        return type_contains_class(*t.as<Type::Dict>()->key) ||
               type_contains_class(*t.as<Type::Dict>()->value);
    case TypeKind::Tuple:
        for (const Type &e : t.as<Type::Tuple>()->elements)
            if (type_contains_class(e))
                return true;
        return false;
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
    return false;
}

namespace {

// A dataclass's synthesized method stands at its `class` keyword; a written
// one never does.
bool is_synthesized(const ClassDef &c, const FuncDef &m) {
    return m.line == c.line && m.column == c.column;
}

const FuncDef *find_method(const CodegenContext &ctx, const std::string &owner,
                           const std::string &name) {
    for (const FuncDef &m : ctx.classes.at(owner)->methods)
        if (m.name == name)
            return &m;
    return nullptr;
}

bool text_runs_user_code_in(CodegenContext &ctx, const Type &t, bool repr,
                            std::set<std::string> &seen);

// The Types of the fields a synthesized __repr__ of class `k` shows (its
// f-string's `self.<field>` parts), or none when a field has no Type yet.
std::optional<std::vector<Type>> shown_field_types(CodegenContext &ctx, const std::string &k,
                                                   const FuncDef &method) {
    std::vector<Type> types;
    const auto *ret = method.body.empty() ? nullptr : method.body.front().as<Stmt::Return>();
    const auto *fs = ret && ret->value ? ret->value->as<Expr::FString>() : nullptr;
    if (!fs)
        return std::nullopt;
    std::vector<std::string> chain = class_ancestors(ctx, k);
    for (const FStringSegment &seg : fs->segments) {
        const auto *field = std::get_if<FStringSegment::Field>(&seg.kind);
        const auto *attr = field ? field->expr.as<Expr::Attribute>() : nullptr;
        const auto *self = attr ? attr->object->as<Expr::Name>() : nullptr;
        if (!self || self->name != "self")
            continue;
        const ClassField *found = nullptr;
        for (const std::string &c : chain) {
            auto own = ctx.class_attributes.find(c);
            if (own == ctx.class_attributes.end())
                continue;
            for (const ClassField &f : own->second)
                if (f.name == attr->name)
                    found = &f;
        }
        if (!found)
            return std::nullopt;
        types.push_back(found->type);
    }
    return types;
}

// Each class of the subtree prints through the first of the methods its
// chain defines; a written one runs user code, a synthesized __repr__ only
// through its fields (each class is looked into once, which ends cycles).
bool class_text_runs_user_code(CodegenContext &ctx, const std::string &name, bool repr,
                               std::set<std::string> &seen) {
    for (const std::string &k : subclasses_of(ctx, name)) {
        std::vector<std::string> chain = class_ancestors(ctx, k);
        for (const char *m : {"__str__", "__repr__"}) {
            if (repr && std::string_view(m) == "__str__")
                continue;
            std::optional<std::string> owner = first_class_defining_method(ctx, chain, m);
            if (!owner)
                continue;
            const FuncDef *method = find_method(ctx, *owner, m);
            if (!method || !is_synthesized(*ctx.classes.at(*owner), *method))
                return true;
            if (!seen.insert(k).second)
                break;
            std::optional<std::vector<Type>> fields = shown_field_types(ctx, k, *method);
            if (!fields)
                return true;
            for (const Type &f : *fields)
                if (text_runs_user_code_in(ctx, f, true, seen))
                    return true;
            break;
        }
    }
    return false;
}

bool text_runs_user_code_in(CodegenContext &ctx, const Type &t, bool repr,
                            std::set<std::string> &seen) {
    switch (t.tag()) {
    case TypeKind::Class:
        return class_text_runs_user_code(ctx, t.as<Type::Class>()->name, repr, seen);
    case TypeKind::Optional:
        return text_runs_user_code_in(ctx, *t.as<Type::Optional>()->inner, repr, seen);
    case TypeKind::List:
        return text_runs_user_code_in(ctx, *t.as<Type::List>()->element, true, seen);
    case TypeKind::Set:
        return text_runs_user_code_in(ctx, *t.as<Type::Set>()->element, true, seen);
    case TypeKind::Dict:
        return text_runs_user_code_in(ctx, *t.as<Type::Dict>()->key, true, seen) ||
               text_runs_user_code_in(ctx, *t.as<Type::Dict>()->value, true, seen);
    case TypeKind::Tuple:
        for (const Type &e : t.as<Type::Tuple>()->elements)
            if (text_runs_user_code_in(ctx, e, true, seen))
                return true;
        return false;
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
    return false;
}

} // namespace

bool program_has_text_methods(CodegenContext &ctx) {
    if (!ctx.has_text_methods) {
        ctx.has_text_methods = false;
        for (const ClassDef &c : ctx.program->classes)
            for (const FuncDef &m : c.methods)
                if ((m.name == "__str__" || m.name == "__repr__") && !is_synthesized(c, m))
                    ctx.has_text_methods = true;
    }
    return *ctx.has_text_methods;
}

bool text_runs_user_code(CodegenContext &ctx, const Type &t, bool repr) {
    if (!program_has_text_methods(ctx))
        return false;
    std::set<std::string> seen;
    return text_runs_user_code_in(ctx, t, repr, seen);
}

// One piece: the rules are ordered, and their order decides which error a
// wrong call reports.
CompiledExpr compile_builtin_call(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  const Expr &call, const Type *expected) {
    size_t n = args.size();
    if (name == "print")
        return compile_print(ctx, args, kwargs);
    if ((name == "any" || name == "all") && n == 1) {
        refuse_keywords(name, kwargs);
        return compile_any_all(ctx, name == "any", args[0], call);
    }
    if (name == "sum" && (n == 1 || n == 2)) {
        refuse_keywords(name, kwargs);
        return compile_sum_call(ctx, args, call);
    }
    const BuiltinFunction *row = find_builtin(name);
    if ((name == "min" || name == "max") && (n == 1 || !kwargs.empty())) {
        for (const Keyword &k : kwargs)
            if (!row->takes_keyword(k.name) || (k.name == "default" && n != 1))
                unexpected_keyword(name, k);
        return compile_min_max_call(ctx, name, args, kwargs, call);
    }
    if (name == "sorted" && n == 1) {
        for (const Keyword &k : kwargs)
            if (!row->takes_keyword(k.name))
                unexpected_keyword(name, k);
        return compile_sorted_call(ctx, args[0], kwargs, call, expected);
    }
    if ((name == "list" && n == 1) || (name == "dict" && n <= 1)) {
        refuse_keywords(name, kwargs);
        if (name == "list")
            return compile_list_call(ctx, args[0], call, expected);
        return compile_dict_constructor(ctx, n == 1 ? &args[0] : nullptr, call, expected);
    }
    if (name == "open")
        return compile_open_call(ctx, args, kwargs, call);
    if (name == "set")
        return compile_set_call(ctx, args, kwargs, call, expected);
    if (name == "len" && kwargs.empty()) {
        if (auto counted = compile_len_count(ctx, args))
            return *counted;
    }
    refuse_keywords(name, kwargs);
    // Every argument count of a math name reaches it, so a wrong count
    // reports the arity rather than an unknown function.
    if (is_math_function_one(name) || is_math_function_two(name))
        return compile_math_function(ctx, name, args, call, true);
    if (builtin_has(name, kBuiltinIterationOnly))
        throw_error(fmt::format("{}() can only be used where it's iterated: in a for loop, a "
                                "comprehension, or passed to list(), sum(), ...",
                                name),
                    call.line, call.column);
    std::vector<CompiledExpr> compiled;
    for (const Expr &a : args)
        compiled.push_back(compile_expr(ctx, a));
    if (builtin_has(name, kBuiltinCompiledArgs)) {
        if (auto value = compile_value_builtin(ctx, name, compiled, args, call))
            return *value;
        if (name == "range")
            return compile_range_value(compiled, call);
        if (name == "input")
            return compile_input_call(compiled, call);
        if (name == "min" || name == "max")
            return compile_min_max_values(ctx, name, compiled, call);
        not_yet(name, call);
    }
    throw_error(fmt::format("unknown function '{}'", name), call.line, call.column);
}

CompiledExpr compile_method_call(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    switch (receiver.type.tag()) {
    case TypeKind::Str:
        return compile_str_method(ctx, receiver, method, args, kwargs, call);
    case TypeKind::List:
        return compile_list_method(ctx, receiver, method, args, kwargs, call);
    case TypeKind::Dict:
        return compile_dict_method(ctx, receiver, method, args, kwargs, call);
    case TypeKind::Set:
        return compile_set_method(ctx, receiver, method, args, kwargs, call);
    case TypeKind::Function: {
        // `str.split(s)` calls the method with s as its receiver.
        const auto &value = receiver.type.as<Type::Function>()->value;
        const auto *b = std::get_if<FunctionValue::Builtin>(&value.kind);
        if (b && b->name == "str")
            return compile_function_value_call(ctx, receiver.text,
                                               FunctionValue{FunctionValue::StrMethod{method}},
                                               args, kwargs, call);
        throw_error(fmt::format("{:#} has no method '{}'", receiver.type, method), call.line,
                    call.column);
    }
    case TypeKind::File:
        return compile_file_method(ctx, receiver, method, args, kwargs, call);
    case TypeKind::Class:
        return compile_object_method_call(ctx, receiver.text, receiver.type.as<Type::Class>()->name,
                                          method, args, kwargs, call.line, call.column);
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    throw_error(fmt::format("{:#} has no method '{}'", receiver.type, method), call.line,
                call.column);
}

} // namespace kestal
