// Function instantiation and instance widening.
//
// One call of instantiate_function walks a list of return-Type candidates:
// the annotation (or a dunder's fixed Type, or none to infer it), then, for
// an unannotated function, five guesses. Each candidate is attempted; an
// attempt that asks for a wider variable is repeated with that variable
// forced, and one that asks for a wider return Type inserts that Type as the
// next candidate. Before any repetition or next candidate, everything the
// failed attempt instantiated is dropped again (instances and their text),
// so no callee keeps a return Type inferred from a discarded assumption.
//
// Only instances that did read such an assumption are dropped: each
// instance on the instance stack notes the lowest stack entry whose assumed
// return Type it (or an unsettled callee) read. An instance that read none
// below itself is settled when it finishes and survives every undo with its
// text, so a chain of functions that each call the previous one twice is
// compiled once per instance, not once per path through the calls.
//
// A failed instantiation that read no such assumption is remembered and
// replayed, so a failure at the bottom of a chain of recursive functions is
// met once, not once per guess of every function above it. One that read an
// assumption is not remembered: the guess that follows may well succeed.
#include "codegen/core/instances.h"

#include "analysis/analyses.h"
#include "analysis/walkers.h"
#include "codegen/core/ctypes.h"
#include "codegen/core/widening.h"
#include "codegen/optional/narrowing.h"
#include "codegen/program/recursion.h"
#include "codegen/stmt/stmt.h"

#include <algorithm>
#include <set>
#include <unordered_set>

namespace kestal {

namespace {

constexpr size_t kMaxInsertedCandidates = 8;

struct ReturnCandidate {
    std::optional<Type> return_type;
    bool is_guess = false;
};

struct Snapshot {
    size_t log_len = 0;
    size_t prototypes_len = 0;
    size_t definitions_len = 0;
};

Snapshot snapshot_instances(const CodegenContext &ctx) {
    return {ctx.instance_log.size(), ctx.prototypes_text.size(), ctx.definitions_text.size()};
}

bool is_settled(const CodegenContext &ctx, const InstanceKey &key) {
    return ctx.instance_texts.count(key) && !ctx.unsettled_instances.count(key) &&
           ctx.instances.count(key);
}

// Drops every instance registered since the snapshot (except `own` and the
// settled ones) and the text written since (except the settled ones').
void restore_snapshot(CodegenContext &ctx, const Snapshot &s, const InstanceKey &own) {
    std::vector<InstanceKey> kept;
    std::unordered_set<InstanceKey, InstanceKeyHash> seen;
    for (size_t i = s.log_len; i < ctx.instance_log.size(); ++i) {
        const InstanceKey &key = ctx.instance_log[i];
        if (key == own)
            continue;
        if (is_settled(ctx, key)) {
            if (seen.insert(key).second)
                kept.push_back(key);
            continue;
        }
        ctx.unsettled_instances.erase(key);
        ctx.instance_texts.erase(key);
        ctx.instance_locals.erase(key);
        ctx.instances.erase(key);
    }
    ctx.instance_log.resize(s.log_len);
    ctx.prototypes_text.resize(s.prototypes_len);
    ctx.definitions_text.resize(s.definitions_len);
    for (const InstanceKey &key : kept) {
        const auto &[prototype, definition] = ctx.instance_texts.at(key);
        ctx.instance_log.push_back(key);
        ctx.prototypes_text += prototype;
        ctx.definitions_text += definition;
    }
}

// Records that the instance being compiled (if any) read what the instance
// `key` returns: an assumption when `key` is still compiling or relies on
// one.
void note_return_read(CodegenContext &ctx, const InstanceKey &key) {
    if (ctx.instance_stack.empty())
        return;
    size_t &lowest = ctx.instance_stack.back().lowest_read;
    for (size_t i = ctx.instance_stack.size(); i-- > 0;) {
        if (ctx.instance_stack[i].key == key) {
            lowest = std::min(lowest, i);
            return;
        }
    }
    auto unsettled = ctx.unsettled_instances.find(key);
    if (unsettled != ctx.unsettled_instances.end())
        lowest = std::min(lowest, unsettled->second);
}

// Keeps the instance stack in step with instantiate_function, also when an
// error leaves it. The log of attempted instantiations lives as long as the
// outermost entry.
class InstanceStackEntry {
  public:
    InstanceStackEntry(CodegenContext &ctx, const InstanceKey &key) : ctx_(ctx) {
        ctx.instance_stack.push_back({key, ctx.instance_stack.size()});
    }
    ~InstanceStackEntry() {
        ctx_.instance_stack.pop_back();
        if (ctx_.instance_stack.empty())
            ctx_.attempted_log.clear();
    }
    InstanceStackEntry(const InstanceStackEntry &) = delete;
    InstanceStackEntry &operator=(const InstanceStackEntry &) = delete;

  private:
    CodegenContext &ctx_;
};

// The top instance of the stack has finished: it is settled unless it read
// an assumption below it, which its caller then relies on too. The finished
// instances that relied on its own assumption rely on what it relied on.
void settle_finished_instance(CodegenContext &ctx, const InstanceKey &key) {
    size_t index = ctx.instance_stack.size() - 1;
    size_t lowest = ctx.instance_stack.back().lowest_read;
    for (auto it = ctx.unsettled_instances.begin(); it != ctx.unsettled_instances.end();) {
        if (it->second < index) {
            ++it;
        } else if (lowest < index) {
            it->second = lowest;
            ++it;
        } else {
            it = ctx.unsettled_instances.erase(it);
        }
    }
    if (lowest < index) {
        ctx.unsettled_instances[key] = lowest;
        size_t &caller = ctx.instance_stack[index - 1].lowest_read;
        caller = std::min(caller, lowest);
    }
}

// What a compile may read that grows while the program is compiled: the
// globals and the class fields. A failure recorded with fewer of them may
// not happen again.
size_t world_size(const CodegenContext &ctx) {
    size_t size = ctx.globals.size();
    for (const auto &[cls, fields] : ctx.class_attributes)
        size += fields.size();
    return size;
}

// The instantiation of `key` has failed with `error`. When its compile read
// an assumed return Type of an instance below it (its own recursion does not
// count), the failure holds only under that assumption, and so does whatever
// its caller makes of it; otherwise it is remembered with what it attempted.
void record_failure(CodegenContext &ctx, const InstanceKey &key, const CompileError &error,
                    size_t attempted_from) {
    size_t index = ctx.instance_stack.size() - 1;
    size_t lowest = ctx.instance_stack.back().lowest_read;
    if (lowest < index) {
        size_t &caller = ctx.instance_stack[index - 1].lowest_read;
        caller = std::min(caller, lowest);
        return;
    }
    FailedInstance failure{error, ctx.recursion_marker, {}, world_size(ctx)};
    for (size_t i = attempted_from; i < ctx.attempted_log.size(); ++i)
        if (!ctx.instances.count(ctx.attempted_log[i]))
            failure.attempted.insert(ctx.attempted_log[i]);
    ctx.failed_instances[key] = std::move(failure);
}

// The remembered failure of `key`, when compiling it again now would fail
// the same way: nothing it attempted is registered now (compiling, or
// finished since) and no global or field has been created since.
const FailedInstance *replayable_failure(const CodegenContext &ctx, const InstanceKey &key) {
    auto it = ctx.failed_instances.find(key);
    if (it == ctx.failed_instances.end() || it->second.world != world_size(ctx))
        return nullptr;
    for (const InstanceKey &attempted : it->second.attempted)
        if (ctx.instances.count(attempted))
            return nullptr;
    return &it->second;
}

// Fails as compiling `key` again would: the same error and recursion marker,
// and the same instantiations attempted, as far as the callers' own failures
// are concerned.
[[noreturn]] void replay_failure(CodegenContext &ctx, const InstanceKey &key,
                                 const FailedInstance &failure) {
    if (!ctx.instance_stack.empty()) {
        ctx.attempted_log.push_back(key);
        ctx.attempted_log.insert(ctx.attempted_log.end(), failure.attempted.begin(),
                                 failure.attempted.end());
    }
    ctx.recursion_marker = failure.recursion_marker;
    throw failure.error;
}

bool is_lambda_name(const std::string &name) {
    return name.size() >= 8 && name.rfind("<lambda", 0) == 0 && name.back() == '>';
}

std::string after_last_dot(const std::string &name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

std::optional<Type> dunder_return_type(const std::string &name) {
    if (name.find('.') == std::string::npos)
        return std::nullopt;
    std::string method = after_last_dot(name);
    if (method == "__repr__" || method == "__str__")
        return Type::str();
    if (method == "__hash__" || method == "__len__")
        return Type::int_();
    if (method == "__bool__")
        return Type::bool_();
    return std::nullopt;
}

bool is_plain_return_kind(const Type &t) {
    return !(t.is<Type::None>() || t.is<Type::Optional>() || t.is<Type::NoValue>());
}

struct InstanceSetup {
    const FuncDef *def = nullptr;
    std::string name;
    std::string display;
    InstanceKey key;
    std::string c_name;
    // (name, key Type): the parameters, then the captured variables.
    NameTypeList variables;
};

FunctionFrame open_instance_frame(CodegenContext &ctx, const InstanceSetup &s,
                                  const std::optional<Type> &candidate,
                                  const std::unordered_map<std::string, Type> &forced) {
    const FuncDef &def = *s.def;
    FunctionFrame frame = new_frame(false, s.key, forced);
    frame.return_type = candidate;
    frame.return_annotated = def.return_type.has_value();
    if (size_t dot = s.name.find('.'); !is_lambda_name(s.name) && dot != std::string::npos)
        frame.method_class = s.name.substr(0, dot);
    PathSet volatile_paths;
    collect_try_assigned_names(def.body, volatile_paths);
    frame.volatile_names.insert(volatile_paths.begin(), volatile_paths.end());
    std::set<std::string> globals;
    collect_global_declarations(def.body, globals);
    frame.declared_globals.insert(globals.begin(), globals.end());
    // A lambda's captured variables are bound once, like its parameters.
    std::vector<Param> bound = def.params;
    for (size_t i = def.params.size(); i < s.variables.size(); ++i)
        bound.push_back(Param{std::nullopt, s.variables[i].first, std::nullopt});
    PathSet single = analyse_body_assignments(def.body, bound);
    frame.single_assignment_names.insert(single.begin(), single.end());
    for (const auto &[var, key_type] : s.variables) {
        std::string text = "v_" + var;
        auto forced_it = frame.forced_types.find(var);
        if (forced_it != frame.forced_types.end() && !(forced_it->second == key_type)) {
            const Type &wide = forced_it->second;
            ensure_type_defined(ctx, wide);
            auto converted = coerce_expr(ctx, "p_" + var, key_type, wide);
            if (!converted)
                internal_fault("a forced parameter Type does not convert");
            frame.body += fmt::format("    v_{} = {};\n", var, *converted);
            frame.declared_locals.emplace_back(wide, text);
            frame.locals[var] = Variable{wide, text};
            frame.copied_parameters.insert(var);
        } else if (frame.volatile_names.count(var)) {
            // A parameter that a `try` body assigns and a handler may read
            // lives in a volatile local: gcc gives a handler the value a
            // volatile parameter had on entry.
            frame.body += fmt::format("    v_{0} = p_{0};\n", var);
            frame.declared_locals.emplace_back(key_type, text);
            frame.locals[var] = Variable{key_type, text};
            frame.copied_parameters.insert(var);
        } else {
            frame.locals[var] = Variable{key_type, text};
        }
    }
    return frame;
}

// One attempt with a candidate, repeated while it asks for wider variables;
// before a repetition, everything the failed attempt instantiated is dropped.
namespace {

// Whether an expression calls nothing, not even a special method: literals
// and the int, float and bool parameters in `scalars`, joined by operators.
bool calls_nothing(const Expr &e, const std::unordered_set<std::string> &scalars) {
    if (e.is<Expr::Int>() || e.is<Expr::Float>() || e.is<Expr::Bool>())
        return true;
    if (const auto *n = e.as<Expr::Name>())
        return scalars.count(n->name) > 0;
    if (const auto *u = e.as<Expr::Unary>())
        return calls_nothing(*u->operand, scalars);
    if (const auto *b = e.as<Expr::BinaryOp>())
        return b->op != BinOp::In && b->op != BinOp::NotIn && calls_nothing(*b->left, scalars) &&
               calls_nothing(*b->right, scalars);
    return false;
}

// The number of leading statements of a body that are base cases calling
// nothing: `if` statements on the int, float and bool parameters whose
// branches only return such values. A recursive instance checks its depth
// after them, so a call that ends there pays nothing, and every call that
// goes on still passes the check.
size_t leading_base_cases(const InstanceSetup &s) {
    std::unordered_set<std::string> scalars;
    for (size_t i = 0; i < s.def->params.size() && i < s.variables.size(); ++i) {
        const Type &t = s.variables[i].second;
        if (t.is<Type::Int>() || t.is<Type::Float>() || t.is<Type::Bool>())
            scalars.insert(s.variables[i].first);
    }
    auto returns_only = [&](const std::vector<Stmt> &body) {
        if (body.size() != 1)
            return false;
        const auto *r = body[0].as<Stmt::Return>();
        return r && (!r->value || calls_nothing(*r->value, scalars));
    };
    size_t count = 0;
    for (const Stmt &stmt : s.def->body) {
        const auto *i = stmt.as<Stmt::If>();
        if (!i || (i->else_body && !returns_only(*i->else_body)))
            break;
        bool plain = std::all_of(i->branches.begin(), i->branches.end(), [&](const IfBranch &b) {
            return calls_nothing(b.condition, scalars) && returns_only(b.body);
        });
        if (!plain)
            break;
        ++count;
    }
    return count;
}

// The dataclass `__repr__` first marks its object in progress, or gives
// "..." when a repr of the object is already running; every return unmarks
// it once its text is built (a cleanup entry of the whole body). An
// exception leaving the body is unmarked by the `try` that catches it.
void begin_repr_guard(CodegenContext &ctx) {
    auto self = ctx.frame().locals.find("self");
    if (self == ctx.frame().locals.end())
        internal_fault("a guarded __repr__ without a self parameter");
    emit_line(ctx, "if (ktl_repr_enter({})) return {};", self->second.text, c_str_literal("..."));
    ctx.frame().cleanup_lines.push_back(Cleanup{"ktl_repr_leave();"});
}

} // namespace

FunctionFrame attempt_candidate(CodegenContext &ctx, const InstanceSetup &s,
                                const std::optional<Type> &candidate, const Snapshot &snapshot) {
    size_t base_cases = leading_base_cases(s);
    auto attempt = [&](const ForcedTypes &forced) {
        ctx.instances[s.key].return_type = candidate;
        FrameGuard guard(ctx, open_instance_frame(ctx, s, candidate, forced));
        if (s.def->guards_repr)
            begin_repr_guard(ctx);
        ctx.frame().recursion_base_from = ctx.frame().body.size();
        for (size_t i = 0; i < s.def->body.size(); ++i) {
            if (i == base_cases)
                ctx.frame().recursion_check_at = ctx.frame().body.size();
            compile_stmt(ctx, s.def->body[i]);
        }
        if (base_cases >= s.def->body.size())
            ctx.frame().recursion_check_at = ctx.frame().body.size();
        return guard.pop();
    };
    return compile_with_forced_variables(attempt, [&] { restore_snapshot(ctx, snapshot, s.key); });
}

void finish_instance(CodegenContext &ctx, const InstanceSetup &s, const Type &r,
                     const FunctionFrame &frame) {
    // The return Type may be one no attempt has defined yet: a widened
    // candidate (an int return joined with None) is only named, never built.
    ensure_type_defined(ctx, r);
    ctx.instances[s.key].return_type = r;
    ctx.instances[s.key].changes_lengths = frame.length_changes > 0;
    ctx.instance_locals[s.key] = sorted_frame_locals(frame);
    std::vector<std::string> params;
    for (const auto &[var, key_type] : s.variables)
        params.push_back(
            param_decl_list_item(var, key_type, frame.volatile_names, frame.copied_parameters));
    std::string param_text = params.empty() ? "void" : fmt::format("{}", fmt::join(params, ", "));
    std::string head = fmt::format("static {} {}({})", c_type_name(r), s.c_name, param_text);
    std::string prototype = head + ";\n";
    std::string body = frame.body;
    std::string locals = emit_local_decls(frame.declared_locals, frame.volatile_names);
    std::string wrapper;
    if (may_recurse(ctx, s.name)) {
        // A macro of the instance's own name makes every call site a plain
        // call and wraps the call (see the runtime's recursion checks).
        // The arguments are passed as plain __VA_ARGS__, never `##`, which
        // would leave them unexpanded: a call of the same function nested in
        // them would then name the bare function. A function without
        // parameters gets a macro without them.
        bool has_params = !params.empty();
        std::string type = c_type_name(r);
        size_t check_at = std::min(frame.recursion_check_at, body.size());
        size_t base_from = std::min(frame.recursion_base_from, check_at);
        // Leading base cases are also written into an inline wrapper that
        // calls the instance only past them; under clang (KTL_RSPLIT) the
        // calls go through it, so a call that would end in a base case is
        // no call at all, and the instance itself skips them. Such an
        // instance keeps its calls calls and checks the stack position
        // under both compilers; any other takes its recursion depth first,
        // and its macro passes the caller's depth plus one (the constant -1
        // outside such instances, so their calls pass 0).
        bool split = base_from < check_at;
        std::vector<std::string> args;
        if (!split) {
            args.push_back("ktl_dp");
            params.insert(params.begin(), "int64_t ktl_dp");
        }
        for (const auto &[var, key_type] : s.variables)
            args.push_back((frame.copied_parameters.count(var) ? "p_" : "v_") + var);
        std::string param_list =
            params.empty() ? "void" : fmt::format("{}", fmt::join(params, ", "));
        std::string callee = split ? fmt::format("KTL_RSPLIT_CALL(w{0}, r{0})", s.c_name)
                                   : fmt::format("r{}", s.c_name);
        head = fmt::format("static {}{} r{}({})", split ? "KTL_RBODY " : "", type, s.c_name,
                           param_list);
        std::string call = split ? fmt::format("{}({})", callee, has_params ? "__VA_ARGS__" : "")
                           : has_params ? fmt::format("{}(ktl_dp + 1, __VA_ARGS__)", callee)
                                        : fmt::format("{}(ktl_dp + 1)", callee);
        std::string kept = split ? "_KEPT" : "";
        std::string wrapped = r.is<Type::NoValue>()
                                  ? fmt::format("KTL_RCALL{}_NONE({})", kept, call)
                                  : fmt::format("KTL_RCALL{}({}, {})", kept, type, call);
        std::string wrapper_head =
            split ? fmt::format("static inline {} w{}({})", type, s.c_name, param_list) : "";
        prototype =
            fmt::format("{};\n{}#define {}({}) {}\n", head, split ? wrapper_head + ";\n" : "",
                        s.c_name, has_params ? "..." : "", wrapped);
        if (split) {
            std::string pass = fmt::format("r{}({})", s.c_name, fmt::join(args, ", "));
            wrapper =
                fmt::format("{} {{\n{}{}    {}{};\n}}\n\n", wrapper_head, locals,
                            body.substr(0, check_at), r.is<Type::NoValue>() ? "" : "return ", pass);
            body = body.substr(0, base_from) + "#if !KTL_RSPLIT\n" +
                   body.substr(base_from, check_at - base_from) + "#endif\n" +
                   "    KTL_STACK_CHECK();\n" + body.substr(check_at);
        } else {
            body.insert(check_at, "    KTL_RECURSION_CHECK();\n");
        }
    }
    std::string def = frame.hoisted + head + " {\n" + locals + body;
    if (!r.is<Type::NoValue>())
        def += fmt::format("    return ({}){{0}};\n", c_type_name(r));
    def += "}\n\n" + wrapper;
    ctx.prototypes_text += prototype;
    ctx.definitions_text += def;
    ctx.instance_texts[s.key] = {std::move(prototype), std::move(def)};
    settle_finished_instance(ctx, s.key);
}

InstanceSetup prepare_instance(CodegenContext &ctx, const std::string &name,
                               const std::vector<Type> &arg_types, const NameTypeList &captures,
                               uint64_t line, uint64_t column, std::vector<Type> &param_keys) {
    InstanceSetup s;
    s.name = name;
    s.display = function_display_name(name);
    if (is_lambda_name(name)) {
        size_t index = std::stoull(name.substr(7, name.size() - 8));
        if (index >= ctx.lambdas->size())
            internal_fault("a lambda index out of range");
        s.def = &(*ctx.lambdas)[index];
    } else {
        auto it = ctx.functions.find(name);
        if (it == ctx.functions.end())
            internal_fault("instantiating an unknown function");
        s.def = it->second;
    }
    const FuncDef &def = *s.def;
    if (arg_types.size() != def.params.size()) {
        throw_error(fmt::format("{}() takes {} argument{} but {} were given", s.display,
                                def.params.size(), def.params.size() == 1 ? "" : "s",
                                arg_types.size()),
                    line, column);
    }
    for (size_t i = 0; i < def.params.size(); ++i) {
        const Param &p = def.params[i];
        Type key = arg_types[i];
        if (p.annotation) {
            if (!coerce_expr(ctx, "", arg_types[i], *p.annotation))
                throw_error(fmt::format("argument '{}' of {}() must be {}, not {}", p.name,
                                        s.display, *p.annotation, arg_types[i]),
                            line, column);
            key = *p.annotation;
        }
        if (key.is<Type::NoValue>())
            throw_error(fmt::format("argument '{}' of {}() has no value", p.name, s.display), line,
                        column);
        param_keys.push_back(key);
        s.variables.emplace_back(p.name, key);
    }
    s.key.name = name;
    s.key.key_types = param_keys;
    for (const auto &[cap, type] : captures) {
        s.key.key_types.push_back(type);
        s.variables.emplace_back(cap, type);
    }
    std::string codes;
    for (const Type &t : s.key.key_types)
        codes += type_code(t);
    if (is_lambda_name(name)) {
        s.c_name = fmt::format("lam{}__{}", name.substr(7, name.size() - 8), codes);
    } else {
        std::string mangled;
        for (char c : name) {
            if (c == '.') {
                mangled += "_M_";
            } else {
                mangled += c;
            }
        }
        s.c_name = fmt::format("f_{}__{}", mangled, codes);
    }
    return s;
}

InstanceResult run_candidates(CodegenContext &ctx, const InstanceSetup &s,
                              const std::vector<Type> &param_keys);

// A call of an instance that may change the length of a list, or whose body
// is still being compiled (a recursive call), counts as such a change in the
// calling frame.
void note_callee_length_changes(CodegenContext &ctx, const InstanceKey &key) {
    if (ctx.frames.empty())
        return;
    auto it = ctx.instances.find(key);
    if (it == ctx.instances.end() || it->second.changes_lengths.value_or(true))
        ++ctx.frame().length_changes;
}

} // namespace

std::string function_display_name(const std::string &name) {
    if (name.rfind("<lambda", 0) == 0)
        return "<lambda>";
    return after_last_dot(name);
}

namespace {

// A function already being compiled in this many versions, each for other
// argument Types, that asks for yet another from inside them calls itself
// with a new Type each time (`f([x])` in f): the versions would never end.
constexpr size_t kMaxNestedVersions = 16;

void refuse_endless_versions(const CodegenContext &ctx, const InstanceSetup &s, uint64_t line,
                             uint64_t column) {
    size_t open = 0;
    for (const auto &entry : ctx.instance_stack)
        open += entry.key.name == s.key.name;
    if (open < kMaxNestedVersions)
        return;
    std::vector<std::string> types;
    for (const auto &[name, type] : s.variables)
        types.push_back(fmt::format("{}: {}", name, type));
    throw_error(fmt::format("{}() calls itself with a new argument Type each time (now {}), so "
                            "it would need endless versions; annotate its parameters",
                            s.display, fmt::join(types, ", ")),
                line, column);
}

} // namespace

InstanceResult instantiate_function(CodegenContext &ctx, const std::string &name,
                                    const std::vector<Type> &arg_types,
                                    const NameTypeList &captures, uint64_t line, uint64_t column) {
    forget_attribute_facts(ctx, name);
    std::vector<Type> param_keys;
    InstanceSetup s = prepare_instance(ctx, name, arg_types, captures, line, column, param_keys);
    const FuncDef &def = *s.def;

    auto existing = ctx.instances.find(s.key);
    if (existing != ctx.instances.end()) {
        note_return_read(ctx, s.key);
        if (!existing->second.return_type) {
            ctx.recursion_marker = s.key;
            throw_error(
                fmt::format("can't infer what recursive function '{}' returns at this point; "
                            "annotate it, e.g. `def {}(...) -> int:`",
                            s.display, s.display),
                line, column);
        }
        note_callee_length_changes(ctx, s.key);
        return {*existing->second.return_type, existing->second.c_name, param_keys};
    }

    refuse_endless_versions(ctx, s, line, column);
    if (const FailedInstance *failure = replayable_failure(ctx, s.key))
        replay_failure(ctx, s.key, *failure);
    ctx.failed_instances.erase(s.key);

    ctx.instances[s.key] = InstanceInfo{def.return_type, s.c_name};
    ctx.instance_log.push_back(s.key);
    ctx.attempted_log.push_back(s.key);
    size_t attempted_from = ctx.attempted_log.size();
    if (def.return_type)
        ensure_type_defined(ctx, *def.return_type);
    for (const auto &var : s.variables)
        ensure_type_defined(ctx, var.second);

    InstanceStackEntry entry(ctx, s.key);
    try {
        InstanceResult result = run_candidates(ctx, s, param_keys);
        note_callee_length_changes(ctx, s.key);
        return result;
    } catch (CompileError &error) {
        // Leave no half-registered instance behind for the caller's retries.
        ctx.instances.erase(s.key);
        record_failure(ctx, s.key, error, attempted_from);
        throw;
    } catch (...) {
        ctx.instances.erase(s.key);
        throw;
    }
}

namespace {

// The candidate loop: one piece, because its undo rules and limits are one
// protocol, easier to check when read together.
InstanceResult run_candidates(CodegenContext &ctx, const InstanceSetup &s,
                              const std::vector<Type> &param_keys) {
    const FuncDef &def = *s.def;
    const std::string &name = s.name;
    std::vector<ReturnCandidate> candidates;
    candidates.push_back({def.return_type ? def.return_type : dunder_return_type(name), false});
    if (!def.return_type) {
        for (const Type *t :
             {&Type::no_value(), &Type::int_(), &Type::float_(), &Type::str(), &Type::bool_()})
            candidates.push_back({*t, true});
    }
    size_t inserted = 0;
    std::optional<CompileError> final_error;
    // An error met under two different guesses does not come from either
    // guess: it is the one to report, rather than the recursion that made
    // the guesses necessary.
    std::vector<CompileError> guess_errors;
    std::optional<CompileError> repeated_error;

    for (size_t i = 0; i < candidates.size(); ++i) {
        ReturnCandidate candidate = candidates[i];
        Snapshot snapshot = snapshot_instances(ctx);
        ctx.recursion_marker.reset();
        std::optional<WideningRequest> wider;
        try {
            FunctionFrame frame = attempt_candidate(ctx, s, candidate.return_type, snapshot);
            Type r = frame.return_type ? *frame.return_type : Type::no_value();
            if (is_plain_return_kind(r) && !block_never_completes(def.body)) {
                if (def.return_type)
                    throw_error(
                        fmt::format("{}() can reach its end without a return (then Python "
                                    "returns None); add a return, or annotate it `-> {} | None`",
                                    s.display, r),
                        def.line, def.column);
                throw return_widening(make_optional(r), def.line, def.column);
            }
            finish_instance(ctx, s, r, frame);
            return {r, s.c_name, param_keys};
        } catch (WideningRequest &request) {
            if (request.kind != WideningRequest::Kind::Return)
                throw;
            wider = std::move(request);
        } catch (CompileError &e) {
            bool own_recursion = ctx.recursion_marker && *ctx.recursion_marker == s.key;
            if (!own_recursion && !candidate.is_guess)
                throw;
            if (!final_error)
                final_error = e;
            if (candidate.is_guess && !repeated_error) {
                auto same = [&](const CompileError &other) {
                    return other.message == e.message && other.line == e.line &&
                           other.column == e.column;
                };
                if (std::any_of(guess_errors.begin(), guess_errors.end(), same))
                    repeated_error = e;
                else
                    guess_errors.push_back(e);
            }
        }
        restore_snapshot(ctx, snapshot, s.key);
        if (!wider)
            continue;
        if (inserted < kMaxInsertedCandidates) {
            auto next = candidates.begin() + static_cast<std::ptrdiff_t>(i) + 1;
            next = candidates.insert(next, ReturnCandidate{wider->wider, false});
            ++inserted;
            // Under the guess that nothing is returned, `return f(n - 1)`
            // returns nothing too, so a later `return n` asks for int | None
            // though no None may be returned at all: int is tried first.
            const auto *optional = wider->wider.as<Type::Optional>();
            if (candidate.is_guess && candidate.return_type->is<Type::NoValue>() && optional &&
                inserted < kMaxInsertedCandidates) {
                candidates.insert(next, ReturnCandidate{*optional->inner, true});
                ++inserted;
            }
        } else if (!final_error) {
            final_error = error_at(fmt::format("can't settle what {}() returns; annotate it, e.g. "
                                               "`def {}(...) -> {}:`",
                                               s.display, s.display, wider->wider),
                                   wider->line, wider->column);
        }
    }
    throw repeated_error ? *repeated_error : *final_error;
}

} // namespace

} // namespace kestal
