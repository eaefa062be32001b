// Classes as the lowerings need them (the ancestry queries and class
// declaration are in core/class_table.h, which this header passes on):
// fields, and the class section of the C file: the dispatch functions of
// every declared class, the exception-text switch, the class structs and the tables of class
// names and base ids that the runtime reads (`ktl_class_name`, `ktl_isa`,
// `ktl_exc_text`).
//
// Objects, fields and attribute reads live in objects.cpp; method calls,
// dispatch by class id and super() in methods.cpp; isinstance() and
// type(x).__name__ in introspection.cpp.
#pragma once

#include "codegen/core/class_table.h"
#include "codegen/core/context.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestal {

// Calls `method` on the receiver (typed as `cls`) when the class's chain
// defines it: none when it does not, else the call, dispatched by class id
// over the subclasses that override it. Throws the CompileError of
// compiling it; line 0 (a call the class section makes, not the program)
// reports it at the method's definition.
std::optional<CompiledExpr> call_dunder_if_defined(CodegenContext &ctx, const std::string &receiver,
                                                   const std::string &cls,
                                                   const std::string &method,
                                                   const std::vector<CompiledExpr> &args,
                                                   uint64_t line, uint64_t column);
// True when the class or any class below it resolves the method.
bool subtree_defines(CodegenContext &ctx, const std::string &cls, const std::string &method);
// The C text of the receiver's class, for the classes of a subtree that
// lack a special method: given the held receiver (typed as the static
// class) and the held arguments, the bool text to use instead.
using DunderFallback =
    std::function<std::string(const std::string &, const std::vector<CompiledExpr> &)>;
// A special method with a truth result that the static class may lack but
// classes below it define: a switch on the receiver's class id, each class
// calling its own method or taking the fallback. Receiver and arguments
// are evaluated once, in order. Line 0 reports errors at the method.
std::string dunder_truth_in_subtree(CodegenContext &ctx, const std::string &receiver,
                                    const std::string &cls, const std::string &method,
                                    const std::vector<CompiledExpr> &args,
                                    const DunderFallback &fallback, uint64_t line, uint64_t column);
// The usual lowering of an operator over two held operands.
using OperandsLowering = std::function<CompiledExpr(const CompiledExpr &, const CompiledExpr &)>;
// An operator over two objects where the right object's class may be a
// proper subclass of the left one's that provides the reflected method:
// Python calls that method first, so a switch on the right object's class
// id does, and every other pair takes the usual lowering. None when no
// classes of the two static subtrees allow it, so such operators cost
// nothing more. A comparison's result is a bool truth value. Both
// operands are evaluated once, in order; line 0 reports errors at the
// method.
std::optional<CompiledExpr> reflected_first(CodegenContext &ctx, const CompiledExpr &left,
                                            const CompiledExpr &right, const std::string &reflected,
                                            bool comparison, const OperandsLowering &usual,
                                            uint64_t line, uint64_t column);
// Where the special method the class resolves is defined.
std::pair<uint64_t, uint64_t> special_method_position(const CodegenContext &ctx,
                                                      const std::string &cls,
                                                      const std::string &method);

// ---- Fields and objects (objects.cpp) ----

// The field's Type on the class's chain (the class first), or none.
std::optional<Type> lookup_class_field_type(const CodegenContext &ctx, const std::string &cls,
                                            const std::string &field);
std::optional<std::string> first_class_with_field(const CodegenContext &ctx,
                                                  const std::vector<std::string> &chain,
                                                  const std::string &field);
// The expression of the first class-level constant of that name on the
// chain, or null.
const Expr *first_class_constant(const CodegenContext &ctx, const std::vector<std::string> &chain,
                                 const std::string &name);
// The constant compiled afresh; none when the chain has none of that name.
// Throws when its expression is not a constant.
std::optional<CompiledExpr> compile_class_constant(CodegenContext &ctx, const std::string &cls,
                                                   const std::string &name);
// Compiles the `__init__` the class uses ahead of its first call when all
// its parameters are annotated; true when it compiled it now. Throws the
// CompileError of that compilation.
bool ensure_init_compiled(CodegenContext &ctx, const std::string &cls, uint64_t line,
                          uint64_t column);
// The Type a store of `value` into `obj.field` (obj of static class `cls`)
// converts to: creates the field at its first store. Throws a Field
// widening request when an int field receives a float, and a CompileError
// for any other mismatch.
Type declare_field(CodegenContext &ctx, const std::string &cls, const std::string &field,
                   const Type &value, uint64_t line, uint64_t column);
CompiledExpr compile_constructor_call(CodegenContext &ctx, const std::string &cls,
                                      const std::vector<Expr> &args,
                                      const std::vector<Keyword> &kwargs, uint64_t line,
                                      uint64_t column);
// Creates, before anything is compiled, the fields (class, field) an
// earlier attempt found hiding a class constant, each with its Type (or
// the wider one the attempt's field widenings give).
void create_early_fields(CodegenContext &ctx,
                         const std::vector<std::pair<std::string, ClassField>> &fields);
// The stores a new object of class `cls` (C text `object`, typed as cls)
// starts with: each field of its chain that hides a class constant gets
// the constant cls sees, when it converts to the field's Type. Notes the
// constants the class's objects take as no field hides them yet.
std::string hidden_constant_defaults(CodegenContext &ctx, const std::string &object,
                                     const std::string &cls);
// A field or class constant read through an object; throws the error that
// explains a missing attribute.
CompiledExpr compile_attribute_read(CodegenContext &ctx, const std::string &object,
                                    const std::string &cls, const std::string &attr, uint64_t line,
                                    uint64_t column);

// ---- Methods (methods.cpp) ----

// The text unchanged when the classes are the same, else cast to the owner.
std::string cast_to_owner(const std::string &text, const std::string &cls,
                          const std::string &owner);
// Calls `owner.method` with the receiver (typed as owner) first.
CompiledExpr call_method_function(CodegenContext &ctx, const std::string &owner,
                                  const std::string &method, const std::string &receiver,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  uint64_t line, uint64_t column);
// The same, with the class guard of a comparison the dataclass decorator
// wrote.
CompiledExpr call_resolved_method(CodegenContext &ctx, const std::string &owner,
                                  const std::string &method, const std::string &receiver,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  uint64_t line, uint64_t column);
// obj.method(args) on a receiver of static class `cls`: a direct call, or a
// switch on the class id when a subclass overrides the method.
CompiledExpr compile_object_method_call(CodegenContext &ctx, const std::string &receiver,
                                        const std::string &cls, const std::string &method,
                                        const std::vector<Expr> &args,
                                        const std::vector<Keyword> &kwargs, uint64_t line,
                                        uint64_t column);
// super().method(args) inside a method: resolved statically from the base
// of the method's class.
CompiledExpr compile_super_call(CodegenContext &ctx, const std::string &method,
                                const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                uint64_t line, uint64_t column);

// ---- isinstance() and type() (introspection.cpp) ----

CompiledExpr compile_isinstance(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                                uint64_t column);
CompiledExpr compile_type_name(CodegenContext &ctx, const Expr &x);

// The class section steps of whole-program emission.
void emit_class_dispatchers(CodegenContext &ctx);
void emit_class_structs(CodegenContext &ctx);
std::string class_tables_text(const CodegenContext &ctx);

} // namespace kestal
