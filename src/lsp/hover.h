// Hover texts: what the server shows for the identifier under the cursor,
// built from the document's kept Program and analysis. Every function is
// compiled once per signature of argument Types, so a function's hover
// lists one signature per instance and a variable's hover lists the Type it
// has in each instance when these differ.
//
// The program lookups here (functions, classes and their ancestors,
// parameters, assignment sites, the classes a receiver may be) serve
// go-to-definition as well. Nothing found means no text, never an error.
#pragma once

#include "ast/program.h"
#include "lsp/checker.h"
#include "lsp/text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestal::lsp {

struct HoverContext {
    // The key of the function the cursor line belongs to.
    std::optional<std::string> enclosing;
    const Program &program;
    const DocumentAnalysis &analysis;
    std::vector<std::string_view> lines;
    std::size_t cursor_line = 0;
};

// One Type a name has: in an instance of the enclosing function, or (no
// instance) as a program variable.
struct LocalTypeEntry {
    const InstanceSummary *instance = nullptr;
    Type type;
};

// A 1-based line and column of the source.
using SourcePosition = std::pair<std::uint64_t, std::uint64_t>;

// "```kestal\n{text}\n```".
std::string markdown_block(std::string_view text);

// The FuncDef of "name" (a top-level function) or "Class.method".
const FuncDef *find_funcdef(const Program &program, std::string_view key);
const ClassDef *find_class(const Program &program, std::string_view name);
// The class, then its base, and so on, stopping at a missing class or a
// repeat; empty for a name that is no class.
std::vector<const ClassDef *> class_and_ancestors(const Program &program, std::string_view name);
bool param_named(const FuncDef &function, std::string_view name);

// The first place the statement (or a statement nested in it) assigns the
// name: assignment, unpacking and augmented targets, loop targets and
// with-as targets; tuples and lists searched element by element.
std::optional<SourcePosition> collect_assignment_sites(std::string_view name, const Stmt &stmt);
std::optional<SourcePosition> find_assignment_in_target(std::string_view name, const Expr &target);

std::vector<LocalTypeEntry> local_types_of(const HoverContext &ctx, std::string_view name);
// The classes a receiver may be: its class (and ancestors) when its Type
// says so, else every class of the program.
std::vector<const ClassDef *> receiver_class_name(const HoverContext &ctx,
                                                  const std::optional<std::string> &receiver);

// "def name(p: T, ...) -> R" from an instance's Types or the annotations.
std::string def_signature_text(const HoverContext &ctx, std::string_view key,
                               const InstanceSummary *instance);
std::string hover_function(const HoverContext &ctx, std::string_view key);
std::string hover_class(const Program &program, const DocumentAnalysis &analysis,
                        const ClassDef &cls);
std::optional<std::string> hover_member(const HoverContext &ctx,
                                        const std::optional<std::string> &receiver,
                                        std::string_view word);
std::string library_function_hover(std::string_view display_name, const LibraryFunction &function);

// The hover text for the word under the cursor, or none.
std::optional<std::string> hover_text(const HoverContext &ctx, const CursorWord &word);

} // namespace kestal::lsp
