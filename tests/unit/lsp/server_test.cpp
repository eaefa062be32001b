// The server's replies to tables of JSON messages: requests and their
// answers, notifications and the document store, checks and published
// diagnostics, hover and definition answers, and the main loop over framed
// input.
#include "lsp/server.h"

#include "tests/unit/platform/test_support.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal::lsp {
namespace {

JsonValue parse(const std::string &text) {
    JsonParseResult parsed = json_parse(text);
    EXPECT_TRUE(parsed.ok()) << text << ": " << (parsed.ok() ? "" : parsed.error());
    return parsed.ok() ? parsed.value() : JsonValue();
}

// A server whose messages are collected as compact JSON texts.
struct Harness {
    LspServer server;
    std::vector<std::string> sent;
    Harness() {
        server.send = [this](const JsonValue &m) { sent.push_back(json_text(m)); };
    }
    std::optional<int> feed(const std::string &message) {
        return dispatch_lsp_message(server, parse(message));
    }
    std::vector<std::string> take() {
        std::vector<std::string> out = std::move(sent);
        sent.clear();
        return out;
    }
    void open(const std::string &uri, const std::string &text, const std::string &version = "1") {
        feed(R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":")" + uri +
             R"(","languageId":"kestal","version":)" + version + R"(,"text":)" +
             json_text(json_string(text)) + "}}}");
    }
    std::string request(const std::string &method, const std::string &uri, int line,
                        int character) {
        feed(R"({"jsonrpc":"2.0","id":7,"method":")" + method +
             R"(","params":{"textDocument":{"uri":")" + uri + R"("},"position":{"line":)" +
             std::to_string(line) + R"(,"character":)" + std::to_string(character) + "}}}");
        std::vector<std::string> out = take();
        return out.empty() ? "" : out.back();
    }
};

using Texts = std::vector<std::string>;

TEST(Dispatch, RequestsAndIgnoredMessages) {
    struct Case {
        const char *name;
        std::string message;
        Texts replies;
    };
    const Case cases[] = {
        {"initialize",
         R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"x":1}})",
         {R"({"jsonrpc":"2.0","id":1,"result":{"capabilities":{"textDocumentSync":{"openClose":true,"change":2},"hoverProvider":true,"definitionProvider":true},"serverInfo":{"name":"kestal","version":"1.3.1"}}})"}},
        {"unknown method keeps a string id",
         R"({"jsonrpc":"2.0","id":"a-1","method":"textDocument/completion"})",
         {R"({"jsonrpc":"2.0","id":"a-1","error":{"code":-32601,"message":"kestal lsp doesn't handle textDocument/completion"}})"}},
        {"exit with an id is an unknown request",
         R"({"id":[2],"method":"exit"})",
         {R"({"jsonrpc":"2.0","id":[2],"error":{"code":-32601,"message":"kestal lsp doesn't handle exit"}})"}},
        {"shutdown without an id is ignored", R"({"method":"shutdown"})", {}},
        {"a null id makes a notification", R"({"id":null,"method":"initialize"})", {}},
        {"no method", R"({"id":3,"result":null})", {}},
        {"method not a string", R"({"id":3,"method":5})", {}},
        {"not an object", R"([{"id":3,"method":"initialize"}])", {}},
        {"a string", R"("initialize")", {}},
        {"hover on a document not open",
         R"({"id":4,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///n.ktl"},"position":{"line":0,"character":0}}})",
         {R"({"jsonrpc":"2.0","id":4,"result":null})"}},
        {"definition with a fractional position",
         R"({"id":5,"method":"textDocument/definition","params":{"textDocument":{"uri":"file:///n.ktl"},"position":{"line":0.5,"character":0}}})",
         {R"({"jsonrpc":"2.0","id":5,"result":null})"}},
        {"hover without params",
         R"({"id":6,"method":"textDocument/hover"})",
         {R"({"jsonrpc":"2.0","id":6,"result":null})"}},
    };
    for (const Case &c : cases) {
        Harness h;
        EXPECT_EQ(h.feed(c.message), std::nullopt) << c.name;
        EXPECT_EQ(h.take(), c.replies) << c.name;
        EXPECT_FALSE(h.server.shutdown) << c.name;
    }
}

TEST(Dispatch, ExitCodeFollowsShutdown) {
    Harness before;
    EXPECT_EQ(before.feed(R"({"method":"exit"})"), 1);

    Harness after;
    EXPECT_EQ(after.feed(R"({"id":1,"method":"shutdown"})"), std::nullopt);
    EXPECT_EQ(after.take(), Texts{R"({"jsonrpc":"2.0","id":1,"result":null})"});
    // Requests after shutdown are still answered.
    after.feed(R"({"id":2,"method":"nothing"})");
    EXPECT_EQ(after.take().size(), 1u);
    EXPECT_EQ(after.feed(R"({"method":"exit","params":7})"), 0);
}

TEST(Documents, ChangesApplyInOrderOnUtf16Ranges) {
    auto change = [](const std::string &changes) {
        return R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"u","version":9},"contentChanges":)" +
               changes + "}}";
    };
    auto range = [](int l1, int c1, int l2, int c2) {
        return R"("range":{"start":{"line":)" + std::to_string(l1) + R"(,"character":)" +
               std::to_string(c1) + R"(},"end":{"line":)" + std::to_string(l2) +
               R"(,"character":)" + std::to_string(c2) + "}}";
    };
    struct Case {
        const char *name;
        std::string start;
        std::string changes;
        std::string text;
    };
    const Case cases[] = {
        {"whole text", "abc", R"([{"text":"xyz"}])", "xyz"},
        {"range", "hello world", "[{" + range(0, 6, 0, 11) + R"(,"text":"there"}])", "hello there"},
        {"reversed range", "hello world", "[{" + range(0, 11, 0, 6) + R"(,"text":"there"}])",
         "hello there"},
        {"zero length inserts", "ab", "[{" + range(0, 1, 0, 1) + R"(,"text":"X"}])", "aXb"},
        {"each on the previous result", "ab\ncd",
         "[{" + range(1, 0, 1, 2) + R"(,"text":"ZZZ"}, {)" + range(1, 3, 1, 3) +
             R"(,"text":"!"}, {"text":"whole"}, {)" + range(0, 0, 0, 0) + R"(,"text":">"}])",
         ">whole"},
        {"astral characters count twice",
         "a\xF0\x9F\x98\x80"
         "b\n",
         "[{" + range(0, 3, 0, 4) + R"(,"text":"c"}])",
         "a\xF0\x9F\x98\x80"
         "c\n"},
        {"lines past the end append", "ab", "[{" + range(5, 0, 6, 0) + R"(,"text":"!"}])", "ab!"},
        {"CR LF: past the end of a line stops before the line feed", "ab\r\ncd",
         "[{" + range(0, 9, 0, 9) + R"(,"text":"X"}])", "ab\rX\ncd"},
        {"range not an object counts as offsets 0", "ab", R"([{"range":5,"text":"<"}])", "<ab"},
        {"elements without a string text are skipped", "ab",
         R"([{"text":5}, 7, {"range":null,"text":"ok"}])", "ok"},
        {"no array", "ab", R"({"text":"x"})", "ab"},
    };
    for (const Case &c : cases) {
        Harness h;
        h.open("u", c.start);
        h.server.documents["u"].dirty = false;
        h.feed(change(c.changes));
        const Document &doc = h.server.documents["u"];
        EXPECT_EQ(doc.text, c.text) << c.name;
        EXPECT_TRUE(doc.dirty) << c.name;
        EXPECT_EQ(json_text(doc.version), "9") << c.name;
        EXPECT_TRUE(h.take().empty()) << c.name;
    }

    // A change for a document that is not open does nothing at all.
    Harness h;
    h.feed(change(R"([{"text":"x"}])"));
    EXPECT_TRUE(h.server.documents.empty());
}

TEST(Documents, OpenReplacesAndCloseClearsOnce) {
    Harness h;
    h.open("file:///a.ktl", "x = 1\n");
    check_document(h.server, "file:///a.ktl");
    ASSERT_TRUE(h.server.documents["file:///a.ktl"].analysis.has_value());
    h.take();
    // Opening again drops the kept program and analysis.
    h.open("file:///a.ktl", "y = 2\n", "null");
    const Document &doc = h.server.documents["file:///a.ktl"];
    EXPECT_FALSE(doc.program.has_value());
    EXPECT_FALSE(doc.analysis.has_value());
    EXPECT_TRUE(doc.dirty);
    EXPECT_TRUE(doc.version.is_null());

    h.feed(
        R"({"method":"textDocument/didClose","params":{"textDocument":{"uri":"file:///a.ktl"}}})");
    EXPECT_EQ(
        h.take(),
        Texts{
            R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":"file:///a.ktl","diagnostics":[]}})"});
    h.feed(
        R"({"method":"textDocument/didClose","params":{"textDocument":{"uri":"file:///a.ktl"}}})");
    EXPECT_TRUE(h.take().empty());
}

TEST(Checks, DiagnosticsFollowTheLatestCheck) {
    const std::string uri = "file:///t/p.ktl";
    const std::string good = "def twice(x):\n    return x * 2\n\nn = twice(4)\n";
    Harness h;
    h.open(uri, "s = '\xF0\x9F\x98\x80' + nope\n", "\"v1\"");
    check_document(h.server, uri);
    // The astral character before the error counts as two UTF-16 units.
    EXPECT_EQ(
        h.take(),
        Texts{
            R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":"file:///t/p.ktl","diagnostics":[{"range":{"start":{"line":0,"character":11},"end":{"line":0,"character":15}},"severity":1,"source":"kestal","message":"name 'nope' is not defined"}],"version":"v1"}})"});
    // Clean documents are not checked again.
    check_document(h.server, uri);
    EXPECT_TRUE(h.take().empty());

    h.open(uri, good);
    check_document(h.server, uri);
    EXPECT_EQ(
        h.take(),
        Texts{
            R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":"file:///t/p.ktl","diagnostics":[],"version":1}})"});
    const std::string hover_n =
        R"({"jsonrpc":"2.0","id":7,"result":{"contents":{"kind":"markdown","value":"```kestal\nn: int\n```"},"range":{"start":{"line":3,"character":0},"end":{"line":3,"character":1}}}})";
    EXPECT_EQ(h.request("textDocument/hover", uri, 3, 0), hover_n);

    // A syntax error: one diagnostic; hover still answers from the last
    // good program and analysis.
    h.feed(
        R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///t/p.ktl","version":2},"contentChanges":[{"range":{"start":{"line":4,"character":0},"end":{"line":4,"character":0}},"text":"if (:\n"}]}})");
    EXPECT_EQ(h.request("textDocument/hover", uri, 3, 0), hover_n);
    Document &doc = h.server.documents[uri];
    ASSERT_TRUE(doc.error.has_value());
    EXPECT_EQ(doc.error->line, 5u);

    // An error of code generation: the new program replaces the old one,
    // the old analysis stays.
    h.feed(
        R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///t/p.ktl"},"contentChanges":[{"text":"def other(y):\n    return y\n\nn = 1\nn = 'a'\n"}]}})");
    check_document(h.server, uri);
    Texts published = h.take();
    ASSERT_EQ(published.size(), 1u);
    EXPECT_NE(published[0].find(
                  R"("range":{"start":{"line":4,"character":0},"end":{"line":4,"character":1}})"),
              std::string::npos)
        << published[0];
    EXPECT_EQ(published[0].find("\"version\""), std::string::npos) << "no version was sent";
    ASSERT_TRUE(doc.program.has_value());
    EXPECT_EQ(doc.program->functions.at(0).name, "other");
    ASSERT_TRUE(doc.analysis.has_value());
    EXPECT_EQ(doc.analysis->instances.at(0).name, "twice");
}

TEST(Requests, HoverAndDefinitionAnswers) {
    const std::string uri = "file:///t/q.ktl";
    Harness h;
    h.open(uri, "def f(s='\xF0\x9F\x98\x80', a=1):\n    return a\n\nclass P:\n    def m(self):\n"
                "        self.v = 1\n\nclass Q(P):\n    def m(self):\n        self.v = 2\n\n"
                "x = f()\n");
    // Hovering checks the changed document first: its diagnostics come
    // before the answer.
    std::string hover = h.request("textDocument/hover", uri, 11, 4);
    EXPECT_EQ(h.server.documents[uri].dirty, false);
    EXPECT_NE(hover.find("def f(s: str, a: int) -> int"), std::string::npos) << hover;

    struct Case {
        const char *name;
        int line;
        int character;
        std::string result;
    };
    const Case cases[] = {
        // One site: a Location object; its characters are UTF-16 units.
        {"parameter after an astral character", 1, 12,
         R"({"uri":"file:///t/q.ktl","range":{"start":{"line":0,"character":14},"end":{"line":0,"character":15}}})"},
        // Several sites: an array.
        {"attribute in two classes", 5, 14,
         R"([{"uri":"file:///t/q.ktl","range":{"start":{"line":5,"character":13},"end":{"line":5,"character":14}}},{"uri":"file:///t/q.ktl","range":{"start":{"line":9,"character":13},"end":{"line":9,"character":14}}}])"},
        {"a module variable", 11, 0,
         R"({"uri":"file:///t/q.ktl","range":{"start":{"line":11,"character":0},"end":{"line":11,"character":1}}})"},
        {"a keyword", 1, 5, "null"},
        {"line past the end", 40, 0, "null"},
        {"negative line", -1, 0, "null"},
        {"negative character is past the end of the line", 11, -3, "null"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(h.request("textDocument/definition", uri, c.line, c.character),
                  R"({"jsonrpc":"2.0","id":7,"result":)" + c.result + "}")
            << c.name;
}

// A byte-order mark opening the document is line 0's first character to the
// client and nothing to the compiler: a def or class header on that line is
// found, and positions on it count the mark.
TEST(Requests, ByteOrderMarkOnTheFirstLine) {
    const std::string uri = "file:///t/b.ktl";
    Harness h;
    h.open(uri, "\xEF\xBB\xBF"
                "def twice(x):\n    return x + x\ny = twice(2)\n");
    auto site = [&](int line, int start, int end) {
        return fmt::format(
            R"({{"jsonrpc":"2.0","id":7,"result":{{"uri":"{}","range":{{"start":{{"line":{},"character":{}}},"end":{{"line":{},"character":{}}}}}}}}})",
            uri, line, start, line, end);
    };
    EXPECT_EQ(h.request("textDocument/definition", uri, 2, 5), site(0, 5, 10));
    // The header itself; the mark and the keyword after it name nothing.
    std::string header = h.request("textDocument/hover", uri, 0, 6);
    EXPECT_NE(header.find("def twice(x: int) -> int"), std::string::npos) << header;
    EXPECT_NE(header.find(
                  R"("range":{"start":{"line":0,"character":5},"end":{"line":0,"character":10}})"),
              std::string::npos)
        << header;
    EXPECT_EQ(h.request("textDocument/hover", uri, 0, 0),
              R"({"jsonrpc":"2.0","id":7,"result":null})");
    EXPECT_EQ(h.request("textDocument/definition", uri, 0, 1),
              R"({"jsonrpc":"2.0","id":7,"result":null})");

    h.open(uri, "\xEF\xBB\xBF"
                "total = 3\nprint(total)\n");
    EXPECT_EQ(h.request("textDocument/definition", uri, 1, 8), site(0, 1, 6));
}

// A library imported by a document on disk is found beside it, and its
// members hover with their manifest signatures.
TEST(Requests, HoverOnLibraryMembers) {
    platform::test_support::ScratchDir scratch;
    scratch.write("libraries/geo/library.json",
                  R"({"name": "geo", "version": "2.0.1", "functions": {"dist": {"c": "geo_dist", )"
                  R"("returns": "float", "args": [["a", "float"], ["b", "float", "0.5"]]}}, )"
                  R"("constants": {"EARTH": ["float", "6371.0"]}})");
    scratch.write("libraries/geo/geo.h", "double geo_dist(double a, double b);\n");
    platform::test_support::ScopedEnv env;
    env.unset("KESTAL_LIBS");
    env.set("LOCALAPPDATA", scratch / "nothing");
    const std::string uri = "file://" + scratch / "p.ktl";
    Harness h;
    h.open(uri, "import geo as g\nd = g.dist(1.0)\nprint(g.EARTH)\n");
    std::string function = h.request("textDocument/hover", uri, 1, 7);
    EXPECT_NE(function.find("def geo.dist(a: float, b: float = 0.5) -> float"), std::string::npos)
        << function;
    EXPECT_NE(function.find("Library geo 2.0.1 (" + scratch / "libraries/geo" + ")."),
              std::string::npos)
        << function;
    std::string constant = h.request("textDocument/hover", uri, 2, 9);
    EXPECT_NE(constant.find("geo.EARTH: float"), std::string::npos) << constant;
}

TEST(Requests, NoAnalysisNoHoverButDefinitionsFromTheParse) {
    const std::string uri = "file:///t/r.ktl";
    Harness h;
    // Parses, fails in code generation: a program but no analysis yet.
    h.open(uri, "v = 1\nv = 'a'\nprint(v)\n");
    EXPECT_EQ(h.request("textDocument/hover", uri, 2, 6),
              R"({"jsonrpc":"2.0","id":7,"result":null})");
    EXPECT_EQ(
        h.request("textDocument/definition", uri, 2, 6),
        R"({"jsonrpc":"2.0","id":7,"result":{"uri":"file:///t/r.ktl","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":1}}}})");
    // Never parsed: neither.
    h.open(uri, "v = (\nprint(v)\n");
    EXPECT_EQ(h.request("textDocument/definition", uri, 1, 6),
              R"({"jsonrpc":"2.0","id":7,"result":null})");
}

// The main loop over framed input.
struct Served {
    int status;
    Texts sent;
    std::string report;
};

Served serve(const std::string &input) {
    Served out{0, {}, {}};
    out.status = serve_lsp(
        std::make_shared<StringSource>(input),
        [&](const JsonValue &m) { out.sent.push_back(json_text(m)); },
        [&](std::string_view text) { out.report += text; });
    return out;
}

std::string framed(const std::string &body) {
    return frame_message(body);
}

TEST(MainLoop, StatusesErrorsAndExit) {
    const std::string shutdown = framed(R"({"id":1,"method":"shutdown"})");
    const std::string exit = framed(R"({"method":"exit"})");
    const std::string late = framed(R"({"id":2,"method":"initialize"})");
    struct Case {
        const char *name;
        std::string input;
        int status;
        std::size_t replies;
        std::string report;
    };
    const Case cases[] = {
        {"end without shutdown", late, 1, 1, ""},
        {"end after shutdown", shutdown, 0, 1, ""},
        {"exit first", exit + late, 1, 0, ""},
        {"shutdown then exit; what follows exit is never handled", shutdown + exit + late, 0, 1,
         ""},
        {"bad bodies are reported and skipped",
         framed("\xC3(") + framed("") + framed("{\"a\" 1}") + shutdown, 0, 1,
         "kestal lsp: message is not UTF-8\nkestal lsp: unexpected end of JSON at byte 0\n"
         "kestal lsp: expected ':' at byte 5\n"},
        {"a body cut short ends the input", shutdown + "Content-Length: 90\r\n\r\n{", 0, 1, ""},
        {"nothing at all", "", 1, 0, ""},
    };
    for (const Case &c : cases) {
        Served s = serve(c.input);
        EXPECT_EQ(s.status, c.status) << c.name;
        EXPECT_EQ(s.sent.size(), c.replies) << c.name;
        EXPECT_EQ(s.report, c.report) << c.name;
    }
}

TEST(MainLoop, ChecksAfterTheBatchAndOnRequest) {
    const std::string open = framed(
        R"({"method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///m.ktl","version":1,"text":"a = 1\nb = a +\n"}}})");
    const std::string fix = framed(
        R"({"method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///m.ktl","version":2},"contentChanges":[{"range":{"start":{"line":1,"character":7},"end":{"line":1,"character":7}},"text":" 1"}]}})");
    Served s = serve(open + fix);
    ASSERT_FALSE(s.sent.empty());
    // However the messages were batched, the last word on the document is
    // the check of the fixed text.
    EXPECT_EQ(
        s.sent.back(),
        R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics","params":{"uri":"file:///m.ktl","diagnostics":[],"version":2}})");
    EXPECT_LE(s.sent.size(), 2u);
}

} // namespace
} // namespace kestal::lsp
