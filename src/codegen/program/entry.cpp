// The code-generation entry. It checks parameter defaults and annotations,
// then runs the whole-program emitter in a fresh context. Variable and
// return widenings are settled inside the emitter by the loops that own them
// (a function instance, the main body); a class field that must widen from
// int to float is owned here: the attempt is dropped whole and the program
// generated again from an empty context with the field a float. Each field
// widens once, so a program with k such fields needs at most k + 1 attempts.
// A field that hides a class constant, first stored after code that read
// the constant for objects that may hold the field, is owned here too: the
// next attempt creates it before anything is compiled, once per field.
#include "codegen/codegen.h"

#include "analysis/analyses.h"
#include "codegen/classes/classes.h"
#include "codegen/core/widening.h"
#include "codegen/expr/expr.h"
#include "codegen/program/emit.h"

namespace kestal {

namespace {

void check_function(const ClassTable &classes, const FuncDef &f) {
    for (const Param &p : f.params) {
        if (p.default_value && !is_constant_expr(*p.default_value))
            throw_error(
                "default values must be constants (numbers, strings, bools or tuples of those)",
                p.default_value->line, p.default_value->column);
    }
    for (const Param &p : f.params)
        if (p.annotation)
            check_annotation_classes(classes, *p.annotation, f.line, f.column);
    if (f.return_type)
        check_annotation_classes(classes, *f.return_type, f.line, f.column);
}

} // namespace

CodegenOutput generate_program(const Program &program, const CodegenOptions &options) {
    ClassTable classes = class_table(program.classes);
    for (const FuncDef &f : program.functions)
        check_function(classes, f);
    for (const ClassDef &c : program.classes)
        for (const FuncDef &m : c.methods)
            check_function(classes, m);
    for (const FuncDef &l : program.lambdas)
        check_function(classes, l);
    std::map<std::pair<std::string, std::string>, Type> widened;
    std::vector<std::pair<std::string, ClassField>> early;
    for (;;) {
        std::unique_ptr<CodegenContext> ctx = new_codegen_context(program);
        ctx->field_widenings = widened;
        create_early_fields(*ctx, early);
        try {
            return emit_program(*ctx, program, options);
        } catch (WideningRequest &request) {
            auto key = std::make_pair(request.owner, request.name);
            if (request.kind == WideningRequest::Kind::EarlyField) {
                for (const auto &[cls, field] : early)
                    if (cls == request.owner && field.name == request.name)
                        internal_fault("a field created at the start was created again");
                early.push_back({request.owner, ClassField{request.name, request.wider,
                                                           request.line, request.column}});
                continue;
            }
            if (request.kind != WideningRequest::Kind::Field)
                internal_fault("a widening request escaped the frame that owns it");
            // A widening that comes back ends the compilation.
            if (widened.count(key))
                throw_error(fmt::format("can't settle the type of attribute '{}.{}'; assign it a "
                                        "float first",
                                        request.owner, request.name),
                            request.line, request.column);
            widened[key] = request.wider;
        }
    }
}

std::string compile_to_c(const Program &program, const CodegenOptions &options) {
    return generate_program(program, options).c_text;
}

} // namespace kestal
