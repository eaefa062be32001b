// Fuzz target over the language server's request handling: the input is a
// session of JSON-RPC messages, one per line, each handed to the server's
// dispatch as the main loop hands it; an empty line ends a batch, after
// which every changed document is checked, as the main loop does. Lines
// that are not JSON are skipped (the framing and JSON targets cover those).
//
// Besides a crash, a leak, undefined behaviour or an exception escaping,
// these are findings: a request (a message with a method and a non-null id)
// not answered exactly once with its own id, any message of the server that
// is not JSON-RPC 2.0 or doesn't read back as the same JSON, and a
// diagnostic or answer range whose positions are not whole numbers >= 0.
#include "lsp/server.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace kestal;
using namespace kestal::lsp;

namespace {

[[noreturn]] void finding(const char *what, const JsonValue &message) {
    std::fprintf(stderr, "lsp fuzz finding: %s: %s\n", what, json_text(message).c_str());
    std::abort();
}

bool is_index(const JsonValue &value) {
    std::optional<double> x = value.number_if();
    return x && std::isfinite(*x) && *x >= 0 && std::trunc(*x) == *x;
}

// Every "start"/"end" position anywhere in the message holds whole numbers.
void check_positions(const JsonValue &value, const JsonValue &message) {
    if (const JsonObject *members = value.object_if()) {
        for (const JsonMember &member : *members) {
            if (member.key == "start" || member.key == "end") {
                if (!is_index(json_get(member.value, "line")) ||
                    !is_index(json_get(member.value, "character")))
                    finding("a position that is not a whole number", message);
            }
            check_positions(member.value, message);
        }
    } else if (const JsonArray *items = value.array_if()) {
        for (const JsonValue &item : *items)
            check_positions(item, message);
    }
}

void check_sent(const JsonValue &message) {
    const std::string *version = json_get(message, "jsonrpc").string_if();
    if (!version || *version != "2.0")
        finding("a message without jsonrpc 2.0", message);
    std::string text = json_text(message);
    JsonParseResult again = json_parse(text);
    if (!again.ok() || json_text(again.value()) != text)
        finding("a message that doesn't read back", message);
    check_positions(message, message);
}

// How many of the sent messages answer the id.
std::size_t answers_to(const std::vector<JsonValue> &sent, std::size_t from, const JsonValue &id) {
    std::size_t count = 0;
    for (std::size_t i = from; i < sent.size(); ++i) {
        const JsonValue &m = sent[i];
        if (json_get(m, "method").is_null() && json_get(m, "id") == id)
            ++count;
    }
    return count;
}

void check_dirty_documents(LspServer &server) {
    std::vector<std::string> uris;
    for (const auto &[uri, doc] : server.documents)
        uris.push_back(uri);
    for (const std::string &uri : uris)
        check_document(server, uri);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<JsonValue> sent;
    LspServer server;
    server.send = [&sent](const JsonValue &m) {
        check_sent(m);
        sent.push_back(m);
    };
    std::size_t start = 0;
    while (start <= input.size()) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos)
            end = input.size();
        std::string_view line = input.substr(start, end - start);
        start = end + 1;
        if (line.empty()) {
            check_dirty_documents(server);
            continue;
        }
        JsonParseResult parsed = json_parse(line);
        if (!parsed.ok())
            continue;
        const JsonValue &message = parsed.value();
        std::size_t before = sent.size();
        std::optional<int> exit_code = dispatch_lsp_message(server, message);
        const JsonValue &id = json_get(message, "id");
        bool request = json_get(message, "method").string_if() && !id.is_null();
        if (request && answers_to(sent, before, id) != 1)
            finding("a request not answered exactly once", message);
        if (exit_code) {
            if (*exit_code != 0 && *exit_code != 1)
                finding("an exit status other than 0 or 1", message);
            return 0;
        }
    }
    check_dirty_documents(server);
    return 0;
}
