// Frames, variables and temporaries: the operations every lowering uses on
// the function being compiled. A read looks at the names declared `global`,
// then the frame's locals, then the module globals; a store at module level
// may create a field of the globals struct, and inside a function creates a
// local unless the name is declared `global`.
#include "codegen/core/context.h"

#include "codegen/core/ctypes.h"

#include <fmt/format.h>

#include <algorithm>

#include <stdexcept>

namespace kestal {

size_t InstanceKeyHash::operator()(const InstanceKey &k) const {
    size_t h = std::hash<std::string>{}(k.name);
    for (const Type &t : k.key_types)
        h = h * 1000003u ^ TypeHash {}(t);
    return h;
}

void internal_fault(std::string_view what) {
    throw std::logic_error(fmt::format("internal compiler fault: {}", what));
}

FunctionFrame new_frame(bool is_module_level, std::optional<InstanceKey> instance_key,
                        std::unordered_map<std::string, Type> forced_types) {
    FunctionFrame frame;
    frame.is_module_level = is_module_level;
    frame.instance_key = std::move(instance_key);
    frame.forced_types = std::move(forced_types);
    return frame;
}

const std::string *frame_function_name(const FunctionFrame &frame) {
    if (frame.host_function)
        return frame.host_function->empty() ? nullptr : &*frame.host_function;
    if (frame.is_module_level || !frame.instance_key)
        return nullptr;
    return &frame.instance_key->name;
}

void emit_line(CodegenContext &ctx, std::string_view text) {
    FunctionFrame &f = ctx.frame();
    f.body.append(4 * f.indent, ' ');
    f.body += text;
    f.body += '\n';
}

void note_list_length_change(CodegenContext &ctx) {
    ++ctx.frame().length_changes;
}

std::string fresh_temp(CodegenContext &ctx, std::string_view prefix) {
    ++ctx.temp_counter;
    return fmt::format("_{}{}", prefix, ctx.temp_counter);
}

std::optional<Variable> lookup_var(CodegenContext &ctx, const std::string &name) {
    FunctionFrame &f = ctx.frame();
    if (!f.declared_globals.count(name)) {
        auto it = f.locals.find(name);
        if (it != f.locals.end())
            return it->second;
    }
    auto g = ctx.globals.find(name);
    if (g != ctx.globals.end())
        return g->second;
    return std::nullopt;
}

std::optional<Variable> lookup_local(CodegenContext &ctx, const std::string &name) {
    FunctionFrame &f = ctx.frame();
    auto it = f.locals.find(name);
    if (f.is_module_level || f.declared_globals.count(name)) {
        if (it != f.locals.end() && !f.declared_globals.count(name))
            return it->second;
        auto g = ctx.globals.find(name);
        if (g != ctx.globals.end())
            return g->second;
        return std::nullopt;
    }
    if (it != f.locals.end())
        return it->second;
    return std::nullopt;
}

Variable declare_var(CodegenContext &ctx, const std::string &name, const Type &type) {
    ensure_type_defined(ctx, type);
    FunctionFrame &f = ctx.frame();
    bool global =
        f.is_module_level ? ctx.global_names.count(name) > 0 : f.declared_globals.count(name) > 0;
    if (global) {
        Variable var{type, "ktl_G.g_" + name};
        ctx.globals[name] = var;
        return var;
    }
    Variable var{type, "v_" + name};
    f.declared_locals.emplace_back(type, var.text);
    f.locals[name] = var;
    return var;
}

void set_return_type(CodegenContext &ctx, const Type &type) {
    ensure_type_defined(ctx, type);
    FunctionFrame &f = ctx.frame();
    f.return_type = type;
    if (f.instance_key) {
        auto it = ctx.instances.find(*f.instance_key);
        if (it == ctx.instances.end())
            internal_fault("a frame's instance is not registered");
        it->second.return_type = type;
    }
}

std::optional<Type> assign_local_type(CodegenContext &ctx, const std::string &name,
                                      const Type &declared, const Type &assigned) {
    FunctionFrame &f = ctx.frame();
    if (!f.locals.count(name))
        return std::nullopt;
    if (f.declared_globals.count(name))
        return std::nullopt;
    if (f.annotated_names.count(name))
        return std::nullopt;
    if (!name.empty() && name[0] == '%')
        return std::nullopt;
    auto joined = join_types(ctx, declared, assigned);
    if (!joined)
        return std::nullopt;
    bool int_to_float = joined->is<Type::Float>() && declared.is<Type::Int>();
    if (!joined->is<Type::Optional>() && !int_to_float)
        return std::nullopt;
    if (*joined == declared)
        return std::nullopt;
    if (!coerce_expr(ctx, "", declared, *joined))
        return std::nullopt;
    return joined;
}

std::string emit_local_decls(const std::vector<std::pair<Type, std::string>> &declared_locals,
                             const std::unordered_set<std::string> &volatile_names) {
    std::string out;
    for (const auto &[type, c_name] : declared_locals) {
        bool is_volatile = c_name.rfind("v_", 0) == 0 && volatile_names.count(c_name.substr(2));
        out += fmt::format("    {}{} {} = {{0}};\n", c_type_name(type),
                           is_volatile ? " volatile" : "", c_name);
    }
    return out;
}

std::string param_decl_list_item(const std::string &name, const Type &type,
                                 const std::unordered_set<std::string> &volatile_names,
                                 const std::unordered_set<std::string> &copied_parameters) {
    bool copied = copied_parameters.count(name) > 0;
    bool is_volatile = volatile_names.count(name) && !copied;
    return fmt::format("{}{} {}_{}", c_type_name(type), is_volatile ? " volatile" : "",
                       copied ? "p" : "v", name);
}

IndentGuard::IndentGuard(CodegenContext &ctx) : frame_(ctx.frame()), saved_(frame_.indent) {
    ++frame_.indent;
}

IndentGuard::~IndentGuard() {
    frame_.indent = saved_;
}

ScopedBinding::ScopedBinding(CodegenContext &ctx, std::string name, Variable var)
    : frame_(&ctx.frame()), name_(std::move(name)) {
    auto it = frame_->locals.find(name_);
    if (it != frame_->locals.end())
        previous_ = it->second;
    frame_->locals[name_] = std::move(var);
}

ScopedBinding::~ScopedBinding() {
    if (previous_) {
        frame_->locals[name_] = std::move(*previous_);
    } else {
        frame_->locals.erase(name_);
    }
}

FrameGuard::FrameGuard(CodegenContext &ctx, FunctionFrame frame) : ctx_(ctx) {
    ctx_.frames.push_back(std::make_unique<FunctionFrame>(std::move(frame)));
}

FrameGuard::~FrameGuard() {
    if (!popped_ && !ctx_.frames.empty())
        ctx_.frames.pop_back();
}

FunctionFrame FrameGuard::pop() {
    if (popped_ || ctx_.frames.empty())
        internal_fault("popping a frame from an empty stack");
    popped_ = true;
    FunctionFrame frame = std::move(*ctx_.frames.back());
    ctx_.frames.pop_back();
    return frame;
}

NameTypeList sorted_frame_locals(const FunctionFrame &frame) {
    NameTypeList out;
    for (const auto &[name, var] : frame.locals)
        if (name.empty() || name[0] != '%')
            out.emplace_back(name, var.type);
    // The variables of parallel-loop bodies count as the function's own;
    // a name the function has too is listed once, with its own Type.
    for (const auto &entry : frame.inner_locals)
        if (!frame.locals.count(entry.first))
            out.push_back(entry);
    // The locals map is unordered: sort its entries, so the result never
    // depends on hashing.
    std::stable_sort(out.begin(), out.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    out.erase(std::unique(out.begin(), out.end(),
                          [](const auto &a, const auto &b) { return a.first == b.first; }),
              out.end());
    return out;
}

} // namespace kestal
