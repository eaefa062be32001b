// The code-generation entry. It checks parameter defaults and annotations,
// refills the thread's class base table, and runs generation attempts, each
// in a fresh context: an attempt that fails because an int class attribute
// received a float records that widening and the whole program is generated
// again with the attribute a float from its creation. A widening that comes
// back ends the compilation with the attempt's error.
#include "codegen/codegen.h"

#include "codegen/classes/classes.h"
#include "codegen/expr/expr.h"
#include "analysis/analyses.h"
#include "codegen/core/emit.h"

namespace kestal {

namespace {

void check_function(const Program &program, const FuncDef &f) {
    for (const Param &p : f.params) {
        if (p.default_value && !is_constant_expr(*p.default_value))
            throw_error("default values must be constants (numbers, strings, bools or tuples of those)",
                        p.default_value->line, p.default_value->column);
    }
    for (const Param &p : f.params)
        if (p.annotation) check_annotation_classes(program.classes, *p.annotation, f.line, f.column);
    if (f.return_type) check_annotation_classes(program.classes, *f.return_type, f.line, f.column);
}

} // namespace

CodegenOutput generate_program(const Program &program, const CodegenOptions &options) {
    set_class_bases(program);
    for (const FuncDef &f : program.functions) check_function(program, f);
    for (const ClassDef &c : program.classes)
        for (const FuncDef &m : c.methods) check_function(program, m);
    std::map<FieldKey, Type> applied;
    for (;;) {
        std::unique_ptr<CodegenContext> ctx = new_codegen_context(program, applied);
        try {
            return emit_program(*ctx, program, options);
        } catch (CompileError &) {
            auto request = std::move(ctx->pending_field_widening);
            ctx->pending_field_widening.reset();
            if (!request || applied.count(*request)) throw;
            applied[*request] = Type::float_();
        }
    }
}

std::string compile_to_c(const Program &program, const CodegenOptions &options) {
    return generate_program(program, options).c_text;
}

} // namespace kestal
