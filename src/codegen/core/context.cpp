// The initial state of a code-generation attempt: the Program's tables,
// the names that must live in the globals struct, and the try switch.
#include "codegen/core/context.h"

#include "analysis/analyses.h"
#include "analysis/walkers.h"

namespace kestal {

namespace {

bool body_uses_try(const std::vector<Stmt> &body) {
    for (const Stmt &s : body)
        if (any_stmt_matches(is_try_stmt, s)) return true;
    return false;
}

bool program_uses_try(const Program &program) {
    if (body_uses_try(program.statements)) return true;
    for (const FuncDef &f : program.functions)
        if (body_uses_try(f.body)) return true;
    for (const ClassDef &c : program.classes)
        for (const FuncDef &m : c.methods)
            if (body_uses_try(m.body)) return true;
    return false;
}

} // namespace

std::unique_ptr<CodegenContext> new_codegen_context(const Program &program,
                                                    const std::map<FieldKey, Type> &applied) {
    auto ctx = std::make_unique<CodegenContext>();
    ctx->program = &program;
    for (const FuncDef &f : program.functions) ctx->functions[f.name] = &f;
    for (const ClassDef &c : program.classes)
        for (const FuncDef &m : c.methods) ctx->functions[c.name + "." + m.name] = &m;
    for (const ClassDef &c : program.classes) {
        ctx->classes[c.name] = &c;
        ctx->class_names.push_back(c.name);
    }
    ctx->lambdas = &program.lambdas;
    ctx->aliases = &program.aliases;
    ctx->libraries = &program.libraries;
    ctx->applied_field_widenings = applied;
    for (const std::string &name : collect_function_free_names(program)) ctx->global_names.insert(name);
    ctx->uses_try = program_uses_try(program);
    return ctx;
}

} // namespace kestal
