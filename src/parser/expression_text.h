// The parser's one entry for a lone expression, kept apart from parser.h so
// that a reader of other texts (library manifests write parameter defaults
// as expressions) depends on nothing else of the parser.
#pragma once

#include "ast/expr.h"

#include <string_view>

namespace kestal {

// Parses a text holding exactly one expression (one trailing line break
// allowed), as library manifests write parameter defaults. Throws the lexer's
// or parser's CompileError, or "expected one expression, found {}" when
// anything follows the expression. Lambdas in the text are discarded.
Expr parse_expression_text(std::string_view text);

} // namespace kestal
