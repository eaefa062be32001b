// The language server, `kestal lsp`: one editor served over the Language
// Server Protocol on standard input and output. A reader thread cuts the
// input into framed JSON-RPC messages and queues them; the main loop handles
// everything queued as one batch, then checks each document that changed,
// so a burst of edits costs one check. The server answers initialize,
// shutdown, hover and definition, keeps the open documents from the
// didOpen, didChange and didClose notifications, and publishes one
// diagnostic per document (the compiler stops at its first error).
//
// All server state belongs to the main thread; the channel is the only thing
// it shares with the reader, and a check runs on a thread of its own that
// the main thread joins at once.
#pragma once

#include "ast/program.h"
#include "lsp/checker.h"
#include "lsp/framing.h"
#include "support/compile_error.h"
#include "json/json.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

namespace kestal::lsp {

// One open file.
struct Document {
    std::string text;
    // From the latest check whose parse succeeded.
    std::optional<Program> program;
    // From the latest check that succeeded.
    std::optional<DocumentAnalysis> analysis;
    // The latest check's error; a successful check clears it.
    std::optional<CompileError> error;
    // The version the client sent last, exactly as sent; null when none.
    JsonValue version;
    // The text changed since the last check.
    bool dirty = true;
};

struct LspServer {
    // By URI, exactly as the client sent it.
    std::unordered_map<std::string, Document> documents;
    bool shutdown = false;
    // Where the server's messages go: framed onto standard output in the
    // running server, collected by tests.
    std::function<void(const JsonValue &)> send;
};

// Handles one message: answers requests, applies notifications. Returns
// the exit status only for the "exit" notification.
std::optional<int> dispatch_lsp_message(LspServer &server, const JsonValue &message);

// Checks the document if it is open and changed, keeps what the check
// found, and publishes its diagnostics.
void check_document(LspServer &server, const std::string &uri);

// The diagnostic of an error, its range placed on the current text.
JsonValue make_diagnostic(const CompileError &error, std::string_view text);

// One "textDocument/publishDiagnostics" notification; "version" only when
// the version is not null.
void publish_diagnostics(LspServer &server, const std::string &uri, const JsonValue &version,
                         JsonArray diagnostics);

// {"line": line, "character": UTF-16 units of the first `index` characters}.
JsonValue make_position(std::size_t line, std::string_view line_text, std::size_t index);

// The byte offset of a protocol Position in the text; a member that is not
// a whole number counts as 0, a negative one as 0.
std::size_t lsp_position_to_offset(std::string_view text, const JsonValue &position);

// ---- Transport ----

// The error text of a body that is not UTF-8 or not JSON.
struct LspInputError {
    std::string text;
};
struct LspInputEnd {};
using LspInput = std::variant<JsonValue, LspInputError, LspInputEnd>;

// Reads one framed message and parses its body.
LspInput read_lsp_message(FrameReader &reader);

// Writes one framed message to standard output under a lock and flushes;
// failures are ignored (the message is lost).
void write_lsp_message(const JsonValue &message);

// The main loop over any input; messages go to `send`, error texts to
// `report` as "kestal lsp: {}\n". Returns the exit status: the one chosen
// by "exit", else 0 after "shutdown" and 1 without when the input ends.
int serve_lsp(std::shared_ptr<ByteSource> input, std::function<void(const JsonValue &)> send,
              std::function<void(std::string_view)> report);

// `kestal lsp`: the main loop over standard input and output.
int run_lsp_server();

} // namespace kestal::lsp
