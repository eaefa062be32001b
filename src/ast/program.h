// The statement tree and the whole-file record: what the parser produces for
// one source file and every later stage reads.
//
// A `Stmt` is one plain struct per kind joined in a variant (the variant
// index is the kind number, so the order of the alternatives is fixed) plus
// the position of its first token. Records own their children by value;
// there is no sharing and no parent link. Functions, classes and imports are
// not statements: they live in their own lists of `Program`. Annotations are
// stored as resolved `Type`s, never as text.
#pragma once

#include "ast/expr.h"
#include "ast/library.h"
#include "types/type.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestal {

struct Stmt;

// One `if` or `elif` clause.
struct IfBranch {
    Expr condition;
    std::vector<Stmt> body;
};

// One `with` item: `context` or `context as target`. The target has the
// shape of a loop target (a Name or a Tuple of targets) but may repeat a
// name.
struct WithItem {
    Expr context;
    std::optional<Expr> target;
};

// One `except` clause. `types` is empty for a bare `except:` and holds the
// elements of `except (A, B):`. A handler has no position of its own.
struct ExceptHandler {
    std::vector<Expr> types;
    std::optional<std::string> name;
    std::vector<Stmt> body;
};

struct Stmt {
    struct ExprStmt {
        Expr expr;
    };
    // `target = value`, or the declaration `target: T = value`; with an
    // annotation the target is a Name or an Attribute. The target is
    // assignable (Name, Attribute, Index, Slice, or a Tuple of those).
    struct Assign {
        Expr target;
        std::optional<Type> annotation;
        Expr value;
    };
    // `a, b = value` and `(a, b) = value`; at least one assignable target.
    struct Unpack {
        std::vector<Expr> targets;
        Expr value;
    };
    // `op` is one of Add .. Shr.
    struct AugAssign {
        Expr target;
        BinOp op = BinOp::Add;
        Expr value;
    };
    // At least one branch; the first is the `if`, the rest its `elif`s.
    struct If {
        std::vector<IfBranch> branches;
        std::optional<std::vector<Stmt>> else_body;
    };
    struct While {
        Expr condition;
        std::vector<Stmt> body;
        std::optional<std::vector<Stmt>> else_body;
    };
    // The target is a Name or a Tuple of loop targets and binds no name twice.
    struct For {
        Expr target;
        Expr iterable;
        std::vector<Stmt> body;
        std::optional<std::vector<Stmt>> else_body;
    };
    struct Break {};
    struct Continue {};
    struct Pass {};
    // `return a, b` returns a Tuple.
    struct Return {
        std::optional<Expr> value;
    };
    // At least one name.
    struct Global {
        std::vector<std::string> names;
    };
    // At least one target; not checked for assignability.
    struct Del {
        std::vector<Expr> targets;
    };
    // At least one item.
    struct With {
        std::vector<WithItem> items;
        std::vector<Stmt> body;
    };
    // At least one handler or a finally body; `else_body` only with
    // handlers; every handler but the last has at least one type.
    struct Try {
        std::vector<Stmt> body;
        std::vector<ExceptHandler> handlers;
        std::optional<std::vector<Stmt>> else_body;
        std::optional<std::vector<Stmt>> finally_body;
    };
    // `cause` only with `exception`.
    struct Raise {
        std::optional<Expr> exception;
        std::optional<Expr> cause;
    };
    struct Assert {
        Expr condition;
        std::optional<Expr> message;
    };

    // The alternatives in kind order: the index is the kind number.
    using Kind = std::variant<ExprStmt, Assign, Unpack, AugAssign, If, While, For, Break, Continue,
                              Pass, Return, Global, Del, With, Try, Raise, Assert>;

    Kind kind;
    // The statement's first token: the keyword of a compound statement.
    uint64_t line = 0;
    uint64_t column = 0;

    // Defined in program.cpp, so the copy and destroy code of the whole
    // variant tree is compiled once there.
    Stmt();
    Stmt(Kind kind, uint64_t line = 0, uint64_t column = 0);
    Stmt(const Stmt &other);
    Stmt(Stmt &&other) noexcept;
    Stmt &operator=(const Stmt &other);
    Stmt &operator=(Stmt &&other) noexcept;
    ~Stmt();

    template <class K> bool is() const { return std::holds_alternative<K>(kind); }
    template <class K> K *as() { return std::get_if<K>(&kind); }
    template <class K> const K *as() const { return std::get_if<K>(&kind); }
};

// One parameter, and also one dataclass field.
struct Param {
    std::optional<Type> annotation;
    std::string name;
    std::optional<Expr> default_value;
};

// A top-level function, a method (its first parameter is `self`), a lifted
// lambda (named "<lambda{N}>", no return annotation, body one Return of the
// lambda's expression) or a method synthesized for a dataclass.
struct FuncDef {
    std::optional<Type> return_type;
    std::string name;
    // Unique names; once one has a default, every later one has one.
    std::vector<Param> params;
    std::vector<Stmt> body;
    // The `def` (the `lambda` keyword for a lambda).
    uint64_t line = 0;
    uint64_t column = 0;
    // Set on the `__repr__` a dataclass synthesized: while it runs for an
    // object, a repr of that same object on the same thread gives "...".
    bool guards_repr = false;

    // The special members are defined in program.cpp, like Stmt's.
    FuncDef();
    FuncDef(const FuncDef &other);
    FuncDef(FuncDef &&other) noexcept;
    FuncDef &operator=(const FuncDef &other);
    FuncDef &operator=(FuncDef &&other) noexcept;
    ~FuncDef();
    FuncDef(std::optional<Type> return_type, std::string name, std::vector<Param> params,
            std::vector<Stmt> body, uint64_t line = 0, uint64_t column = 0);
};

// `NAME = value` in a class body.
struct ClassConstant {
    std::string name;
    Expr value;
    // A dataclass field's default, which is also the class attribute.
    bool field_default = false;
};

struct ClassDef {
    std::string name;
    // Written methods in source order, then the synthesized ones.
    std::vector<FuncDef> methods;
    std::vector<ClassConstant> constants;
    // The comparison dunders that dataclass synthesis added (never
    // `__init__` or `__repr__`, never a method the user wrote).
    std::vector<std::string> synthesized_comparisons;
    // The single base; absent for none and for `object`.
    std::optional<std::string> base;
    // The `class` keyword; 0 for a built-in class.
    uint64_t line = 0;
    uint64_t column = 0;
    // True for the 27 built-in exception classes only.
    bool is_builtin = false;

    ClassDef();
    ClassDef(const ClassDef &other);
    ClassDef(ClassDef &&other) noexcept;
    ClassDef &operator=(const ClassDef &other);
    ClassDef &operator=(ClassDef &&other) noexcept;
    ~ClassDef();
};

// One import of a module that is not built in.
struct ModuleImport {
    // A single identifier, never dotted.
    std::string name;
    // The module name in the import statement.
    uint64_t line = 0;
    uint64_t column = 0;
};

// The parse result of one source file.
struct Program {
    // Top-level `def`s in source order; names are unique.
    std::vector<FuncDef> functions;
    // Top-level statements in source order: the body of the entry function.
    std::vector<Stmt> statements;
    // Every lambda, in the order the parser finished them (inner first); an
    // `Expr::Lambda` refers to its entry by index.
    std::vector<FuncDef> lambdas;
    // The 27 built-in exception classes first, then the user's classes in
    // source order; the position is the class id. Names are unique and a
    // base stands earlier than its subclasses.
    std::vector<ClassDef> classes;
    // One entry per import of a non-built-in module, in source order.
    std::vector<ModuleImport> imports;
    // Local name to the dotted name it stands for (`sqrt` -> `math.sqrt`).
    std::map<std::string, std::string> aliases;
    // The libraries the imports name, filled by import resolution
    // (libraries/resolve.h); the code generator and the driver read it.
    std::map<std::string, Library> libraries;

    Program();
    Program(const Program &other);
    Program(Program &&other) noexcept;
    Program &operator=(const Program &other);
    Program &operator=(Program &&other) noexcept;
    ~Program();
};

} // namespace kestal
