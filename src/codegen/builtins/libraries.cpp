// Calls into imported C libraries and reads of their constants. A library
// is used like a module: `lib.f(...)` binds its arguments to the manifest's
// parameters (positional first, then keywords by name, then defaults),
// checks each against the declared Type and calls the C function directly
// by its C name; the library's header, pasted into the C file, declares it.
// `lib.NAME` is the constant's C expression. All checks happen at compile
// time; what the C function does at run time is the library's own.
//
// Arguments are compiled in parameter order, so the first error found is
// that of the earliest parameter; the expression compiler's hoisting has
// already put operands whose order can be observed into variables in source
// order, so emitting them in parameter order changes nothing at run time.
#include "codegen/builtins/libraries.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <fmt/format.h>

namespace kestal {
namespace {

// One argument slot: the expression that fills it, and whether it is the
// parameter's default (its errors are then reported at the call).
struct Slot {
    const Expr *expr = nullptr;
    bool is_default = false;
};

std::vector<Slot> bind_library_arguments(const std::string &qualified,
                                         const LibraryFunction &function,
                                         const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, const Expr &call) {
    const std::vector<LibraryParam> &params = function.params;
    if (args.size() > params.size())
        throw_error(fmt::format("{}() takes {} argument{} but {} were given", qualified,
                                params.size(), params.size() == 1 ? "" : "s", args.size()),
                    call.line, call.column);
    std::vector<Slot> slots(params.size());
    for (size_t i = 0; i < args.size(); ++i)
        slots[i].expr = &args[i];
    for (const Keyword &k : kwargs) {
        size_t i = 0;
        while (i < params.size() && params[i].name != k.name)
            ++i;
        if (i == params.size())
            throw_error(
                fmt::format("{}() got an unexpected keyword argument '{}'", qualified, k.name),
                k.value.line, k.value.column);
        if (slots[i].expr != nullptr)
            throw_error(
                fmt::format("{}() got multiple values for argument '{}'", qualified, k.name),
                k.value.line, k.value.column);
        slots[i].expr = &k.value;
    }
    for (size_t i = 0; i < params.size(); ++i) {
        if (slots[i].expr != nullptr)
            continue;
        if (!params[i].default_value)
            throw_error(
                fmt::format("{}() missing required argument '{}'", qualified, params[i].name),
                call.line, call.column);
        slots[i] = {&params[i].default_value->expr, true};
    }
    return slots;
}

std::string compile_library_argument(CodegenContext &ctx, const std::string &qualified,
                                     const LibraryParam &param, const Slot &slot,
                                     const Expr &call) {
    ensure_type_defined(ctx, param.type);
    CompiledExpr value = compile_expr(ctx, *slot.expr, &param.type);
    std::optional<std::string> converted = coerce_expr(ctx, value.text, value.type, param.type);
    if (!converted) {
        const Expr &at = slot.is_default ? call : *slot.expr;
        throw_error(fmt::format("{}() argument '{}' must be {}, not {:#}", qualified, param.name,
                                param.type, value.type),
                    at.line, at.column);
    }
    return *converted;
}

} // namespace

const Library *find_library(const CodegenContext &ctx, const std::string &module) {
    auto found = ctx.libraries->find(module);
    return found == ctx.libraries->end() ? nullptr : &found->second;
}

CompiledExpr compile_library_call(CodegenContext &ctx, const Library &library,
                                  const std::string &name, const std::vector<Expr> &args,
                                  const std::vector<Keyword> &kwargs, const Expr &call) {
    auto found = library.functions.find(name);
    if (found == library.functions.end())
        throw_error(fmt::format("library '{}' has no function '{}' ({})", library.name, name,
                                library.constants.contains(name) ? "a constant, not a function"
                                                                 : "not in it"),
                    call.line, call.column);
    const LibraryFunction &function = found->second;
    std::string qualified = fmt::format("{}.{}", library.name, name);
    // C code given a list may change its length.
    note_list_length_change(ctx);
    std::vector<Slot> slots = bind_library_arguments(qualified, function, args, kwargs, call);
    std::vector<std::string> texts;
    for (size_t i = 0; i < slots.size(); ++i)
        texts.push_back(
            compile_library_argument(ctx, qualified, function.params[i], slots[i], call));
    ensure_type_defined(ctx, function.returns);
    return {fmt::format("{}({})", function.c, fmt::join(texts, ", ")), function.returns};
}

CompiledExpr compile_library_attribute(CodegenContext &ctx, const Library &library,
                                       const std::string &name, uint64_t line, uint64_t column) {
    auto constant = library.constants.find(name);
    if (constant != library.constants.end()) {
        ensure_type_defined(ctx, constant->second.type);
        return {constant->second.expr, constant->second.type};
    }
    if (library.functions.contains(name))
        throw_error(fmt::format("{}.{}() is a library function; call it (it can't be used as a "
                                "value)",
                                library.name, name),
                    line, column);
    throw_error(fmt::format("library '{}' has no attribute '{}'", library.name, name), line,
                column);
}

} // namespace kestal
