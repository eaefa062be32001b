// Document checks. The checking thread owns copies of the text and URI and
// hands its outcome back by value; it touches no server state.
#include "lsp/checker.h"

#include "lexer/lexer.h"
#include "libraries/resolve.h"
#include "lsp/text.h"
#include "parser/parser.h"
#include "platform/thread.h"

#include <algorithm>
#include <exception>

namespace kestal::lsp {

CheckOutcome analysis_job(const std::string &text, const std::string &uri) {
    CheckOutcome outcome{std::nullopt, DocumentAnalysis{}};
    try {
        outcome.program = parse_module(text);
    } catch (const CompileError &error) {
        outcome.result = error;
        return outcome;
    }
    // Imports are resolved against the file's folder; a document that is
    // no local file (`uri_to_path` gives none) finds only the libraries of
    // KESTAL_LIBS and the installed ones.
    try {
        resolve_imports(*outcome.program, uri_to_path(uri));
        CodegenOutput output = generate_program(*outcome.program, CodegenOptions{uri, false});
        outcome.result = DocumentAnalysis{std::move(output.instances), std::move(output.variables),
                                          std::move(output.classes)};
    } catch (const CompileError &error) {
        outcome.result = error;
    }
    return outcome;
}

CheckOutcome run_check(const std::string &text, const std::string &uri) {
    CheckOutcome failed{std::nullopt, CompileError{std::string(kInternalCheckError), 1, 1}};
    try {
        platform::Result<CheckOutcome> outcome = platform::run_on_thread(
            platform::kBigStackBytes, [&] { return analysis_job(text, uri); });
        if (!outcome)
            return failed;
        return std::move(*outcome);
    } catch (...) {
        // Any fault of the compiler (a broken invariant, memory exhaustion)
        // is this document's problem, never the server's end.
        return failed;
    }
}

DiagnosticSpan diagnostic_span(const CompileError &error, std::string_view text) {
    std::vector<std::string_view> lines = document_lines(text);
    std::uint64_t error_line = std::max<std::uint64_t>(error.line, 1);
    std::size_t li =
        static_cast<std::size_t>(std::min<std::uint64_t>(error_line - 1, lines.size() - 1));
    Chars chars = decode_chars(lines[li]);
    std::size_t n = chars.size();
    std::uint64_t c0 = error.column == 0 ? 0 : error.column - 1;
    // The lexer counts line 1's columns from after a byte-order mark; here
    // the mark is the line's first character.
    if (li == 0 && text.starts_with(kByteOrderMark))
        ++c0;
    std::size_t ci = static_cast<std::size_t>(std::min<std::uint64_t>(c0, n));
    std::optional<CursorWord> word = word_at_position(lines[li], ci);
    std::size_t end;
    if (word && word->start == ci)
        end = word->end;
    else
        end = c0 < n ? ci + 1 : ci;
    std::size_t start = ci;
    if (start == end && start != 0)
        start = ci - 1;
    return DiagnosticSpan{li, start, end};
}

} // namespace kestal::lsp
