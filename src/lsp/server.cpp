// Requests, notifications and the document store. Member lookups go
// through `json_get`, so a missing member, a null one and a member of
// something that is not an object all read as null; each reader below says
// what that means. A request that cannot be served is answered with a null
// result, never an error; only unknown methods get the error answer.
#include "lsp/server.h"

#include "lexer/lexer.h"
#include "lsp/definition.h"
#include "lsp/hover.h"
#include "lsp/text.h"
#include "support/version.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>

namespace kestal::lsp {

namespace {

constexpr double kMethodNotFound = -32601;

JsonValue object(std::initializer_list<std::pair<const char *, JsonValue>> members) {
    JsonValue value = JsonValue::object();
    for (const auto &[key, member] : members)
        value.push(key, member);
    return value;
}

const std::string *string_member(const JsonValue &value, std::string_view key) {
    return json_get(value, key).string_if();
}

// A whole number as an integer: saturating at the 64-bit limits; none for
// anything else (another kind, a fraction, an infinity, NaN).
std::optional<std::int64_t> whole_number(const JsonValue &value) {
    std::optional<double> x = value.number_if();
    if (!x || !std::isfinite(*x) || std::trunc(*x) != *x)
        return std::nullopt;
    if (*x >= 9223372036854775807.0)
        return INT64_MAX;
    if (*x <= -9223372036854775808.0)
        return INT64_MIN;
    return static_cast<std::int64_t>(*x);
}

// A protocol index for a position conversion: negative and unusable
// values are 0.
std::uint64_t index_or_zero(const JsonValue &value) {
    std::optional<double> x = value.number_if();
    if (!x || !std::isfinite(*x) || std::trunc(*x) != *x || *x <= 0)
        return 0;
    if (*x >= 18446744073709551615.0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(*x);
}

std::string text_document_uri(const JsonValue &params) {
    const std::string *uri = string_member(json_get(params, "textDocument"), "uri");
    return uri ? *uri : std::string();
}

void answer(LspServer &server, const JsonValue &id, const char *kind, JsonValue payload) {
    server.send(object({{"jsonrpc", json_string("2.0")}, {"id", id}, {kind, std::move(payload)}}));
}

JsonValue capabilities() {
    return object({{"capabilities",
                    object({{"textDocumentSync", object({{"openClose", JsonValue::boolean(true)},
                                                         {"change", JsonValue::number(2)}})},
                            {"hoverProvider", JsonValue::boolean(true)},
                            {"definitionProvider", JsonValue::boolean(true)}})},
                   {"serverInfo", object({{"name", json_string("kestal")},
                                          {"version", json_string(kVersion)}})}});
}

JsonValue make_range(std::size_t line, std::string_view line_text, std::size_t start,
                     std::size_t end) {
    return object({{"start", make_position(line, line_text, start)},
                   {"end", make_position(line, line_text, end)}});
}

// The document and position a hover or definition request names, after
// the document is checked if it changed.
struct RequestTarget {
    std::string uri;
    const Document *document = nullptr;
    // Past every end when the client sent a negative number.
    std::size_t line = 0;
    std::uint64_t character = 0;
};

std::optional<RequestTarget> hover_request_target(LspServer &server, const JsonValue &params) {
    const std::string *uri = string_member(json_get(params, "textDocument"), "uri");
    const JsonValue &position = json_get(params, "position");
    std::optional<std::int64_t> line = whole_number(json_get(position, "line"));
    std::optional<std::int64_t> character = whole_number(json_get(position, "character"));
    if (!uri || !position.object_if() || !line || !character)
        return std::nullopt;
    check_document(server, *uri);
    auto found = server.documents.find(*uri);
    if (found == server.documents.end())
        return std::nullopt;
    auto past_end = [](std::int64_t n) {
        return n < 0 ? UINT64_MAX : static_cast<std::uint64_t>(n);
    };
    std::uint64_t line_index = past_end(*line);
    return RequestTarget{*uri, &found->second,
                         static_cast<std::size_t>(std::min<std::uint64_t>(line_index, SIZE_MAX)),
                         past_end(*character)};
}

// The word under the request's cursor, with the document's lines. The lines
// are the compiler's: a byte-order mark opening the document is not part of
// line 0, as the lexer skips it, though the client counts it as that line's
// first character; `range` converts back.
struct CursorTarget {
    RequestTarget target;
    std::vector<std::string_view> lines;
    CursorWord word;
    bool byte_order_mark = false;

    JsonValue range(std::size_t line, std::size_t start, std::size_t end) const {
        if (line != 0 || !byte_order_mark)
            return make_range(line, lines[line], start, end);
        std::string_view text = target.document->text;
        std::string_view marked = text.substr(0, kByteOrderMark.size() + lines[0].size());
        return make_range(0, marked, start + 1, end + 1);
    }
};

std::optional<CursorTarget> cursor_target(LspServer &server, const JsonValue &params) {
    std::optional<RequestTarget> target = hover_request_target(server, params);
    if (!target)
        return std::nullopt;
    std::string_view text = target->document->text;
    bool mark = text.starts_with(kByteOrderMark);
    std::vector<std::string_view> client_lines = document_lines(text);
    if (target->line >= client_lines.size())
        return std::nullopt;
    std::size_t index = character_to_char_index(client_lines[target->line], target->character);
    if (mark && target->line == 0) {
        if (index == 0)
            return std::nullopt;
        --index;
    }
    std::vector<std::string_view> lines =
        document_lines(mark ? text.substr(kByteOrderMark.size()) : text);
    std::optional<CursorWord> word = word_at_position(lines[target->line], index);
    if (!word)
        return std::nullopt;
    return CursorTarget{std::move(*target), std::move(lines), std::move(*word), mark};
}

JsonValue hover_answer(LspServer &server, const JsonValue &params) {
    std::optional<CursorTarget> cursor = cursor_target(server, params);
    if (!cursor)
        return JsonValue();
    const Document &doc = *cursor->target.document;
    if (!doc.program || !doc.analysis)
        return JsonValue();
    std::size_t li = cursor->target.line;
    HoverContext ctx{enclosing_def_or_class(cursor->lines, li), *doc.program, *doc.analysis,
                     cursor->lines, li};
    std::optional<std::string> text = hover_text(ctx, cursor->word);
    if (!text)
        return JsonValue();
    return object(
        {{"contents", object({{"kind", json_string("markdown")}, {"value", json_string(*text)}})},
         {"range", cursor->range(li, cursor->word.start, cursor->word.end)}});
}

JsonValue definition_answer(LspServer &server, const JsonValue &params) {
    std::optional<CursorTarget> cursor = cursor_target(server, params);
    if (!cursor)
        return JsonValue();
    const Document &doc = *cursor->target.document;
    if (!doc.program)
        return JsonValue();
    static const DocumentAnalysis empty;
    std::size_t li = cursor->target.line;
    HoverContext ctx{enclosing_def_or_class(cursor->lines, li), *doc.program,
                     doc.analysis ? *doc.analysis : empty, cursor->lines, li};
    std::size_t length = cursor->word.end - cursor->word.start;
    JsonArray locations;
    for (const Site &site : definition_sites(ctx, cursor->word)) {
        if (site.line >= cursor->lines.size())
            continue;
        locations.push_back(
            object({{"uri", json_string(cursor->target.uri)},
                    {"range", cursor->range(site.line, site.character, site.character + length)}}));
    }
    if (locations.empty())
        return JsonValue();
    if (locations.size() == 1)
        return std::move(locations.front());
    return JsonValue::array(std::move(locations));
}

void handle_request(LspServer &server, const std::string &method, const JsonValue &id,
                    const JsonValue &params) {
    if (method == "initialize") {
        answer(server, id, "result", capabilities());
    } else if (method == "shutdown") {
        server.shutdown = true;
        answer(server, id, "result", JsonValue());
    } else if (method == "textDocument/hover") {
        answer(server, id, "result", hover_answer(server, params));
    } else if (method == "textDocument/definition") {
        answer(server, id, "result", definition_answer(server, params));
    } else {
        answer(server, id, "error",
               object({{"code", JsonValue::number(kMethodNotFound)},
                       {"message",
                        json_string(fmt::format("kestal lsp doesn't handle {}", method))}}));
    }
}

void did_open(LspServer &server, const std::string &uri, const JsonValue &params) {
    const JsonValue &item = json_get(params, "textDocument");
    const std::string *text = string_member(item, "text");
    Document doc;
    doc.text = text ? *text : std::string();
    doc.version = json_get(item, "version");
    server.documents.insert_or_assign(uri, std::move(doc));
}

// Each change works on the text the previous one left; a range given in
// either order replaces the span between its two ends.
void did_change(LspServer &server, const std::string &uri, const JsonValue &params) {
    auto found = server.documents.find(uri);
    if (found == server.documents.end())
        return;
    Document &doc = found->second;
    if (const JsonArray *changes = json_get(params, "contentChanges").array_if()) {
        for (const JsonValue &change : *changes) {
            const std::string *text = string_member(change, "text");
            if (!change.object_if() || !text)
                continue;
            const JsonValue &range = json_get(change, "range");
            if (range.is_null()) {
                doc.text = *text;
                continue;
            }
            std::size_t a = lsp_position_to_offset(doc.text, json_get(range, "start"));
            std::size_t b = lsp_position_to_offset(doc.text, json_get(range, "end"));
            std::size_t low = std::min(a, b);
            doc.text.replace(low, std::max(a, b) - low, *text);
        }
    }
    doc.version = json_get(json_get(params, "textDocument"), "version");
    doc.dirty = true;
}

std::optional<int> handle_notification(LspServer &server, const std::string &method,
                                       const JsonValue &params) {
    std::string uri = text_document_uri(params);
    if (method == "exit")
        return server.shutdown ? 0 : 1;
    if (method == "textDocument/didOpen") {
        did_open(server, uri, params);
    } else if (method == "textDocument/didChange") {
        did_change(server, uri, params);
    } else if (method == "textDocument/didClose") {
        if (server.documents.erase(uri) > 0)
            publish_diagnostics(server, uri, JsonValue(), {});
    }
    return std::nullopt;
}

} // namespace

JsonValue make_position(std::size_t line, std::string_view line_text, std::size_t index) {
    return object({{"line", JsonValue::number(static_cast<double>(line))},
                   {"character", JsonValue::number(static_cast<double>(
                                     utf16_units(decode_chars(line_text), index)))}});
}

std::size_t lsp_position_to_offset(std::string_view text, const JsonValue &position) {
    return position_to_offset(text, index_or_zero(json_get(position, "line")),
                              index_or_zero(json_get(position, "character")));
}

std::optional<int> dispatch_lsp_message(LspServer &server, const JsonValue &message) {
    const std::string *method = string_member(message, "method");
    if (!method)
        return std::nullopt;
    const JsonValue &params = json_get(message, "params");
    const JsonValue &id = json_get(message, "id");
    if (!id.is_null()) {
        handle_request(server, *method, id, params);
        return std::nullopt;
    }
    return handle_notification(server, *method, params);
}

void check_document(LspServer &server, const std::string &uri) {
    auto found = server.documents.find(uri);
    if (found == server.documents.end() || !found->second.dirty)
        return;
    Document &doc = found->second;
    doc.dirty = false;
    CheckOutcome outcome = run_check(doc.text, uri);
    if (outcome.program)
        doc.program = std::move(*outcome.program);
    JsonArray diagnostics;
    if (auto *analysis = std::get_if<DocumentAnalysis>(&outcome.result)) {
        doc.analysis = std::move(*analysis);
        doc.error.reset();
    } else {
        const CompileError &error = std::get<CompileError>(outcome.result);
        doc.error = error;
        diagnostics.push_back(make_diagnostic(error, doc.text));
    }
    publish_diagnostics(server, uri, doc.version, std::move(diagnostics));
}

JsonValue make_diagnostic(const CompileError &error, std::string_view text) {
    DiagnosticSpan span = diagnostic_span(error, text);
    std::vector<std::string_view> lines = document_lines(text);
    return object({{"range", make_range(span.line, lines[span.line], span.start, span.end)},
                   {"severity", JsonValue::number(1)},
                   {"source", json_string("kestal")},
                   {"message", json_string(error.message)}});
}

void publish_diagnostics(LspServer &server, const std::string &uri, const JsonValue &version,
                         JsonArray diagnostics) {
    JsonValue params = object(
        {{"uri", json_string(uri)}, {"diagnostics", JsonValue::array(std::move(diagnostics))}});
    if (!version.is_null())
        params.push("version", version);
    server.send(object({{"jsonrpc", json_string("2.0")},
                        {"method", json_string("textDocument/publishDiagnostics")},
                        {"params", std::move(params)}}));
}

} // namespace kestal::lsp
