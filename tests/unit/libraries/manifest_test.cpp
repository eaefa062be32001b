// Library manifests: the type texts, parameter defaults, a complete manifest
// read into its record, and one row per message of a broken manifest or
// header, each checked with its full path prefix.
#include "libraries/manifest.h"

#include "ast/printer.h"
#include "tests/unit/platform/test_support.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using platform::test_support::ScratchDir;

std::string describe(const LibraryResult<Type> &result) {
    if (const auto *error = std::get_if<std::string>(&result))
        return "error " + *error;
    return "type " + type_display(std::get<Type>(result));
}

TEST(LibraryManifest, TypeTexts) {
    const std::string refused = " isn't supported (int, float, bool, str, None, list[int], "
                                "list[float], list[bool], list[str])";
    const std::pair<std::string, std::string> rows[] = {
        {"int", "type int"},
        {"float", "type float"},
        {"bool", "type bool"},
        {" str\t", "type str"},
        {"None", "type None"},
        {"list[int]", "type list[int]"},
        {"list[ float ]", "type list[float]"},
        {"list[bool]", "type list[bool]"},
        {"list[str]", "type list[str]"},
        {"list [int]", "error type 'list [int]'" + refused},
        {"list[list[int]]", "error type 'list[list[int]]'" + refused},
        {"list[None]", "error type 'list[None]'" + refused},
        {"list[]", "error type 'list[]'" + refused},
        {"  Int ", "error type 'Int'" + refused},
        {"dict[str, int]", "error type 'dict[str, int]'" + refused},
        {"", "error type ''" + refused},
    };
    for (const auto &[text, expected] : rows)
        EXPECT_EQ(describe(parse_library_type(text)), expected) << text;
}

TEST(LibraryManifest, DefaultLiterals) {
    struct Row {
        std::string text;
        Type type;
        // The dumped literal, or the error text.
        std::string expected;
    };
    const Row rows[] = {
        {"-3", Type::int_(), ""},
        {"2", Type::float_(), ""},
        {"-2", Type::float_(), ""},
        {"2.5", Type::float_(), ""},
        {"-2.5", Type::float_(), ""},
        {"'hi'", Type::str(), ""},
        {"\"\"", Type::str(), ""},
        {"True", Type::bool_(), ""},
        {"False", Type::bool_(), ""},
        {"[]", Type::list(Type::int_()), ""},
        {"[]", Type::list(Type::str()), ""},
        {"-2.5", Type::int_(), "'-2.5' isn't a int literal"},
        {"None", Type::str(), "'None' isn't a str literal"},
        {"1", Type::bool_(), "'1' isn't a bool literal"},
        {"[1]", Type::list(Type::int_()), "'[1]' isn't a list[int] literal"},
        {"1 + 2", Type::int_(), "'1 + 2' isn't a int literal"},
        {"~1", Type::int_(), "'~1' isn't a int literal"},
        {"f'x'", Type::str(), "'f'x'' isn't a str literal"},
        {"x", Type::int_(), "'x' isn't a int literal"},
        {"1 2", Type::int_(), "expected one expression, found number 2"},
    };
    for (const Row &row : rows) {
        LibraryResult<Expr> result = check_default_literal(row.text, row.type);
        const auto *error = std::get_if<std::string>(&result);
        EXPECT_EQ(error ? *error : std::string(), row.expected) << row.text;
    }
}

TEST(LibraryManifest, Helpers) {
    for (std::string_view good : {"f", "_", "a1", "demo_add", "_X9"})
        EXPECT_TRUE(is_c_identifier(good)) << good;
    for (std::string_view bad : {"", "2fast", "my-func", "a.b", "caf\xc3\xa9", "a b"})
        EXPECT_FALSE(is_c_identifier(bad)) << bad;

    std::vector<LibraryParam> params{{"a", Type::int_(), std::nullopt}};
    EXPECT_TRUE(params_contain_name(params, "a"));
    EXPECT_FALSE(params_contain_name(params, "b"));

    std::map<std::string, LibraryFunction> functions{{"e", {}}, {"pi", {}}, {"tau", {}}};
    std::map<std::string, LibraryConstant> constants{{"tau", {}}, {"pi", {}}};
    EXPECT_EQ(find_function_constant_clash(functions, constants), "pi");
    constants.clear();
    EXPECT_EQ(find_function_constant_clash(functions, constants), std::nullopt);
}

// A library folder `demo` holding the manifest and, unless told otherwise,
// its header.
struct DemoFolder {
    ScratchDir scratch;
    std::string folder = scratch / "demo";

    explicit DemoFolder(const std::string &manifest, bool with_header = true) {
        scratch.write("demo/library.json", manifest);
        if (with_header)
            scratch.write("demo/demo.h", "int demo_add(int a, int b);\n");
    }
    LibraryResult<Library> load(std::string_view name = "demo") const {
        return load_library(name, folder);
    }
};

TEST(LibraryManifest, LoadsAWholeManifest) {
    DemoFolder demo(R"({
        "name": "demo", "version": "0.2-beta", "link": ["demo", "m", "demo"],
        "functions": {
            "add": {"c": "demo_add", "returns": " int ",
                    "args": [["a", "int"], ["b", "int", "1", "ignored"]], "thread_safe": true},
            "hello": {"c": "demo_hello"},
            "avg": {"c": "demo_avg", "returns": "float", "args": [["xs", "list[float]", "[]"]],
                    "thread_safe": 1},
            "hello": {"c": "demo_hello2", "returns": 7}
        },
        "constants": {"LIMIT": ["int", "DEMO_LIMIT + 1", "extra"], "NAME": ["str", "x"]}
    })");
    LibraryResult<Library> result = demo.load();
    ASSERT_TRUE(std::holds_alternative<Library>(result)) << std::get<std::string>(result);
    const Library &library = std::get<Library>(result);
    EXPECT_EQ(library.name, "demo");
    EXPECT_EQ(library.version, "0.2-beta");
    EXPECT_EQ(library.folder, demo.folder);
    EXPECT_EQ(library.header, "int demo_add(int a, int b);\n");
    EXPECT_EQ(library.links, (std::vector<std::string>{"demo", "m", "demo"}));

    ASSERT_EQ(library.functions.size(), 3u);
    const LibraryFunction &add = library.functions.at("add");
    EXPECT_EQ(add.c, "demo_add");
    EXPECT_EQ(add.returns, Type::int_());
    EXPECT_TRUE(add.thread_safe);
    ASSERT_EQ(add.params.size(), 2u);
    EXPECT_EQ(add.params[0].name, "a");
    EXPECT_FALSE(add.params[0].default_value);
    ASSERT_TRUE(add.params[1].default_value);
    EXPECT_EQ(add.params[1].default_value->text, "1");
    EXPECT_EQ(print_expr(add.params[1].default_value->expr), "1");
    // The later of two members of one name wins; a non-string "returns"
    // means no value.
    EXPECT_EQ(library.functions.at("hello").c, "demo_hello2");
    EXPECT_EQ(library.functions.at("hello").returns, Type::no_value());
    EXPECT_FALSE(library.functions.at("avg").thread_safe);
    EXPECT_EQ(library.functions.at("avg").params[0].type, Type::list(Type::float_()));

    EXPECT_EQ(library.constants.at("LIMIT").expr, "(DEMO_LIMIT + 1)");
    EXPECT_EQ(library.constants.at("LIMIT").type, Type::int_());
    EXPECT_EQ(library.constants.at("NAME").type, Type::str());
}

TEST(LibraryManifest, AbsentAndOddlyTypedMembers) {
    // A plain-string "link", null "functions" and an array of "constants"
    // all count as absent.
    DemoFolder demo(R"({"name": "demo", "version": "1", "link": "demo", "functions": null,
                        "constants": [1]})");
    LibraryResult<Library> result = demo.load();
    ASSERT_TRUE(std::holds_alternative<Library>(result)) << std::get<std::string>(result);
    const Library &library = std::get<Library>(result);
    EXPECT_TRUE(library.links.empty());
    EXPECT_TRUE(library.functions.empty());
    EXPECT_TRUE(library.constants.empty());
}

TEST(LibraryManifest, BrokenManifests) {
    const std::string refused = " isn't supported (int, float, bool, str, None, list[int], "
                                "list[float], list[bool], list[str])";
    // The "functions" member of a manifest otherwise sound.
    auto with_functions = [](const std::string &functions) {
        return R"({"name": "demo", "version": "1", "functions": )" + functions + "}";
    };
    const std::pair<std::string, std::string> rows[] = {
        {"{\"name\" 1}", "not valid JSON: expected ':' at byte 8"},
        {"[]", "expected an object"},
        {R"({"version": "1"})", "\"name\" is missing"},
        {R"({"name": 5, "version": "1"})", "\"name\" is missing"},
        {R"({"name": "Demo", "version": "1"})", "\"name\" is 'Demo' but the folder is 'demo'"},
        {R"({"name": "demo"})", "\"version\" is missing"},
        {R"({"name": "demo", "version": 1})", "\"version\" is missing"},
        {R"({"name": "demo", "version": "1", "link": [""]})",
         "\"link\" must be a list of C library names"},
        {R"({"name": "demo", "version": "1", "link": ["a-b"]})",
         "\"link\" must be a list of C library names"},
        {R"({"name": "demo", "version": "1", "link": ["m", "a.b"]})",
         "\"link\" must be a list of C library names"},
        {R"({"name": "demo", "version": "1", "link": [3]})",
         "\"link\" must be a list of C library names"},
        {with_functions("[]"), "\"functions\" must be an object"},
        {with_functions("true"), "\"functions\" must be an object"},
        {with_functions(R"({"f": {"c": "f", "returns": "dict"}})"),
         "function 'f': type 'dict'" + refused},
        {with_functions(R"({"f": {}})"), "function 'f': \"c\" must be the C function's name"},
        {with_functions(R"({"f": 3})"), "function 'f': \"c\" must be the C function's name"},
        {with_functions(R"({"f": {"c": "2fast"}})"),
         "function 'f': \"c\" must be the C function's name"},
        {with_functions(R"({"f": {"c": "my-func"}})"),
         "function 'f': \"c\" must be the C function's name"},
        {with_functions(R"({"f": {"c": "f", "args": [["a"]]}})"),
         "function 'f': each of \"args\" is [name, type] or [name, type, default]"},
        {with_functions(R"({"f": {"c": "f", "args": [["a", 1]]}})"),
         "function 'f': each of \"args\" is [name, type] or [name, type, default]"},
        {with_functions(R"({"f": {"c": "f", "args": ["a"]}})"),
         "function 'f': each of \"args\" is [name, type] or [name, type, default]"},
        {with_functions(R"({"f": {"c": "f", "args": [["a", "list[list[int]]"]]}})"),
         "function 'f': type 'list[list[int]]'" + refused},
        {with_functions(R"({"f": {"c": "f", "args": [["a", "None"]]}})"),
         "function 'f': argument 'a' can't be None"},
        {with_functions(R"({"f": {"c": "f", "args": [["x", "int", "-2.5"]]}})"),
         "function 'f': default of 'x': '-2.5' isn't a int literal"},
        {with_functions(R"({"f": {"c": "f", "args": [["s", "str", "None"]]}})"),
         "function 'f': default of 's': 'None' isn't a str literal"},
        {with_functions(R"({"f": {"c": "f", "args": [["b", "bool", "1"]]}})"),
         "function 'f': default of 'b': '1' isn't a bool literal"},
        {with_functions(R"({"f": {"c": "f", "args": [["l", "list[int]", "[1]"]]}})"),
         "function 'f': default of 'l': '[1]' isn't a list[int] literal"},
        {with_functions(R"({"f": {"c": "f", "args": [["x", "int", "1 +"]]}})"),
         "function 'f': default of 'x': expected an expression, found end of line"},
        {with_functions(R"({"f": {"c": "f", "args": [["x", "int", 5]]}})"),
         "function 'f': default of 'x': expected an expression, found end of file"},
        {with_functions(R"({"f": {"c": "f", "args": [["a", "int", "1"], ["b", "int"]]}})"),
         "function 'f': argument 'b' has no default but comes after one that does"},
        {with_functions(R"({"f": {"c": "f", "args": [["a", "int"], ["a", "str"]]}})"),
         "function 'f': argument 'a' is listed twice"},
        {with_functions(R"({"ok": {"c": "ok"}, "g": {"c": "g", "args": [["a", "None"]]}})"),
         "function 'g': argument 'a' can't be None"},
        {R"({"name": "demo", "version": "1", "constants": {"K": ["int"]}})",
         "constant 'K': expected [type, C expression]"},
        {R"({"name": "demo", "version": "1", "constants": {"K": "int"}})",
         "constant 'K': expected [type, C expression]"},
        {R"({"name": "demo", "version": "1", "constants": {"K": ["int", 3]}})",
         "constant 'K': expected [type, C expression]"},
        {R"({"name": "demo", "version": "1", "constants": {"K": ["set[int]", "3"]}})",
         "constant 'K': type 'set[int]'" + refused},
        {R"({"name": "demo", "version": "1", "functions": {"tau": {"c": "t"}, "pi": {"c": "p"}},
             "constants": {"tau": ["float", "6.28"], "pi": ["float", "3.14"]}})",
         "'pi' is both a function and a constant"},
    };
    for (const auto &[manifest, expected] : rows) {
        DemoFolder demo(manifest);
        LibraryResult<Library> result = demo.load();
        const auto *error = std::get_if<std::string>(&result);
        EXPECT_EQ(error ? *error : "loaded", demo.folder + "/library.json: " + expected)
            << manifest;
    }
}

TEST(LibraryManifest, UnreadableFiles) {
    const std::string good = R"({"name": "demo", "version": "1"})";
    {
        DemoFolder demo(good, /*with_header=*/false);
        EXPECT_EQ(std::get<std::string>(demo.load()),
                  demo.folder + "/demo.h: can't read it (No such file or directory (os error 2))");
    }
    {
        DemoFolder demo(good);
        demo.scratch.write("demo/demo.h", "bad \xff byte");
        EXPECT_EQ(std::get<std::string>(demo.load()),
                  demo.folder + "/demo.h: can't read it (stream did not contain valid UTF-8)");
    }
    {
        DemoFolder demo(good);
        demo.scratch.write("demo/library.json", "{\"name\": \"d\xe9mo\"}");
        EXPECT_EQ(std::get<std::string>(demo.load()),
                  demo.folder +
                      "/library.json: can't read it (stream did not contain valid UTF-8)");
    }
    {
        ScratchDir empty;
        EXPECT_EQ(std::get<std::string>(load_library("demo", empty / "demo")),
                  empty / "demo" +
                      "/library.json: can't read it (No such file or directory (os error 2))");
    }
}

} // namespace
} // namespace kestal
