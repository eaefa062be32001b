// Read-only questions about statement lists that the code generator asks
// before or while it compiles them: does a statement ever complete normally,
// which access paths a block assigns, which locals must be `volatile` because
// a `try` can jump back over their assignments, which names keep one value
// for the whole body, and which classes an annotation names. The walks get
// the children of each statement from the shared traversal (ast/traverse.h).
#pragma once

#include "ast/program.h"

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kestal {

using PathSet = std::unordered_set<std::string>;

bool stmt_never_completes(const Stmt &stmt);
// True when some statement of the list never completes.
bool block_never_completes(const std::vector<Stmt> &body);
bool contains_loop_break(const Stmt &stmt);
bool any_stmt_matches(const std::function<bool(const Stmt &)> &pred, const Stmt &stmt);
bool is_try_stmt(const Stmt &stmt);

void add_target_paths(PathSet &out, const Expr &target);
void collect_assigned_names(const std::vector<Stmt> &body, PathSet &out);
void collect_try_assigned_names(const std::vector<Stmt> &body, PathSet &out);
PathSet analyse_body_assignments(const std::vector<Stmt> &body, const std::vector<Param> &params);

// Every class of a Program by name, for lookups in time independent of the
// number of classes.
using ClassTable = std::unordered_map<std::string, const ClassDef *>;
ClassTable class_table(const std::vector<ClassDef> &classes);

// Throws "unknown type '{}' (no class with that name)" at the position for
// the first class the annotation names that the Program lacks (for one of
// Python's exception classes Kestal lacks, the error says so). Looks
// through containers, tuples and optionals.
void check_annotation_classes(const ClassTable &classes, const Type &annotation, uint64_t line,
                              uint64_t column);

// The dotted access path an expression names (`x`, `self.a.b`), or none.
std::optional<std::string> access_path_of(const Expr &expr);

} // namespace kestal
