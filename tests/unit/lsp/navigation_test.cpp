// Hover texts and definition sites on small documents. Functions and
// variables are checked by the real compiler; class members, whose code
// generation is not there yet, get a hand-made analysis beside the parsed
// Program, the same lists a check would keep.
#include "lsp/definition.h"
#include "lsp/hover.h"
#include "parser/parser.h"

#include <gtest/gtest.h>

#include <string>

namespace kestal::lsp {
namespace {

struct Doc {
    std::string text;
    Program program;
    DocumentAnalysis analysis;
    std::vector<std::string_view> lines;

    explicit Doc(std::string source) : text(std::move(source)) {
        CheckOutcome outcome = run_check(text, "file:///t/doc.ktl");
        if (!outcome.program)
            ADD_FAILURE() << "does not parse: " << std::get<CompileError>(outcome.result).message;
        else
            program = std::move(*outcome.program);
        if (const auto *kept = std::get_if<DocumentAnalysis>(&outcome.result))
            analysis = *kept;
        lines = document_lines(text);
    }
    // Only parsed; the analysis is given.
    Doc(std::string source, DocumentAnalysis given)
        : text(std::move(source)), program(parse_module(text)), analysis(std::move(given)),
          lines(document_lines(text)) {}

    // The cursor on the line (0-based) at the first `needle`, `offset`
    // characters into it.
    std::optional<CursorWord> word(std::size_t line, std::string_view needle,
                                   std::size_t offset = 0) const {
        std::size_t at = lines.at(line).find(needle);
        EXPECT_NE(at, std::string_view::npos) << needle;
        std::size_t index = decode_chars(lines[line].substr(0, at)).size() + offset;
        return word_at_position(lines[line], index);
    }
    HoverContext context(std::size_t line) const {
        return HoverContext{enclosing_def_or_class(lines, line), program, analysis, lines, line};
    }
    std::optional<std::string> hover(std::size_t line, std::string_view needle,
                                     std::size_t offset = 0) const {
        std::optional<CursorWord> w = word(line, needle, offset);
        return w ? hover_text(context(line), *w) : std::nullopt;
    }
    std::vector<Site> definition(std::size_t line, std::string_view needle,
                                 std::size_t offset = 0) const {
        std::optional<CursorWord> w = word(line, needle, offset);
        return w ? definition_sites(context(line), *w) : std::vector<Site>{};
    }
};

std::string block(const std::string &text) {
    return "```kestal\n" + text + "\n```";
}

const char *const kFunctions = "def twice(x):\n"                   // 0
                               "    y = x + x\n"                   // 1
                               "    return y\n"                    // 2
                               "\n"                                // 3
                               "def same(n):\n"                    // 4
                               "    return n\n"                    // 5
                               "\n"                                // 6
                               "def unused(a: int, b) -> str:\n"   // 7
                               "    c = 'z'  # a note on c\n"      // 8
                               "    return c\n"                    // 9
                               "\n"                                // 10
                               "import math\n"                     // 11
                               "import math as m\n"                // 12
                               "total = twice(2)\n"                // 13
                               "label = twice('ab')\n"             // 14
                               "k = same(1) + same(2)\n"           // 15
                               "r = m.sqrt(2.0) + math.pi + 12\n"; // 16

TEST(Hover, FunctionsAndVariablesFromTheCompiler) {
    Doc doc(kFunctions);
    ASSERT_FALSE(doc.analysis.instances.empty()) << "the fixture must compile";
    struct Case {
        std::size_t line;
        const char *needle;
        std::optional<std::string> text;
    };
    const std::string twice_sigs = "def twice(x: int) -> int\ndef twice(x: str) -> str";
    const Case cases[] = {
        // A local with a different Type per instance: one line each.
        {1, "y", block("y: int    # in twice(x: int) -> int\ny: str    # in twice(x: str) -> str")},
        // The same Type in every instance: one plain line.
        // A function with two signatures, on its def line and at a call.
        {0, "twice", block(twice_sigs) + "\n\n2 instances, one per argument-type signature."},
        {13, "twice", block(twice_sigs) + "\n\n2 instances, one per argument-type signature."},
        {15, "same", block("def same(n: int) -> int")},
        // Never called: the annotations and the note.
        {7, "unused",
         block("def unused(a: int, b) -> str") +
             "\n\nNot type-checked: it is never called (Kestal compiles a function once per set "
             "of argument types it is called with)."},
        {8, "c",
         block("c") + "\n\nType unknown: unused() is never called, so it isn't "
                      "type-checked."},
        {9, "c",
         block("c") + "\n\nType unknown: unused() is never called, so it isn't "
                      "type-checked."},
        // Module variables.
        {13, "total", block("total: int")},
        {14, "label", block("label: str")},
        // Modules and their members.
        {11, "math", block("(module) math")},
        {16, "m.", block("(module) math")},
        {16, "sqrt", block("math.sqrt")},
        {16, "pi", block("math.pi")},
        // Nothing to say: a number, a comment, a string, an unknown name.
        {16, "12", std::nullopt},
        {8, "note", std::nullopt},
        {14, "ab'", std::nullopt},
        {7, "str", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(doc.hover(c.line, c.needle), c.text) << c.line << " " << c.needle;
    // The same Type in every instance: one plain line.
    EXPECT_EQ(doc.hover(5, " n", 1), block("n: int"));
}

// Classes as a check will keep them once class code is generated.
const char *const kClasses = "class Base:\n"                       // 0
                             "    LIMIT = 10  # the most\n"        // 1
                             "    def __init__(self, x: int):\n"   // 2
                             "        self.x = x\n"                // 3
                             "    def area(self) -> int:\n"        // 4
                             "        return self.x\n"             // 5
                             "\n"                                  // 6
                             "class Square(Base):\n"               // 7
                             "    def __init__(self, x: int):\n"   // 8
                             "        self.x = x\n"                // 9
                             "        self.side: int = x\n"        // 10
                             "    def area(self) -> int:\n"        // 11
                             "        return self.side * self.x\n" // 12
                             "\n"                                  // 13
                             "def show(s: Square) -> int:\n"       // 14
                             "    return s.area() + s.LIMIT\n"     // 15
                             "\n"                                  // 16
                             "sq = Square(2)\n"                    // 17
                             "print(show(sq), sq.x)\n"             // 18
                             "err = ValueError('no')\n";           // 19

DocumentAnalysis class_analysis() {
    DocumentAnalysis analysis;
    analysis.classes = {ClassSummary{"Base", {{"x", Type::int_()}}},
                        ClassSummary{"Square", {{"x", Type::int_()}, {"side", Type::int_()}}}};
    analysis.instances = {
        InstanceSummary{Type::int_(), "Square.area", {Type::class_("Square")}, {}},
        InstanceSummary{
            Type::int_(), "show", {Type::class_("Square")}, {{"s", Type::class_("Square")}}},
    };
    analysis.variables = {{"err", Type::class_("ValueError")}, {"sq", Type::class_("Square")}};
    return analysis;
}

TEST(Hover, ClassesMethodsFieldsAndConstants) {
    Doc doc(kClasses, class_analysis());
    const std::string square_area = "(method of Square)\n" + block("def area(self) -> int");
    const std::string base_area =
        "(method of Base)\n" + block("def area(self) -> int") +
        "\n\nNot type-checked: it is never called (Kestal compiles a function once per set of "
        "argument types it is called with).";
    struct Case {
        std::size_t line;
        const char *needle;
        std::size_t offset;
        std::optional<std::string> text;
    };
    const Case cases[] = {
        // The receiver's Type names Square: its own method hides Base's.
        {15, "area", 0, square_area},
        {15, "LIMIT", 0, block("(class constant) Base.LIMIT = 10")},
        // self inside a method has no Type here, so every class is searched:
        // one field section per class that has it.
        {12, "self.x", 5,
         block("(field) Base.x: int") + "\n\n---\n\n" + block("(field) Square.x: int")},
        {18, "sq.x", 3,
         block("(field) Square.x: int") + "\n\n---\n\n" + block("(field) Base.x: int")},
        // A class-body constant hovered on its own line.
        {1, "LIMIT", 0, block("(class constant) Base.LIMIT = 10")},
        // Class names: the header and a use.
        {7, "Square", 0, block("class Square(Base)\n    x: int\n    side: int\n    x: int")},
        {17, "Square", 0, block("class Square(Base)\n    x: int\n    side: int\n    x: int")},
        {19, "ValueError", 0, block("class ValueError(Exception)") + "\n\nBuilt-in exception."},
        // A method's def line: the method-of header and its instance.
        {11, "area", 0, square_area},
        {4, "area", 0, base_area},
    };
    for (const Case &c : cases)
        EXPECT_EQ(doc.hover(c.line, c.needle, c.offset), c.text) << c.line << " " << c.needle;

    // With no receiver name (after a call's bracket) every class is a
    // candidate in program order: Base comes before Square, and Base is no
    // ancestor of Square's, so both methods are listed.
    HoverContext ctx = doc.context(15);
    std::optional<std::string> any = hover_member(ctx, std::nullopt, "area");
    ASSERT_TRUE(any);
    EXPECT_EQ(*any, base_area + "\n\n---\n\n" + square_area);
}

// The methods and attributes of built-in values come from the method table,
// with the result Type on the receiver's Type; a name the table lacks has no
// hover.
TEST(Hover, BuiltinMethodsFromTheTable) {
    Doc doc("words = 'a b'.split()\n"                  // 0
            "d = {'k': 1}\n"                           // 1
            "f = open('x.txt')\n"                      // 2
            "print(words.pop(), d.get('k'), f.name)\n" // 3
            "print(d.items(), f.readlines())\n"        // 4
            "s = 'x'\n"                                // 5
            "print(s.split(maxsplit=1))\n");           // 6
    EXPECT_EQ(doc.hover(3, "pop"), "(method of list[str])\n" + block("def pop(i=-1) -> str"));
    EXPECT_EQ(doc.hover(3, "get"),
              "(method of dict[str, int])\n" + block("def get(key, default=None) -> int | None"));
    EXPECT_EQ(doc.hover(3, "name"), block("file.name: str"));
    EXPECT_EQ(doc.hover(4, "items"),
              "(method of dict[str, int])\n" + block("def items() -> list[tuple[str, int]]"));
    EXPECT_EQ(doc.hover(4, "readlines"),
              "(method of file)\n" + block("def readlines() -> list[str]"));
    EXPECT_EQ(hover_member(doc.context(4), "d", "nothing"), std::nullopt);
    EXPECT_EQ(doc.hover(6, "split"),
              "(method of str)\n" + block("def split(sep=None, maxsplit=-1) -> list[str]"));
}

TEST(Hover, LibraryMembersThroughTheirAlias) {
    Doc doc("import geo as g\nd = g.dist(1.0, 2.0) + g.EARTH\n", DocumentAnalysis{});
    Library lib;
    lib.name = "geo";
    lib.version = "2.0.1";
    lib.folder = "/libs/geo";
    lib.functions["dist"] = LibraryFunction{
        "geo_dist",
        {LibraryParam{"a", Type::float_(), std::nullopt},
         LibraryParam{"b", Type::float_(), LibraryDefault{"0.5", parse_expression_text("0.5")}}},
        Type::float_(),
        false};
    lib.functions["reset"] = LibraryFunction{"geo_reset", {}, Type::no_value(), false};
    lib.constants["EARTH"] = LibraryConstant{Type::float_(), "(6371.0)"};
    doc.program.libraries["geo"] = lib;
    EXPECT_EQ(doc.hover(1, "dist"), block("def geo.dist(a: float, b: float = 0.5) -> float") +
                                        "\n\nLibrary geo 2.0.1 (/libs/geo).");
    EXPECT_EQ(doc.hover(1, "EARTH"), block("geo.EARTH: float"));
    EXPECT_EQ(library_function_hover("geo.reset", lib.functions["reset"]),
              "def geo.reset() -> None");
}

const char *const kDefinitions = "import math, dataclasses\n"            // 0
                                 "LIMIT = 3\n"                           // 1
                                 "def scale(value,\n"                    // 2
                                 "          factor=2):  # value\n"       // 3
                                 "    s = 'factor'\n"                    // 4
                                 "    for i, (a, b) in [(1, (2, 3))]:\n" // 5
                                 "        total = a\n"                   // 6
                                 "    total = 0\n"                       // 7
                                 "    obj.count = 1\n"                   // 8
                                 "    with open('f') as fh:\n"           // 9
                                 "        pass\n"                        // 10
                                 "    return value * factor + LIMIT + total + b + fh + count\n"
                                 "@dataclasses.dataclass\n"         // 12
                                 "class Point:\n"                   // 13
                                 "    x: int\n"                     // 14
                                 "    def norm(self) -> int:\n"     // 15
                                 "        return self.x + self.y\n" // 16
                                 "    def grow(self):\n"            // 17
                                 "        self.y = 1\n"             // 18
                                 "\n"                               // 19
                                 "class Point3(Point):\n"           // 20
                                 "    def grow(self):\n"            // 21
                                 "        self.y = 2\n"             // 22
                                 "\n"                               // 23
                                 "ValueError = 5\n"                 // 24
                                 "p: Point3 = Point3()\n"           // 25
                                 "p.grow()\n"                       // 26
                                 "p.norm()\n"                       // 27
                                 "print(scale(LIMIT), math.pi, ValueError, KeyError)\n";

TEST(Definition, SitesInTheSameDocument) {
    DocumentAnalysis analysis;
    analysis.variables = {{"p", Type::class_("Point3")}};
    Doc doc(kDefinitions, analysis);
    using Sites = std::vector<Site>;
    struct Case {
        std::size_t line;
        const char *needle;
        std::size_t offset;
        Sites sites;
    };
    const Case cases[] = {
        // Parameters: in the header, also on its second line, never in the
        // comment after it.
        {11, "value", 0, {{2, 10}}},
        {11, "factor", 0, {{3, 10}}},
        // Locals: the first assignment in body order, inside nested
        // targets, for targets and with targets; obj.count assigns nothing.
        {11, "total", 0, {{6, 8}}},
        {11, "b", 0, {{5, 15}}},
        {11, "fh", 0, {{9, 22}}},
        {11, "count", 0, {}},
        // A module name used in a function.
        {11, "LIMIT", 0, {{1, 0}}},
        // Functions and classes by their header names.
        {28, "scale", 0, {{2, 4}}},
        {25, "Point3", 0, {{20, 6}}},
        // A built-in class name: its module-level assignment, else nothing.
        {28, "ValueError", 0, {{24, 0}}},
        {28, "KeyError", 0, {}},
        // Module members are not in the document.
        {28, "pi", 0, {}},
        // Through a receiver typed Point3: its own method only.
        {26, "grow", 0, {{21, 8}}},
        // Defined only in the base.
        {27, "norm", 0, {{15, 8}}},
        // self.y with no Type for self: every class assigning it.
        {16, "self.y", 5, {{18, 13}, {22, 13}}},
        // A field declared in the class body.
        {16, "self.x", 5, {{14, 4}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(doc.definition(c.line, c.needle, c.offset), c.sites) << c.line << " " << c.needle;
}

TEST(Definition, ParameterSearchStopsAtTheHeaderWindow) {
    std::string text = "def far(a,\n";
    for (int i = 0; i < 49; ++i)
        text += "        \n";
    text += "        b):\n    return b\n";
    Doc doc(text, DocumentAnalysis{});
    std::size_t body = doc.lines.size() - 2;
    EXPECT_EQ(doc.definition(body, "b"), std::vector<Site>{});

    Doc near("def near(a,\n        \n        b):\n    return b\n", DocumentAnalysis{});
    EXPECT_EQ(near.definition(3, "b"), (std::vector<Site>{{2, 8}}));
}

TEST(Definition, FindDefLine) {
    std::vector<std::string_view> lines = document_lines("x = 1\n  def\tf():\nclass  C:\n");
    EXPECT_EQ(find_def_line(lines, 2, "def"), (Site{1, 6}));
    EXPECT_EQ(find_def_line(lines, 3, "class"), (Site{2, 7}));
    EXPECT_EQ(find_def_line(lines, 1, "def"), std::nullopt);
    EXPECT_EQ(find_def_line(lines, 0, "def"), std::nullopt);
    EXPECT_EQ(find_def_line(lines, 9, "def"), std::nullopt);
}

} // namespace
} // namespace kestal::lsp
