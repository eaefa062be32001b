// The state of one code-generation attempt: the CodegenContext with the
// Program's tables, the class and C-type state that grows while C is written,
// the stack of FunctionFrames (the top one is the function being compiled),
// the function-instance table, the module globals and the output buffers
// from which the C file is assembled. A Type found too narrow is not state
// of the context: it travels as a WideningRequest (widening.h) to the loop
// that compiles the frame again.
//
// Every lowering writes through the small frame operations declared here
// (`emit_line`, `fresh_temp`, `lookup_var`, `declare_var`, ...), so the naming
// of generated C entities lives in one place: locals `v_<name>`, forced
// parameters `p_<name>`, module globals `ktl_G.g_<name>`, temporaries
// "_" + prefix + number.
#pragma once

#include "ast/program.h"
#include "support/compile_error.h"
#include "types/type.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>

namespace kestal {

// The C text of one expression and its static Type. The text is always one
// C expression (statements travel inside GNU statement expressions).
struct CompiledExpr {
    std::string text;
    Type type;
};

// A variable as the frame or the globals table knows it.
struct Variable {
    Type type;
    std::string text;
};

// One function instance: the function's name ("Class.method" for a method,
// "<lambdaN>" for a lambda) and its key Types (per parameter, then the
// captured variables of a lambda).
struct InstanceKey {
    std::string name;
    std::vector<Type> key_types;
    friend bool operator==(const InstanceKey &a, const InstanceKey &b) {
        return a.name == b.name && a.key_types == b.key_types;
    }
};

struct InstanceKeyHash {
    size_t operator()(const InstanceKey &k) const;
};

struct InstanceInfo {
    // None while the instance is compiling and has not fixed its return Type.
    std::optional<Type> return_type;
    std::string c_name;
    // Set when the instance is finished: whether a call may change the
    // length of some list.
    std::optional<bool> changes_lengths = {};
};

// An instance being compiled, with the lowest index of the instance stack
// whose assumed return Type its compile has read so far (its own index when
// it read none below it).
struct InstanceInProgress {
    InstanceKey key;
    size_t lowest_read = 0;
};

// An instantiation that failed without reading the assumed return Type of
// any instance compiling below it, so compiling it again gives the same
// error as long as nothing it may read has changed since: no instance it
// attempted (directly or through its callees) has been registered, and no
// global or class field has been created. `attempted` holds only the
// instances that were not registered when it failed; `world` is the number
// of globals and class fields then.
struct FailedInstance {
    CompileError error;
    // The recursion marker its compile left behind.
    std::optional<InstanceKey> recursion_marker;
    std::unordered_set<InstanceKey, InstanceKeyHash> attempted;
    size_t world = 0;
};

// One open loop.
struct LoopEntry {
    // The label `break` jumps to with goto; none when a plain `break;` leaves
    // the loop.
    std::optional<std::string> break_label;
    // C statements a `return` from inside the loop runs first (closing the
    // file of `for line in open(...)`); empty for most loops.
    std::string cleanup = {};
    // The frame's cleanup entries below this index were pushed outside the
    // loop's body: `break` and `continue` run only the ones above it.
    size_t cleanup_depth = 0;
};

// A list whose items a hoisted range loop reads or stores at `x[v + c]`:
// its C text when the loop was planned, the offsets c its body holds, and
// the least and greatest offset an access compiled in the fast form used.
struct HoistedList {
    std::string text;
    std::set<int64_t> offsets;
    std::optional<std::pair<int64_t, int64_t>> used = {};
};

// A `for v in range(...)` loop whose list item reads and stores `x[v + c]`
// may skip their index checks: its guard, computed once before the loop,
// is true when every such index the loop forms is in range. Whether the
// body keeps every list's length is only known once the body is compiled,
// so the guard's line is written as `marker` and settled then
// (index_hoisting.h).
struct HoistedLoop {
    // The loop variable, and its C text once the target is bound (empty
    // while it is not usable: then no access takes the fast form).
    std::string var;
    std::string var_text;
    // A `while low < high` loop (see index_hoisting.h): the second variable,
    // `high`, with its C text; `var` is `low`. Only offsets of 0 are
    // covered then.
    std::string high;
    std::string high_text;
    // The C name of the guard and the marker line standing in for it.
    std::string guard;
    std::string marker;
    std::map<std::string, HoistedList> lists;
    // The frame's `length_changes` when the body began.
    uint64_t changes_before = 0;
};

// The unchecked copy of a range loop being compiled: `flag` is the C text
// of the `int64_t *` a failure sets (as wide as a float, so a float loop
// vectorizes with it); `guards` the index guards in scope before the loop
// (the copy runs only when those it used hold); `used_guards` and
// `divisions` what the copy used. When `store_guard` is set (the copy of
// a loop nest, see deferred_checks.h: the guard of the copied loop itself)
// an item store that guard covers is written without its check, and the
// list's C text noted in `stored_lists`.
struct DeferredChecks {
    std::string flag;
    std::set<std::string> guards;
    std::set<std::string> used_guards = {};
    size_t divisions = 0;
    std::string store_guard = {};
    std::set<std::string> stored_lists = {};
};

// One use of a `finally` body on an early way out of its `try`: the marker
// line standing in the body's text until the `try` body is compiled, and
// the indentation and loop depth at that place.
struct FinallyUse {
    std::string marker;
    unsigned indent = 0;
    size_t loop_depth = 0;
};

// What a `return`, `break` or `continue` that leaves a `try`, a `with` or a
// loop holding a resource must run first. `text` is C statements; for a
// `try` with `finally`, its body follows them, compiled once per use after
// the `try` body is known, and `finally_uses` records the places.
struct Cleanup {
    std::string text;
    const std::vector<Stmt> *finally_body = nullptr;
    std::shared_ptr<std::vector<FinallyUse>> finally_uses = {};
};

using NameTypeList = std::vector<std::pair<std::string, Type>>;

// One field of a class, where the store that created it stands.
struct ClassField {
    std::string name;
    Type type;
    uint64_t line = 0;
    uint64_t column = 0;
};

// The state of one function being compiled.
struct FunctionFrame {
    // Set after an `if` whose test is known true here (a None test of a
    // variable whose Type settles it) and whose branch never completes: the
    // rest of the current block can't run in this version of the function,
    // so it is not compiled (Python never checks it either).
    bool rest_unreachable = false;
    // What is being compiled.
    bool is_module_level = false;
    std::optional<InstanceKey> instance_key;
    std::optional<Type> return_type;
    bool return_annotated = false;

    // Output. Every line of `body` is already indented and ends with '\n'.
    std::string body;
    // Where in `body` a recursive instance's leading base cases begin (after
    // the copies of widened parameters) and where they end: it checks its
    // depth there, and under clang its callers test them (see
    // finish_instance).
    size_t recursion_base_from = 0;
    size_t recursion_check_at = 0;
    // Raised for the lines of an inner block by an IndentGuard.
    unsigned indent = 1;
    // (Type, C name) per local declaration, in declaration order.
    std::vector<std::pair<Type, std::string>> declared_locals;

    // Variables. Names beginning with "%" are internal bindings that never
    // widen and never appear in variable lists.
    std::unordered_map<std::string, Variable> locals;
    std::unordered_set<std::string> declared_globals;
    std::unordered_map<std::string, Type> forced_types;
    std::unordered_set<std::string> copied_parameters;
    std::unordered_set<std::string> volatile_names;
    // Names whose Type an annotation fixed: they never widen.
    std::unordered_set<std::string> annotated_names;
    // Names bound once for the whole body (parameters never assigned
    // included): a lambda may keep a copy of one.
    std::unordered_set<std::string> single_assignment_names;
    // The lambda expression being compiled as an argument that a built-in
    // calls and drops before it returns (a sort key): its copies can't go
    // stale, so it may capture names that are assigned again.
    const Expr *transient_lambda = nullptr;
    // While the iterable of a `for` statement is planned: the paths its body
    // assigns. A lambda that map or filter calls between steps of the body
    // must not copy one of them.
    const std::unordered_set<std::string> *loop_body_assigned = nullptr;

    // Control flow.
    std::vector<LoopEntry> loop_stack;
    // The open constructs that may run the code being compiled more than
    // once per call of the function: `for` and `while` statements (their
    // headers included) and comprehensions.
    unsigned repeated_depth = 0;
    // Innermost last: the entries of the blocks being compiled, run before
    // any early way out of them.
    std::vector<Cleanup> cleanup_lines;
    // The caught-exception variables of the except clauses being compiled,
    // innermost last: a bare `raise` re-raises the last one.
    std::vector<std::string> handled_exceptions;

    // The range loops being compiled whose index checks may be skipped,
    // innermost last, and the number of lowerings compiled so far that may
    // change the length of some list (a list method, `del`, a slice store,
    // a call of code that may do one of these).
    std::vector<HoistedLoop> hoisted_loops;
    uint64_t length_changes = 0;

    // Set while the unchecked copy of a loop whose zero-divisor checks are
    // deferred is compiled (stmt/deferred_checks.h): float divisions and
    // covered item reads flag the failure instead of raising.
    std::optional<DeferredChecks> deferred;

    // Zero-divisor facts of the straight-line run of statements being
    // compiled (stmt/divisor_facts.h): the variables (name, C text) that a
    // checked division of an earlier statement of the run divided by, with
    // no assignment to them since, and the nodes of the checked divisions
    // compiled in the current statement.
    std::vector<std::pair<std::string, std::string>> nonzero_divisors;
    std::unordered_set<const Expr *> checked_divisions;

    // Access paths known not to be None at the current point.
    std::unordered_set<std::string> narrowed_paths;

    // For a method instance: the class whose method it is (empty otherwise).
    std::string method_class;
    // For a parallel-loop body: the instance name of the function that
    // holds the loop ("" at module level). The body stands for that
    // function in tracebacks and for `super()`; unset in other frames.
    std::optional<std::string> host_function;
    // C text that must stand before the function: the environment types and
    // body functions of its parallel loops.
    std::string hoisted = {};
    // The variables of the parallel-loop bodies compiled inside this
    // function, each body's sorted by name.
    NameTypeList inner_locals = {};
};

struct CodegenContext {
    const Program *program = nullptr;

    // Program tables, read only after set-up.
    std::unordered_map<std::string, const FuncDef *> functions;
    std::unordered_map<std::string, const ClassDef *> classes;
    std::vector<std::string> class_names;
    // The position of each name in `class_names`: its class id.
    std::unordered_map<std::string, size_t> class_ids;
    // The direct subclasses of each class with any, in class-id order.
    std::unordered_map<std::string, std::vector<std::string>> class_children;
    const std::vector<FuncDef> *lambdas = nullptr;
    const std::map<std::string, std::string> *aliases = nullptr;
    const std::map<std::string, Library> *libraries = nullptr;
    std::unordered_set<std::string> global_names;
    // The module constants (analysis/constants.h) by name: a read of the
    // module's binding of such a name compiles to its value.
    std::map<std::string, Expr> module_constants;

    // Class and C-type state. `class_bases` maps every class of the Program
    // to its base, if any; it is filled at set-up and read by the ancestry
    // queries (classes.h).
    std::unordered_map<std::string, std::optional<std::string>> class_bases;
    std::unordered_set<std::string> declared_classes;
    // The fields of each class in creation order: a field is listed under
    // the class through whose static Type it was first stored. A class that
    // never had a field stored has no entry.
    std::unordered_map<std::string, std::vector<ClassField>> class_attributes;
    // Fields an earlier attempt of this compilation found too narrow
    // (class, field) -> float; carried into every new attempt.
    std::map<std::pair<std::string, std::string>, Type> field_widenings;
    // For each class constant name, the classes for whose objects a read or
    // a construction already compiled took the constant, as no field of
    // that name was known on their chain: a field of that name created
    // later for one of them asks for a new attempt with the field created
    // from the start (an EarlyField request), so nothing compiled before
    // the field's first store reads the constant it hides.
    std::unordered_map<std::string, std::unordered_set<std::string>> constants_taken;
    std::unordered_set<Type, TypeHash> defined_c_types;
    // C helpers written once by name (sort instantiations, keyed-sort records).
    std::unordered_set<std::string> defined_helpers;

    // Function state. Frames are boxed so a reference to a frame stays valid
    // while deeper frames are pushed.
    std::vector<std::unique_ptr<FunctionFrame>> frames;
    std::unordered_map<InstanceKey, InstanceInfo, InstanceKeyHash> instances;
    // Every registration in `instances`, in order: a candidate attempt
    // remembers the log's length and, to undo, drops the instances logged
    // after it. A key erased and registered again appears twice, and an
    // entry may name a key no longer registered.
    std::vector<InstanceKey> instance_log;
    std::unordered_map<InstanceKey, NameTypeList, InstanceKeyHash> instance_locals;
    // The instance whose recursive call failed because its return Type was
    // not known yet; that instance retries with guessed return Types.
    std::optional<InstanceKey> recursion_marker;
    // The instances being compiled, outermost first.
    std::vector<InstanceInProgress> instance_stack;
    // Finished instances that rely on the assumed return Type of an instance
    // still compiling, by that instance's stack index: an undo of its attempt
    // drops them. Every other finished instance is settled, and kept with
    // its text by any undo, so nothing settled is compiled twice.
    std::unordered_map<InstanceKey, size_t, InstanceKeyHash> unsettled_instances;
    // The prototype and definition text of each finished instance.
    std::unordered_map<InstanceKey, std::pair<std::string, std::string>, InstanceKeyHash>
        instance_texts;
    // Failed instantiations replayed instead of compiled again, so a chain
    // of recursive functions whose guessed return Types each call the next
    // one down meets a failure at its bottom once, not once per guess.
    std::unordered_map<InstanceKey, FailedInstance, InstanceKeyHash> failed_instances;
    // Every instantiation attempted (or replayed, with what its failure
    // attempted) since the outermost one on the instance stack began; a
    // failure takes its part of the log as its `attempted` set.
    std::vector<InstanceKey> attempted_log;
    uint64_t temp_counter = 0;

    // Module globals: name to (Type, storage text "ktl_G.g_<name>").
    std::unordered_map<std::string, Variable> globals;

    // Per instance C name: whether every call compiled so far is a direct
    // call in the module body that runs at most once. Such an instance is
    // declared `noinline`: C compilers inline a static function called
    // once whatever its size, and a module body that absorbs every function
    // it calls costs clang -O3 time that grows faster than its length.
    // Entries are never dropped, so a call from a discarded attempt only
    // keeps the attribute away.
    std::unordered_map<std::string, bool> once_called_instances;

    // Per instance C name: its variant for loops whose zero-divisor checks
    // are deferred (the C name, and whether it divides), or none when the
    // instance has effects or checks other than its divisions. The
    // variants' texts are self-contained and written after the instances.
    struct DeferredVariant {
        std::string c_name;
        bool divides = false;
    };
    std::unordered_map<std::string, std::optional<DeferredVariant>> deferred_variants;
    std::string deferred_variants_text;
    std::string deferred_prototypes_text;
    // The loop-nest functions written so far (their names' numbers).
    size_t nest_functions = 0;

    // Output text.
    std::string types_text;
    std::string class_structs_text;
    std::string prototypes_text;
    std::string definitions_text;
    std::string exc_text_cases;

    // Set when an f-string uses digit grouping; switches the runtime's
    // grouping code on.
    bool uses_grouping = false;
    // Whether the program holds a `try` anywhere (found on first use): only
    // then can an exception be caught, so only then does `with` close its
    // files on the way out of an exception.
    std::optional<bool> uses_try;
    // Set when the program has a parallel loop; switches the runtime's
    // thread pool and per-thread state on.
    bool uses_prange = false;
    // Source positions (line, column) the parallel-loop checker marked: the
    // targets of `x op= v` that may be shared with other iterations, with
    // the refusal to give when the update turns out to change a list or set
    // in place; and the stores `xs[i] = v` at the loop variable's index of
    // a shared list, whose index must be in range as written (a negative
    // one would reach another iteration's item).
    std::map<std::pair<uint64_t, uint64_t>, std::string> prange_in_place_refusals;
    std::set<std::pair<uint64_t, uint64_t>> prange_strict_stores;
    // The targets of the min/max reductions of parallel loops.
    std::set<std::pair<uint64_t, uint64_t>> prange_min_max_targets;

    // Evaluation-order hoisting (expr/hoisting.cpp): the name of every method
    // of every class, built on first use (`classes` is fixed after set-up),
    // and the side-effect answers for the nodes of the expression trees that
    // are being compiled. A node is in `side_effect_memo` only while a
    // `compile_expr` call on a tree that holds it is running, so an answer is
    // never kept for a node that may already be freed.
    std::optional<std::unordered_set<std::string>> method_names;
    // The names some function or method declares `global`, built on first
    // use: a read of one of them must not move across a call.
    std::optional<std::unordered_set<std::string>> call_assigned_globals;
    // Whether some class has a written __str__ or __repr__, so that str()
    // of a value may run user code; built on first use.
    std::optional<bool> has_text_methods;
    std::unordered_map<const Expr *, uint8_t> side_effect_memo;
    // The field names a call of each function (by its function-table name,
    // lambdas as "<lambdaN>") may store into, through everything it may call;
    // built on first use. A function that may call an unknown function
    // value holds "*" (any field).
    std::optional<std::unordered_map<std::string, std::unordered_set<std::string>>> field_stores;
    // The functions (named as in `field_stores`) that may call themselves
    // again through calls, built on first use (program/recursion.cpp).
    std::optional<std::unordered_set<std::string>> recursive_functions;

    FunctionFrame &frame() { return *frames.back(); }
};

// A context in its initial state for one attempt, borrowing the Program.
std::unique_ptr<CodegenContext> new_codegen_context(const Program &program);

// ---- Frames, variables and temporaries ----

FunctionFrame new_frame(bool is_module_level, std::optional<InstanceKey> instance_key,
                        std::unordered_map<std::string, Type> forced_types);

// The instance name of the function whose code the frame compiles: its own,
// or for a parallel-loop body the function that holds the loop; null at
// module level.
const std::string *frame_function_name(const FunctionFrame &frame);

// Appends one line at the current frame's indentation.
void emit_line(CodegenContext &ctx, std::string_view text);

template <class... Args>
void emit_line(CodegenContext &ctx, fmt::format_string<Args...> f, Args &&...args) {
    emit_line(ctx, std::string_view(fmt::format(f, std::forward<Args>(args)...)));
}

// Records that the code being compiled may change the length of some list:
// no range loop around it skips index checks (index_hoisting.h).
void note_list_length_change(CodegenContext &ctx);

// "_" + prefix + the next value of the run-wide counter.
std::string fresh_temp(CodegenContext &ctx, std::string_view prefix);

// The variable a read of `name` refers to, if any.
std::optional<Variable> lookup_var(CodegenContext &ctx, const std::string &name);
// The existing variable an assignment to `name` stores into, if any.
std::optional<Variable> lookup_local(CodegenContext &ctx, const std::string &name);
// Declares (or redeclares) a variable of the current frame: a module global
// or a local. Defines the Type's C support first.
Variable declare_var(CodegenContext &ctx, const std::string &name, const Type &type);
// Records the current frame's return Type (and its instance's).
void set_return_type(CodegenContext &ctx, const Type &type);
// The frame's variables sorted bytewise by name (internal "%" names left
// out).
NameTypeList sorted_frame_locals(const FunctionFrame &frame);
// The wider Type a variable must take to hold `assigned`, or none: globals,
// annotated variables and internal "%" names never widen; only int to float
// and any Type to an optional do.
std::optional<Type> assign_local_type(CodegenContext &ctx, const std::string &name,
                                      const Type &declared, const Type &assigned);

// One declaration line per local, each starting from the zero initialiser.
std::string emit_local_decls(const std::vector<std::pair<Type, std::string>> &declared_locals,
                             const std::unordered_set<std::string> &volatile_names);
// One C parameter declaration.
std::string param_decl_list_item(const std::string &name, const Type &type,
                                 const std::unordered_set<std::string> &volatile_names,
                                 const std::unordered_set<std::string> &copied_parameters);

// Raises the current frame's indentation by one level for the lifetime of
// the guard; every block lowering opens its inner lines with one, so the
// level is restored also when an error leaves the block.
class IndentGuard {
  public:
    explicit IndentGuard(CodegenContext &ctx);
    ~IndentGuard();
    IndentGuard(const IndentGuard &) = delete;
    IndentGuard &operator=(const IndentGuard &) = delete;

  private:
    FunctionFrame &frame_;
    unsigned saved_;
};

// Marks the code compiled during its lifetime as code that may run more
// than once per call of the current function (see `repeated_depth`).
class RepeatedCode {
  public:
    explicit RepeatedCode(CodegenContext &ctx) : frame_(ctx.frame()) { ++frame_.repeated_depth; }
    ~RepeatedCode() { --frame_.repeated_depth; }
    RepeatedCode(const RepeatedCode &) = delete;
    RepeatedCode &operator=(const RepeatedCode &) = delete;

  private:
    FunctionFrame &frame_;
};

// Binds an internal "%" name in the current frame and restores the earlier
// binding when it goes out of scope, whatever happens in between.
class ScopedBinding {
  public:
    ScopedBinding(CodegenContext &ctx, std::string name, Variable var);
    ~ScopedBinding();
    ScopedBinding(const ScopedBinding &) = delete;
    ScopedBinding &operator=(const ScopedBinding &) = delete;

  private:
    FunctionFrame *frame_;
    std::string name_;
    std::optional<Variable> previous_;
};

// Pushes a frame for the lifetime of the guard; `pop` hands it back.
class FrameGuard {
  public:
    FrameGuard(CodegenContext &ctx, FunctionFrame frame);
    ~FrameGuard();
    FrameGuard(const FrameGuard &) = delete;
    FrameGuard &operator=(const FrameGuard &) = delete;
    FunctionFrame pop();

  private:
    CodegenContext &ctx_;
    bool popped_ = false;
};

// Stops on a fault of the compiler itself (a broken invariant): throws a
// std::logic_error naming the invariant, which no CompileError handler
// catches.
[[noreturn]] void internal_fault(std::string_view what);

} // namespace kestal
