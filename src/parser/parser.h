// The parser: source text in, a `Program` (or one expression) out, or the
// first CompileError. It is a recursive-descent parser over the token list
// of `tokenize`, one function per grammar rule, with no error recovery: the
// first fault is thrown as a CompileError and ends the whole parse. Source
// nested deeper than kMaxNesting levels is refused, and the compile road
// runs the parser on a big-stack thread, so no source overflows the stack.
//
// `parse_module` and `parse_expression_text` (expression_text.h) are the
// public entry points. The `Parser` record
// and the rule functions below them are shared by the parser's own files
// (expressions, statements, annotations, imports, the module level).
#pragma once

#include "ast/expr.h"
#include "ast/program.h"
#include "lexer/token.h"
#include "parser/expression_text.h"
#include "support/compile_error.h"
#include "types/type.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestal {

// Parses one whole source file (UTF-8). The class list starts with the 27
// built-in exception classes; `libraries` is left empty. Throws the first
// CompileError (a lexer error unchanged). Pure: reads no files.
Program parse_module(std::string_view text);

// The 27 built-in exception classes in class-id order (the C runtime numbers
// its exception classes the same way): no methods, line 0, built in.
std::vector<ClassDef> seed_builtin_classes();

// ---- Shared by the parser's own files ----

// The state of one parse. The cursor never moves past the last token, which
// is always `Eof`, so reading past the end keeps seeing `Eof`.
struct Parser {
    std::vector<Token> tokens;
    // The module's source text, read only to explain a layout error.
    std::string_view text = {};
    uint64_t cursor = 0;
    // Lifted lambdas; an entry's index is its `Expr::Lambda` index.
    std::vector<FuncDef> lambdas;
    // Built-in classes first, then each user class once its body is read;
    // added only through add_class, which keeps `class_index` (name to
    // position) in step.
    std::vector<ClassDef> classes;
    std::unordered_map<std::string, size_t> class_index;
    std::vector<ModuleImport> imports;
    std::map<std::string, std::string> aliases;
    // Each dataclass's merged field list, for dataclasses deriving from it.
    std::map<std::string, std::vector<Param>> dataclass_fields;
    // Nesting levels open now (expressions and blocks), kept under
    // kMaxNesting so that no source can exhaust the stack of the parser or
    // of the stages that walk its tree.
    uint32_t depth = 0;
    // The highest tree level reached so far: nesting levels, plus the links
    // of left-leaning chains (`a + b + c`, `f(1)(2)`, `a < b < c`), whose
    // trees grow one level per link although the parser walks them in a
    // loop. Kept under kMaxNesting too (see ChainHeight).
    uint32_t peak = 0;
};

// The class of that name read so far (built in, or complete before the
// cursor), or null.
const ClassDef *find_class(const Parser &p, const std::string &name);
// Appends a class whose name find_class does not know yet.
void add_class(Parser &p, ClassDef def);

inline constexpr uint32_t kMaxNesting = 1000;

// Counts one nesting level for as long as it lives; throws at the current
// token when the source nests deeper than kMaxNesting.
class NestingGuard {
  public:
    explicit NestingGuard(Parser &p);
    ~NestingGuard() { --p_.depth; }
    NestingGuard(const NestingGuard &) = delete;
    NestingGuard &operator=(const NestingGuard &) = delete;

  private:
    Parser &p_;
};

// Measures one left-leaning chain: the operands' own height plus one level
// per link. Open it before the first operand and call `link` with the
// position of the link's operator once the link is complete; it throws the
// nesting error there when the chain's tree would stand deeper than
// kMaxNesting.
class ChainHeight {
  public:
    explicit ChainHeight(Parser &p);
    ~ChainHeight();
    void link(uint64_t line, uint64_t column);
    ChainHeight(const ChainHeight &) = delete;
    ChainHeight &operator=(const ChainHeight &) = delete;

  private:
    Parser &p_;
    uint32_t outer_peak_;
    uint32_t links_ = 0;
};

// Token operations.
const Token &current(const Parser &p);
// The token after the current one (clamped to the last token).
const Token &peek_next(const Parser &p);
bool at(const Parser &p, TokenKind kind);
// Returns the current token and moves on, unless it is the last one.
Token advance(Parser &p);
// Consumes the current token when it has this kind.
bool accept(Parser &p, TokenKind kind);
// Consumes a token of this kind, else throws "expected {description}, found
// {current token}" at the current token.
void expect(Parser &p, TokenKind kind, std::string_view description);
// Consumes an identifier and returns its name; fails as `expect` does.
std::string expect_ident(Parser &p, std::string_view description);
// An error at the current token's position.
CompileError error_at_current(const Parser &p, std::string message);
// At a line that opens no block where it should, or opens one where it
// shouldn't: throws "inconsistent use of tabs and spaces in indentation" at
// the current token when its line and the logical line before it compare
// differently with a tab of one column than with tab stops of eight.
void refuse_inconsistent_tabs(const Parser &p);

// Expressions.
Expr parse_expr(Parser &p);
// An expression without lambda and without an unparenthesised conditional.
Expr parse_or(Parser &p);
// The arguments of a call, cursor after the `(`; consumes the `)`.
struct CallArgs {
    std::vector<Expr> args;
    std::vector<Keyword> kwargs;
};
CallArgs parse_call_args(Parser &p);
std::vector<ComprehensionClause> parse_comprehension_clauses(Parser &p);
Expr parse_lambda(Parser &p);
Expr parse_primary(Parser &p);
// A Name or a Tuple of targets; refuses a name bound twice.
Expr parse_loop_targets(Parser &p);
// One target: a name, or a bracketed list of targets (a Tuple).
Expr parse_target_element(Parser &p);

// Statements.
void parse_statement(Parser &p, std::vector<Stmt> &statements);
void parse_simple_statements(Parser &p, std::vector<Stmt> &statements);
// The block after a `:`, cursor on the token after the colon.
std::vector<Stmt> parse_block(Parser &p);
std::optional<std::vector<Stmt>> parse_else_block(Parser &p);
Expr parse_expression_list(Parser &p);
void check_assign_target(const Expr &target);

// Annotations.
Type parse_type(Parser &p);
// One annotation with at most one `|`: a return annotation; a value's
// annotation goes through parse_value_type.
Type parse_type_union(Parser &p);
// A value's annotation: as parse_type_union, without `None` alone.
Type parse_value_type(Parser &p);

// Imports: cursor on `import` / `from`; they append no statement.
std::string parse_import_name(Parser &p);
void parse_import_statement(Parser &p);
void parse_from_statement(Parser &p);

// Definitions.
FuncDef parse_function_def(Parser &p);

} // namespace kestal
