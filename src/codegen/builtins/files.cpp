// Text files and standard input: `open(...)` with its modes and keywords,
// `input(...)`, and the methods of a file value. A file is a pointer to the
// runtime's ktl_file; every method is one runtime call, which raises
// Python's exceptions (a closed file, a file not open for reading) itself.
// Files the program leaves open are written out by the runtime at exit.
#include "codegen/builtins/files.h"

#include "codegen/builtins/builtin_methods.h"
#include "codegen/builtins/builtins.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/iteration_plans.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace kestal {

namespace {

constexpr std::array<std::string_view, 8> kFileModes = {"r", "w", "a", "x", "rt", "wt", "at", "xt"};

bool is_utf8_name(const std::string &text) {
    std::string folded;
    for (char c : text)
        if (c != '-')
            folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded == "utf8";
}

std::string compile_open_mode(CodegenContext &ctx, const Expr &mode) {
    if (const auto *lit = mode.as<Expr::Str>()) {
        const std::string &m = lit->value;
        if (std::find(kFileModes.begin(), kFileModes.end(), m) == kFileModes.end()) {
            if (m.find('b') != std::string::npos)
                throw_error(fmt::format("binary files (mode '{}') aren't supported yet; open in "
                                        "text mode",
                                        m),
                            mode.line, mode.column);
            throw_error(fmt::format("unsupported file mode '{}' (Kestal supports 'r', 'w', 'a' "
                                    "and 'x')",
                                    m),
                        mode.line, mode.column);
        }
    }
    CompiledExpr c = compile_expr(ctx, mode);
    if (!c.type.is<Type::Str>())
        throw_error(fmt::format("open() mode must be a str, not {}", c.type), mode.line,
                    mode.column);
    return c.text;
}

[[noreturn]] void no_file_method(const std::string &method, size_t count, const Expr &call) {
    throw_error(fmt::format("file has no method '{}' taking {} argument(s)", method, count),
                call.line, call.column);
}

// The argument of writelines() as a list[str]: a list[str] value as it is,
// any other iterable collected into a new list first.
std::string compile_writelines_arg(CodegenContext &ctx, const Expr &arg) {
    Type want = Type::list(Type::str());
    CompiledExpr c = compile_expr(ctx, arg, &want);
    if (c.type == want)
        return c.text;
    IterationPlan plan =
        plan_typed_iteration(ctx, c.text, c.type, DictIterationMode::Keys, arg.line, arg.column);
    CompiledExpr list = compile_iteration_to_list(ctx, plan);
    if (!(list.type == want))
        throw_error(fmt::format("writelines() needs strings, not {}", list.type), arg.line,
                    arg.column);
    return list.text;
}

} // namespace

CompiledExpr compile_open_call(CodegenContext &ctx, const std::vector<Expr> &args,
                               const std::vector<Keyword> &kwargs, const Expr &call) {
    if (args.size() > 2)
        throw_error("open() takes a path and a mode (other arguments are keywords)", call.line,
                    call.column);
    std::array<const Expr *, 2> slots = {nullptr, nullptr};
    for (size_t i = 0; i < args.size(); ++i)
        slots[i] = &args[i];
    for (const Keyword &k : kwargs) {
        if (k.name == "encoding") {
            const auto *lit = k.value.as<Expr::Str>();
            if (!lit || !is_utf8_name(lit->value))
                throw_error("Kestal files are UTF-8; encoding= must be \"utf-8\"", k.value.line,
                            k.value.column);
            continue;
        }
        if (k.name != "file" && k.name != "mode")
            throw_error(fmt::format("open() got an unexpected keyword argument '{}'", k.name),
                        k.value.line, k.value.column);
        const Expr *&slot = slots[k.name == "file" ? 0 : 1];
        if (slot)
            throw_error(fmt::format("open() got multiple values for argument '{}'", k.name),
                        k.value.line, k.value.column);
        slot = &k.value;
    }
    if (!slots[0])
        throw_error("open() needs a path", call.line, call.column);
    const Expr &path = *slots[0];
    CompiledExpr p = compile_expr(ctx, path);
    if (!p.type.is<Type::Str>())
        throw_error(fmt::format("open() needs a path (a str), not {}", p.type), path.line,
                    path.column);
    std::string mode = slots[1] ? compile_open_mode(ctx, *slots[1]) : "KTL_LIT(\"r\")";
    return {fmt::format("ktl_open({}, {})", p.text, mode), Type::file()};
}

CompiledExpr compile_input_call(const std::vector<CompiledExpr> &args, const Expr &call) {
    check_builtin_arity("input", args.size(), 0, 1, call.line, call.column);
    if (args.empty())
        return {"ktl_input(KTL_LIT(\"\"))", Type::str()};
    if (!args[0].type.is<Type::Str>())
        throw_error("input() prompt must be a str", call.line, call.column);
    return {fmt::format("ktl_input({})", args[0].text), Type::str()};
}

CompiledExpr compile_file_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    if (!kwargs.empty()) {
        const Keyword &k = kwargs.front();
        throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", method, k.name),
                    k.value.line, k.value.column);
    }
    const std::string &f = receiver.text;
    size_t n = args.size();
    if (method == "read") {
        if (n != 0)
            throw_error("read(size) isn't supported yet; read() reads the whole file", call.line,
                        call.column);
        return {fmt::format("ktl_file_read({})", f), Type::str()};
    }
    const BuiltinMethod *row = find_builtin_method(MethodReceiver::File, method);
    if (!row || !row->takes(n))
        no_file_method(method, n, call);
    if (method == "readline")
        return {fmt::format("ktl_file_readline({})", f), Type::str()};
    if (method == "readlines")
        return {fmt::format("ktl_file_readlines({})", f), Type::list(Type::str())};
    if (method == "write") {
        CompiledExpr s = compile_expr(ctx, args[0]);
        if (!s.type.is<Type::Str>())
            throw_error(fmt::format("write() argument must be str, not {}", s.type), args[0].line,
                        args[0].column);
        return {fmt::format("ktl_file_write({}, {})", f, s.text), Type::int_()};
    }
    if (method == "writelines") {
        std::string list = compile_writelines_arg(ctx, args[0]);
        return {fmt::format("ktl_file_writelines({}, {})", f, list), Type::no_value()};
    }
    // flush and close.
    return {fmt::format("{}({})", row->runtime, f), Type::no_value()};
}

} // namespace kestal
