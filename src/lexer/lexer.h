// The lexer: the text of one source file (or of one expression) in, a flat
// list of tokens out, produced whole before parsing starts. Layout is made
// explicit: `Newline` ends each logical line, `Indent`/`Dedent` open and close
// blocks, and one `Eof` ends the list. An f-string token carries its literal
// text and the unparsed source text of its replacement fields.
#pragma once

#include "lexer/token.h"
#include "support/compile_error.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// The mark some editors write at the start of a UTF-8 file; `tokenize`
// skips it there.
inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

inline constexpr std::string_view kInconsistentTabsMessage =
    "inconsistent use of tabs and spaces in indentation";

// Whether two indentations (the blanks before a line's first character)
// compare the same way with a tab of one column as with tab stops of eight:
// false when a mix of tabs and spaces makes their order depend on the tab
// size.
bool indentations_agree(std::string_view a, std::string_view b);

// Lexes the whole text. On success the list is never empty and ends with
// `Eof`. The first fault throws a CompileError with its message and position;
// there is no recovery and no partial list. Pure: keeps nothing between calls.
std::vector<Token> tokenize(std::string_view text);

// The words by which parse errors name a token: "number 42", "a string",
// "'x'", "'('", "end of line", "def", "augassign(add)".
std::string describe_token(const Token &token);

// A compact one-line dump "Kind@line:col Kind(payload)@line:col ..." for
// tests and debugging.
std::string dump_tokens(const std::vector<Token> &tokens);

} // namespace kestal
