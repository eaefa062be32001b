// Classes as every part of the code generator sees them: ancestry queries
// over the context's table of bases and class ids, and class declaration
// (the typedef and the prototypes of the six per-class functions). The class
// section of the C file and the lowerings of objects, methods and
// introspection live in classes/, above.
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

} // namespace kestal
