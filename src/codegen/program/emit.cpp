// Whole-program emission: one generation attempt. The top-level statements
// become the body of `ktl_main` (compiled again with a wider Type forced
// where a main-body variable proved too narrow), every fully annotated
// top-level function is compiled whether or not it is called, the class
// section is written, and the C file is assembled in its fixed order after
// the switches and the runtime text.
#include "codegen/program/emit.h"

#include "analysis/analyses.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/core/instances.h"
#include "codegen/core/widening.h"
#include "codegen/stmt/stmt.h"
#include "platform/memory.h"
#include "runtime/runtime_text.h"
#include "support/escape.h"

#include <algorithm>
#include <unordered_set>

namespace kestal {

namespace {

// The compiled main body and where in its text each top-level statement
// ends.
struct MainBody {
    FunctionFrame frame;
    std::vector<size_t> statement_ends;
};

// The main body, compiled again while a variable must widen. Each
// repetition starts from the globals table as it was before the first
// attempt, so no global declared by a discarded attempt is visible to the
// next, and forgets the failed instantiations, which may have read one.
MainBody compile_main_body(CodegenContext &ctx, const Program &program) {
    std::vector<size_t> ends;
    const std::unordered_map<std::string, Variable> globals_before = ctx.globals;
    auto attempt = [&](const ForcedTypes &forced) {
        FunctionFrame frame = new_frame(true, std::nullopt, forced);
        PathSet volatile_paths;
        collect_try_assigned_names(program.statements, volatile_paths);
        frame.volatile_names.insert(volatile_paths.begin(), volatile_paths.end());
        FrameGuard guard(ctx, std::move(frame));
        ends.clear();
        for (const Stmt &s : program.statements) {
            compile_stmt(ctx, s);
            ends.push_back(ctx.frame().body.size());
        }
        return guard.pop();
    };
    FunctionFrame frame = compile_with_forced_variables(attempt, [&] {
        ctx.globals = globals_before;
        ctx.failed_instances.clear();
    });
    return MainBody{std::move(frame), std::move(ends)};
}

void compile_annotated_functions(CodegenContext &ctx, const Program &program) {
    for (const FuncDef &f : program.functions) {
        bool annotated = std::all_of(f.params.begin(), f.params.end(),
                                     [](const Param &p) { return p.annotation.has_value(); });
        if (!annotated)
            continue;
        std::vector<Type> types;
        for (const Param &p : f.params)
            types.push_back(*p.annotation);
        instantiate_function(ctx, f.name, types, {}, f.line, f.column);
    }
}

void define_library_types(CodegenContext &ctx, const Program &program) {
    for (const auto &[name, lib] : program.libraries) {
        for (const auto &[fname, fn] : lib.functions) {
            for (const LibraryParam &p : fn.params)
                ensure_type_defined(ctx, p.type);
            ensure_type_defined(ctx, fn.returns);
        }
    }
    for (const auto &[name, lib] : program.libraries)
        for (const auto &[cname, constant] : lib.constants)
            ensure_type_defined(ctx, constant.type);
}

} // namespace

bool instance_order_less(const InstanceSummary &a, const InstanceSummary &b) {
    if (a.name != b.name)
        return a.name < b.name;
    size_t n = std::min(a.argument_types.size(), b.argument_types.size());
    for (size_t i = 0; i < n; ++i) {
        std::string da = type_display(a.argument_types[i]), db = type_display(b.argument_types[i]);
        if (da != db)
            return da < db;
    }
    if (a.argument_types.size() != b.argument_types.size())
        return a.argument_types.size() < b.argument_types.size();
    for (size_t i = 0; i < n; ++i) {
        std::string ca = type_code(a.argument_types[i]), cb = type_code(b.argument_types[i]);
        if (ca != cb)
            return ca < cb;
    }
    return false;
}

namespace {

void fill_output_lists(CodegenContext &ctx, const FunctionFrame &main, CodegenOutput &out) {
    for (const auto &[key, info] : ctx.instances) {
        if (key.name.rfind("<lambda", 0) == 0)
            continue;
        InstanceSummary s;
        s.return_type = info.return_type ? *info.return_type : Type::no_value();
        s.name = key.name;
        s.argument_types = key.key_types;
        auto locals = ctx.instance_locals.find(key);
        if (locals != ctx.instance_locals.end())
            s.locals = locals->second;
        out.instances.push_back(std::move(s));
    }
    std::stable_sort(out.instances.begin(), out.instances.end(), instance_order_less);
    NameTypeList vars = sorted_frame_locals(main);
    NameTypeList globals;
    for (const auto &[name, var] : ctx.globals)
        globals.emplace_back(name, var.type);
    std::sort(globals.begin(), globals.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    vars.insert(vars.end(), globals.begin(), globals.end());
    std::stable_sort(vars.begin(), vars.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &v : vars)
        if (out.variables.empty() || out.variables.back().first != v.first)
            out.variables.push_back(std::move(v));
    for (const std::string &name : ctx.class_names) {
        auto fields = ctx.class_attributes.find(name);
        if (fields == ctx.class_attributes.end())
            continue;
        ClassSummary summary{name, {}};
        for (const ClassField &f : fields->second)
            summary.attributes.emplace_back(f.name, f.type);
        out.classes.push_back(std::move(summary));
    }
}

// C compilers optimise one function in time that grows faster than its
// length: clang -O3 needs minutes for a ktl_main of a few thousand lines,
// and gives up on longer ones. A main body of more than kMainSplitStatements
// top-level statements is cut, between statements, into parts of
// kMainPartStatements, each its own function. Shorter bodies stay whole:
// their variables then stay locals, which the compiler keeps in registers.
constexpr size_t kMainSplitStatements = 200;
constexpr size_t kMainPartStatements = 50;

// ktl_main and, for a long body, its parts. The parts share main's
// variables, which then live in the struct ktl_M (a collector root, like
// ktl_G); the body's text names them unchanged, so each name is defined as
// its field while the parts are written, and undefined again after them.
// `noinline` keeps the compiler from joining the parts again.
std::string main_function_text(const MainBody &main) {
    const FunctionFrame &frame = main.frame;
    if (main.statement_ends.size() <= kMainSplitStatements)
        return "KTL_PROG void ktl_main(void) {\n" +
               emit_local_decls(frame.declared_locals, frame.volatile_names) + frame.body + "}\n";
    std::string fields, defines, undefines;
    for (const auto &[type, c_name] : frame.declared_locals) {
        fields += fmt::format(" {} {};", c_type_name(type), c_name);
        defines += fmt::format("#define {0} (ktl_M.{0})\n", c_name);
        undefines += fmt::format("#undef {}\n", c_name);
    }
    std::string text = fmt::format("static struct {{ char unused;{} }} ktl_M;\n", fields) + defines;
    std::string calls;
    size_t start = 0;
    for (size_t i = 0; i < main.statement_ends.size(); i += kMainPartStatements) {
        size_t end =
            main.statement_ends[std::min(i + kMainPartStatements, main.statement_ends.size()) - 1];
        std::string name = fmt::format("ktl_main_part{}", i / kMainPartStatements + 1);
        text += fmt::format("__attribute__((noinline)) static void {}(void) {{\n", name);
        text.append(frame.body, start, end - start);
        text += "}\n";
        calls += fmt::format("    {}();\n", name);
        start = end;
    }
    text += "KTL_PROG void ktl_main(void) {\n    ktl_gc_add_root(&ktl_M, sizeof ktl_M);\n" + calls;
    text.append(frame.body, start, std::string::npos);
    return text + "}\n" + undefines;
}

// The prototypes again, with `noinline`, of the instances whose every call
// runs at most once in the module body: clang inlines a static function
// called once whatever its size, and a module body that absorbs all of them
// takes -O3 time growing faster than its length (see
// `once_called_instances`).
std::string noinline_declarations(const CodegenContext &ctx) {
    std::string out;
    std::unordered_set<std::string> declared;
    for (const InstanceKey &key : ctx.instance_log) {
        auto info = ctx.instances.find(key);
        auto texts = ctx.instance_texts.find(key);
        if (info == ctx.instances.end() || texts == ctx.instance_texts.end())
            continue;
        auto once = ctx.once_called_instances.find(info->second.c_name);
        if (once != ctx.once_called_instances.end() && once->second &&
            declared.insert(info->second.c_name).second)
            out += "__attribute__((noinline)) " + texts->second.first;
    }
    return out;
}

std::string globals_struct(const CodegenContext &ctx) {
    std::vector<Variable> entries;
    for (const auto &entry : ctx.globals)
        entries.push_back(entry.second);
    std::sort(entries.begin(), entries.end(),
              [](const Variable &a, const Variable &b) { return a.text < b.text; });
    return fmt::format("static struct {{ char unused;{} }} ktl_G;\n", global_field_decls(entries));
}

} // namespace

std::string global_field_decls(const std::vector<Variable> &globals) {
    std::string out;
    for (const Variable &g : globals) {
        size_t at = g.text.find("ktl_G.");
        std::string field = at == std::string::npos ? g.text : g.text.substr(at + 6);
        out += fmt::format(" {} {};", c_type_name(g.type), field);
    }
    return out;
}

std::string escape_src_path(std::string_view path) {
    return escaped(path, EscapeMode::C);
}

CodegenOutput emit_program(CodegenContext &ctx, const Program &program,
                           const CodegenOptions &options) {
    MainBody main_body = compile_main_body(ctx, program);
    const FunctionFrame &main = main_body.frame;
    compile_annotated_functions(ctx, program);
    {
        FrameGuard aux(ctx, new_frame(false, std::nullopt, {}));
        emit_class_dispatchers(ctx);
    }
    emit_class_structs(ctx);
    define_library_types(ctx, program);
    std::string tables =
        class_tables_text(ctx) + fmt::format("KTL_PROG const char *ktl_src_name = \"{}\";\n",
                                             escape_src_path(options.source_path));

    CodegenOutput out;
    std::string_view runtime = runtime_text();
    std::string &c = out.c_text;
    c.reserve(runtime.size() + 4096 + ctx.definitions_text.size() + main.body.size());
    platform::advise_huge_pages(c.data(), c.capacity());
    if (options.unchecked)
        c += "#define KTL_UNCHECKED 1\n";
    if (ctx.uses_prange)
        c += "#define KTL_PARALLEL 1\n";
    if (ctx.uses_grouping)
        c += "#define KTL_GROUPING 1\n";
    c += runtime;
    c += "\n/* ======== program ======== */\n";
    c += tables;
    c += ctx.types_text;
    c += ctx.class_structs_text;
    for (const auto &[name, lib] : program.libraries) {
        c += fmt::format("\n/* ======== library {} {} ======== */\n", lib.name, lib.version);
        c += lib.header;
        c += "\n";
    }
    c += globals_struct(ctx);
    c += fmt::format(
        "KTL_PROG void ktl_register_globals(void) {{ ktl_gc_add_root(&ktl_G, sizeof ktl_G); "
        "ktl_obj_masks = ktl_class_scan; ktl_obj_nmasks = {}; }}\n",
        ctx.class_names.size());
    c += ctx.prototypes_text;
    c += ctx.deferred_prototypes_text;
    c += noinline_declarations(ctx);
    c += "\n";
    c += ctx.definitions_text;
    c += ctx.deferred_variants_text;
    c += main.hoisted;
    c += main_function_text(main_body);
    fill_output_lists(ctx, main, out);
    return out;
}

} // namespace kestal
