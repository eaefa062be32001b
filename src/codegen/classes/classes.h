// Classes as the code-generation core needs them: the class-id rule, the
// ancestry queries over the context's table of bases, class declaration
// (typedef and the prototypes of the six per-class functions), fields, and
// the class section of the C file: the dispatch functions of every declared
// class, the exception-text switch, the class structs and the tables of class
// names and base ids that the runtime reads (`ktl_class_name`, `ktl_isa`,
// `ktl_exc_text`).
//
// Classes have no fields yet: attribute stores are refused, so every struct
// holds the class id (and an exception's texts) only.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

// [the class, its base, the base's base, ...]; a name that is no class gives
// itself alone.
std::vector<std::string> class_ancestors(const CodegenContext &ctx, const std::string &name);
bool is_subclass_of(const CodegenContext &ctx, const std::string &name,
                    const std::string &ancestor);
std::optional<std::string> common_base_class(const CodegenContext &ctx, const std::string &a,
                                             const std::string &b);
// Every class whose ancestor chain holds `name`, in class-id order.
std::vector<std::string> subclasses_of(const CodegenContext &ctx, const std::string &name);
// The class's index in the context's class names; a missing name is an
// internal fault.
size_t class_id(const CodegenContext &ctx, const std::string &name);
// The first class of the chain whose ClassDef defines the method.
std::optional<std::string> first_class_defining_method(const CodegenContext &ctx,
                                                       const std::vector<std::string> &chain,
                                                       const std::string &method);
bool is_exception_class(const CodegenContext &ctx, const std::string &name);

// Writes the class's typedef and prototypes once, then declares its base.
void declare_class(CodegenContext &ctx, const std::string &name);
// Calls `method` on the receiver when the class's chain defines it: none
// when it does not, else the call. Throws the CompileError of compiling it;
// line 0 (a call the class section makes, not the program) reports it at
// the method's definition.
std::optional<CompiledExpr> call_dunder_if_defined(CodegenContext &ctx, const std::string &receiver,
                                                   const std::string &cls,
                                                   const std::string &method,
                                                   const std::vector<CompiledExpr> &args,
                                                   uint64_t line, uint64_t column);

// The class section steps of whole-program emission.
void emit_class_dispatchers(CodegenContext &ctx);
void emit_class_structs(CodegenContext &ctx);
std::string class_tables_text(const CodegenContext &ctx);

} // namespace kestal
