// The initial state of a code-generation attempt: the Program's tables, the
// class base table, and the names that must live in the globals struct.
#include "codegen/core/context.h"

#include "analysis/constants.h"
#include "analysis/walkers.h"

namespace kestal {

std::unique_ptr<CodegenContext> new_codegen_context(const Program &program) {
    auto ctx = std::make_unique<CodegenContext>();
    ctx->program = &program;
    for (const FuncDef &f : program.functions)
        ctx->functions[f.name] = &f;
    for (const ClassDef &c : program.classes)
        for (const FuncDef &m : c.methods)
            ctx->functions[c.name + "." + m.name] = &m;
    for (const ClassDef &c : program.classes) {
        ctx->classes[c.name] = &c;
        ctx->class_ids[c.name] = ctx->class_names.size();
        ctx->class_names.push_back(c.name);
        ctx->class_bases[c.name] = c.base;
        if (c.base)
            ctx->class_children[*c.base].push_back(c.name);
    }
    ctx->lambdas = &program.lambdas;
    ctx->aliases = &program.aliases;
    ctx->libraries = &program.libraries;
    for (const std::string &name : collect_function_free_names(program))
        ctx->global_names.insert(name);
    ctx->module_constants = find_module_constants(program);
    return ctx;
}

} // namespace kestal
