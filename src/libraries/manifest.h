// Library manifests: a library folder (its `library.json` and `<name>.h`) in,
// one `Library` record out, or the first problem as one line of text.
//
// A broken manifest is a normal event, not a fault of the tool, so nothing
// here throws for bad input: every function returns its result or an error
// text, which callers show unchanged (import resolution puts it at the
// import's position; `install` prints it after "kestal: "). Error texts are
// built outward: the manifest path, then the function, then the argument's
// default, then the innermost message.
#pragma once

#include "ast/expr.h"
#include "ast/library.h"
#include "types/type.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestal {

// A value, or the text of what went wrong.
template <class T> using LibraryResult = std::variant<T, std::string>;

// Reads and checks `folder/library.json` and reads `folder/<name>.h`. `name`
// is the name the library was asked for; the manifest's "name" must equal it
// byte for byte. Reads those two files and nothing else, and caches nothing.
// Fails with the first problem found, prefixed with the manifest's path (or,
// for an unreadable header, with the header's path).
LibraryResult<Library> load_library(std::string_view name, const std::filesystem::path &folder);

// One of the nine type texts a manifest may use (surrounding whitespace
// ignored): int, float, bool, str, None (no value), and list[...] of the
// first four. Anything else fails with a message naming the trimmed text.
LibraryResult<Type> parse_library_type(std::string_view text);

// Parses a parameter's default text as one expression and checks that it is
// a literal of the parameter's Type; returns that expression. Fails with the
// parser's message, or with "'{text}' isn't a {type} literal".
LibraryResult<Expr> check_default_literal(std::string_view text, const Type &type);

// True for a non-empty C identifier: an ASCII letter or `_`, then ASCII
// letters, digits or `_`.
bool is_c_identifier(std::string_view text);

// True when a parameter of that name is already in the list.
bool params_contain_name(const std::vector<LibraryParam> &params, std::string_view name);

// The first function name (in byte order) that is also a constant name.
std::optional<std::string>
find_function_constant_clash(const std::map<std::string, LibraryFunction> &functions,
                             const std::map<std::string, LibraryConstant> &constants);

} // namespace kestal
