// `range(...)` used as a value (a for loop over range has its own lowering):
// the {start, stop, step} value the runtime's range functions take. A zero
// step is refused at run time with Python's ValueError.
#include "codegen/builtins/builtins.h"
#include "codegen/builtins/methods.h"

namespace kestal {

CompiledExpr compile_range_value(const std::vector<CompiledExpr> &args, const Expr &call) {
    check_builtin_arity("range", args.size(), 1, 3, call.line, call.column);
    for (const CompiledExpr &a : args)
        if (!a.type.is<Type::Int>())
            throw_error(fmt::format("range() arguments must be int, not {}", a.type), call.line,
                        call.column);
    Type range = Type::range();
    if (args.size() == 1)
        return {fmt::format("((ktl_range){{0, {}, 1}})", args[0].text), range};
    if (args.size() == 2)
        return {fmt::format("((ktl_range){{{}, {}, 1}})", args[0].text, args[1].text), range};
    return {fmt::format("ktl_range_new({}, {}, {})", args[0].text, args[1].text, args[2].text),
            range};
}

} // namespace kestal
