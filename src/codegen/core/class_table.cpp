// Class ancestry over the context's table of bases, and class declaration.
#include "codegen/core/class_table.h"

#include <fmt/format.h>

#include <algorithm>

namespace kestal {

std::vector<std::string> class_ancestors(const CodegenContext &ctx, const std::string &name) {
    std::vector<std::string> chain = {name};
    for (;;) {
        auto it = ctx.class_bases.find(chain.back());
        if (it == ctx.class_bases.end() || !it->second)
            break;
        // A cycle cannot come from the parser (a base is defined earlier);
        // stop anyway rather than loop: a chain without one is never longer
        // than the table.
        if (chain.size() > ctx.class_bases.size())
            break;
        chain.push_back(*it->second);
    }
    return chain;
}

bool is_subclass_of(const CodegenContext &ctx, const std::string &name,
                    const std::string &ancestor) {
    auto chain = class_ancestors(ctx, name);
    return std::find(chain.begin(), chain.end(), ancestor) != chain.end();
}

std::optional<std::string> common_base_class(const CodegenContext &ctx, const std::string &a,
                                             const std::string &b) {
    auto other = class_ancestors(ctx, b);
    for (const std::string &c : class_ancestors(ctx, a))
        if (std::find(other.begin(), other.end(), c) != other.end())
            return c;
    return std::nullopt;
}

// Walks the subtree down the child lists, so a query costs the size of the
// subtree, not the number of classes; the walk goes level by level, so the
// result is sorted into class-id order afterwards.
std::vector<std::string> subclasses_of(const CodegenContext &ctx, const std::string &name) {
    if (!ctx.class_ids.count(name))
        return {};
    std::vector<std::string> out = {name};
    for (size_t i = 0; i < out.size(); ++i) {
        auto children = ctx.class_children.find(out[i]);
        if (children != ctx.class_children.end())
            out.insert(out.end(), children->second.begin(), children->second.end());
    }
    std::sort(out.begin() + 1, out.end(), [&](const std::string &a, const std::string &b) {
        return ctx.class_ids.at(a) < ctx.class_ids.at(b);
    });
    return out;
}

size_t class_id(const CodegenContext &ctx, const std::string &name) {
    auto it = ctx.class_ids.find(name);
    if (it == ctx.class_ids.end())
        internal_fault("a class id asked for a name that is no class");
    return it->second;
}

std::optional<std::string> first_class_defining_method(const CodegenContext &ctx,
                                                       const std::vector<std::string> &chain,
                                                       const std::string &method) {
    for (const std::string &c : chain) {
        auto it = ctx.classes.find(c);
        if (it == ctx.classes.end())
            internal_fault("no entry found for key");
        for (const FuncDef &m : it->second->methods)
            if (m.name == method)
                return c;
    }
    return std::nullopt;
}

bool is_exception_class(const CodegenContext &ctx, const std::string &name) {
    return is_subclass_of(ctx, name, "BaseException");
}

void declare_class(CodegenContext &ctx, const std::string &name) {
    if (ctx.declared_classes.count(name))
        return;
    auto it = ctx.classes.find(name);
    if (it == ctx.classes.end())
        internal_fault("declaring a class the program does not have");
    ctx.declared_classes.insert(name);
    ctx.types_text += fmt::format("typedef struct C_{0} C_{0};\n", name);
    ctx.types_text += fmt::format(
        "static void ktl_print_O{0}{1}(C_{1} *o); static void ktl_repr_O{0}{1}(C_{1} *o); static "
        "bool "
        "O{0}{1}_eq(C_{1} *a, C_{1} *b); static int O{0}{1}_cmp(C_{1} *a, C_{1} *b); static bool "
        "O{0}{1}_lt(C_{1} *a, C_{1} *b); static bool ktl_truthy_O{0}{1}(C_{1} *o);\n",
        name.size(), name);
    ctx.types_text +=
        fmt::format("static inline bool O{0}{1}_item_eq(C_{1} *a, C_{1} *b) {{ return "
                    "a == b || O{0}{1}_eq(a, b); }}\n",
                    name.size(), name);
    if (it->second->base)
        declare_class(ctx, *it->second->base);
}

} // namespace kestal
