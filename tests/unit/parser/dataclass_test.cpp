// Dataclass synthesis: the methods a @dataclass gets, dumped to one line each,
// and the positions their nodes carry.
#include "parser/dataclass.h"
#include "parser/parser.h"
#include "support/overload.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>
#include <vector>

namespace kestal {
namespace {

// A compact dump of the expression kinds synthesis builds (and of simple
// defaults); any other kind shows as "?".
std::string dump(const Expr &e) {
    return std::visit(
        Overload{
            [](const Expr::Int &k) { return std::to_string(k.value); },
            [](const Expr::Str &k) { return fmt::format("'{}'", k.value); },
            [](const Expr::Bool &k) { return std::string(k.value ? "True" : "False"); },
            [](const Expr::Name &k) { return k.name; },
            [](const Expr::Attribute &k) { return fmt::format("{}.{}", dump(*k.object), k.name); },
            [](const Expr::Call &k) {
                std::vector<std::string> args;
                for (const Expr &a : k.args)
                    args.push_back(dump(a));
                return fmt::format("{}({})", k.name, fmt::join(args, ", "));
            },
            [](const Expr::MethodCall &k) {
                std::vector<std::string> args;
                for (const Expr &a : k.args)
                    args.push_back(dump(a));
                return fmt::format("{}.{}({})", dump(*k.receiver), k.method, fmt::join(args, ", "));
            },
            [](const Expr::Tuple &k) {
                std::vector<std::string> parts;
                for (const Expr &a : k.elements)
                    parts.push_back(dump(a));
                return fmt::format("({},)", fmt::join(parts, ", "));
            },
            [](const Expr::BinaryOp &k) {
                return fmt::format("({} {} {})", dump(*k.left), binop_name(k.op), dump(*k.right));
            },
            [](const Expr::FString &k) {
                std::vector<std::string> parts;
                for (const FStringSegment &seg : k.segments) {
                    if (const auto *lit = std::get_if<FStringSegment::Literal>(&seg.kind)) {
                        parts.push_back(fmt::format("'{}'", lit->text));
                    } else {
                        const auto &field = std::get<FStringSegment::Field>(seg.kind);
                        std::string conv =
                            field.conversion ? fmt::format("!{}", *field.conversion) : "";
                        std::string spec = field.spec ? fmt::format(":{}", *field.spec) : "";
                        parts.push_back(fmt::format("{{{}{}{}}}", dump(field.expr), conv, spec));
                    }
                }
                return fmt::format("f[{}]", fmt::join(parts, "|"));
            },
            [](const auto &) { return std::string("?"); },
        },
        e.kind);
}

std::string dump(const Stmt &s) {
    if (const auto *a = s.as<Stmt::Assign>()) {
        std::string annotation = a->annotation ? fmt::format(": {}", *a->annotation) : "";
        return fmt::format("{}{} = {}", dump(a->target), annotation, dump(a->value));
    }
    if (const auto *r = s.as<Stmt::Return>())
        return r->value ? fmt::format("return {}", dump(*r->value)) : "return";
    if (const auto *e = s.as<Stmt::ExprStmt>())
        return dump(e->expr);
    if (s.is<Stmt::Pass>())
        return "pass";
    return "?";
}

std::string dump(const FuncDef &f) {
    std::vector<std::string> params, body;
    for (const Param &p : f.params) {
        std::string text = p.name;
        if (p.annotation)
            text += fmt::format(": {}", *p.annotation);
        if (p.default_value)
            text += fmt::format(" = {}", dump(*p.default_value));
        params.push_back(text);
    }
    for (const Stmt &s : f.body)
        body.push_back(dump(s));
    std::string ret = f.return_type ? fmt::format(" -> {}", *f.return_type) : "";
    return fmt::format("{}({}){}: {}", f.name, fmt::join(params, ", "), ret, fmt::join(body, "; "));
}

const ClassDef &find_class(const Program &program, const std::string &name) {
    for (const ClassDef &c : program.classes) {
        if (c.name == name)
            return c;
    }
    throw std::runtime_error("no class " + name);
}

struct ClassRow {
    const char *source;
    const char *class_name;
    std::vector<std::string> methods;
    std::vector<std::string> comparisons;
};

TEST(Dataclass, SynthesizedMethods) {
    const std::string repr_xy =
        "__repr__(self): return f[{type(self).__name__}|'('|'x='|{self.x!r}|', y='|{self.y!r}|')']";
    const std::vector<ClassRow> rows = {
        // Fields with a default keep it as the parameter default, in field order.
        {"@dataclass\nclass P:\n    x: int\n    y: int = 0\n",
         "P",
         {"__init__(self, x: int, y: int = 0): self.x = x; self.y = y", repr_xy,
          "__eq__(self, other: P): return ((self.x, self.y,) Eq (other.x, other.y,))"},
         {"__eq__"}},
        // order=True: all four orderings after __eq__; one field compares 1-tuples.
        {"@dataclass(order=True)\nclass Q:\n    name: str | None\n",
         "Q",
         {"__init__(self, name: str | None): self.name = name",
          "__repr__(self): return f[{type(self).__name__}|'('|'name='|{self.name!r}|')']",
          "__eq__(self, other: Q): return ((self.name,) Eq (other.name,))",
          "__lt__(self, other: Q): return ((self.name,) Lt (other.name,))",
          "__le__(self, other: Q): return ((self.name,) Le (other.name,))",
          "__gt__(self, other: Q): return ((self.name,) Gt (other.name,))",
          "__ge__(self, other: Q): return ((self.name,) Ge (other.name,))"},
         {"__eq__", "__lt__", "__le__", "__gt__", "__ge__"}},
        // Inherited fields first; a redeclared field replaces the inherited one in place.
        {"@dataclass\nclass A:\n    x: int\n    y: int = 0\n\n@dataclass\nclass B(A):\n    y: int "
         "= 5\n    z: str = 'a'\n",
         "B",
         {"__init__(self, x: int, y: int = 5, z: str = 'a'): self.x = x; self.y = y; self.z = z",
          "__repr__(self): return f[{type(self).__name__}|'('|'x='|{self.x!r}|', y='|{self.y!r}|', "
          "z='|{self.z!r}|')']",
          "__eq__(self, other: B): return ((self.x, self.y, self.z,) Eq (other.x, other.y, "
          "other.z,))"},
         {"__eq__"}},
        // A base that is not a dataclass contributes no fields.
        {"class C:\n    def m(self):\n        pass\n\n@dataclass\nclass D(C):\n    w: float\n",
         "D",
         {"__init__(self, w: float): self.w = w",
          "__repr__(self): return f[{type(self).__name__}|'('|'w='|{self.w!r}|')']",
          "__eq__(self, other: D): return ((self.w,) Eq (other.w,))"},
         {"__eq__"}},
        // Written methods stay first and are never synthesized again.
        {"@dataclass(order=True)\nclass R:\n    x: int\n    y: int\n    def __repr__(self):\n      "
         "  return 'r'\n"
         "    def __eq__(self, other):\n        return True\n",
         "R",
         {"__repr__(self): return 'r'", "__eq__(self, other): return True",
          "__init__(self, x: int, y: int): self.x = x; self.y = y",
          "__lt__(self, other: R): return ((self.x, self.y,) Lt (other.x, other.y,))",
          "__le__(self, other: R): return ((self.x, self.y,) Le (other.x, other.y,))",
          "__gt__(self, other: R): return ((self.x, self.y,) Gt (other.x, other.y,))",
          "__ge__(self, other: R): return ((self.x, self.y,) Ge (other.x, other.y,))"},
         {"__lt__", "__le__", "__gt__", "__ge__"}},
        // A written __init__ is kept; the fields still drive __repr__ and __eq__.
        {"@dataclass\nclass S:\n    x: int\n    def __init__(self):\n        self.x = 1\n",
         "S",
         {"__init__(self): self.x = 1",
          "__repr__(self): return f[{type(self).__name__}|'('|'x='|{self.x!r}|')']",
          "__eq__(self, other: S): return ((self.x,) Eq (other.x,))"},
         {"__eq__"}},
        // Without fields: `pass`, "T()", and constant comparisons.
        {"@dataclass(order=True)\nclass T:\n    pass\n",
         "T",
         {"__init__(self): pass", "__repr__(self): return f[{type(self).__name__}|'('|')']",
          "__eq__(self, other: T): return True", "__lt__(self, other: T): return False",
          "__le__(self, other: T): return True", "__gt__(self, other: T): return False",
          "__ge__(self, other: T): return True"},
         {"__eq__", "__lt__", "__le__", "__gt__", "__ge__"}},
        // A __post_init__ of the class or of any base, dataclass or not, is
        // called last; a class without fields then needs no `pass`.
        {"@dataclass\nclass V:\n    x: int\n    def __post_init__(self):\n        pass\n",
         "V",
         {"__post_init__(self): pass", "__init__(self, x: int): self.x = x; self.__post_init__()",
          "__repr__(self): return f[{type(self).__name__}|'('|'x='|{self.x!r}|')']",
          "__eq__(self, other: V): return ((self.x,) Eq (other.x,))"},
         {"__eq__"}},
        {"class C:\n    def __post_init__(self):\n        pass\n\nclass D(C):\n    pass\n\n"
         "@dataclass\nclass W(D):\n    pass\n",
         "W",
         {"__init__(self): self.__post_init__()",
          "__repr__(self): return f[{type(self).__name__}|'('|')']",
          "__eq__(self, other: W): return True"},
         {"__eq__"}},
        // A plain class gets nothing.
        {"class U:\n    X = 1\n    def __init__(self):\n        self.x = 1\n",
         "U",
         {"__init__(self): self.x = 1"},
         {}},
    };
    for (const ClassRow &row : rows) {
        SCOPED_TRACE(row.source);
        Program program = parse_module(row.source);
        const ClassDef &cls = find_class(program, row.class_name);
        std::vector<std::string> methods;
        for (const FuncDef &m : cls.methods)
            methods.push_back(dump(m));
        EXPECT_EQ(methods, row.methods);
        EXPECT_EQ(cls.synthesized_comparisons, row.comparisons);
    }
}

// Collects the positions of every node of a synthesized method except the
// copied field parameters' defaults.
void collect_positions(const Expr &e, std::vector<std::pair<uint64_t, uint64_t>> &out) {
    out.emplace_back(e.line, e.column);
    std::visit(Overload{
                   [&](const Expr::Attribute &k) { collect_positions(*k.object, out); },
                   [&](const Expr::Call &k) {
                       for (const Expr &a : k.args)
                           collect_positions(a, out);
                   },
                   [&](const Expr::Tuple &k) {
                       for (const Expr &a : k.elements)
                           collect_positions(a, out);
                   },
                   [&](const Expr::BinaryOp &k) {
                       collect_positions(*k.left, out);
                       collect_positions(*k.right, out);
                   },
                   [&](const Expr::FString &k) {
                       for (const FStringSegment &seg : k.segments) {
                           if (const auto *f = std::get_if<FStringSegment::Field>(&seg.kind)) {
                               collect_positions(f->expr, out);
                           }
                       }
                   },
                   [](const auto &) {},
               },
               e.kind);
}

TEST(Dataclass, NodesStandAtTheClassKeyword) {
    Program program = parse_module(
        "x = 1\n\n@dataclass(order=True)\nclass P:\n    a: int\n    b: list[int] = [x]\n");
    const ClassDef &cls = find_class(program, "P");
    ASSERT_EQ(cls.line, 4u);
    ASSERT_EQ(cls.methods.size(), 7u);
    for (const FuncDef &m : cls.methods) {
        SCOPED_TRACE(m.name);
        EXPECT_EQ(m.line, 4u);
        EXPECT_EQ(m.column, 1u);
        std::vector<std::pair<uint64_t, uint64_t>> positions;
        for (const Stmt &s : m.body) {
            positions.emplace_back(s.line, s.column);
            if (const auto *a = s.as<Stmt::Assign>()) {
                collect_positions(a->target, positions);
                collect_positions(a->value, positions);
            } else if (const auto *r = s.as<Stmt::Return>()) {
                collect_positions(*r->value, positions);
            }
        }
        ASSERT_FALSE(positions.empty());
        for (const auto &pos : positions)
            EXPECT_EQ(pos, std::make_pair(uint64_t{4}, uint64_t{1}));
    }
    // The copied default keeps its own position: the `[` on line 6.
    const Param &b = cls.methods[0].params.at(2);
    ASSERT_TRUE(b.default_value.has_value());
    EXPECT_EQ(b.default_value->line, 6u);
    EXPECT_EQ(b.default_value->column, 20u);
    EXPECT_EQ(*b.annotation, Type::list(Type::int_()));
}

// Direct call with hand-built fields: appended after the written methods,
// nothing under a written name, the field list left intact.
TEST(Dataclass, DirectCall) {
    std::vector<Param> fields;
    fields.push_back(Param{Type::int_(), "n", std::nullopt});
    fields.push_back(Param{Type::str(), "s", Expr{Expr::Str{"d"}, 9, 14}});
    std::vector<FuncDef> methods;
    methods.push_back(FuncDef{std::nullopt, "__lt__", {}, {}, 8, 5});
    std::vector<std::string> comparisons =
        synthesize_dataclass_methods("K", fields, true, false, methods, 7, 1);
    EXPECT_EQ(comparisons, (std::vector<std::string>{"__eq__", "__le__", "__gt__", "__ge__"}));
    std::vector<std::string> names;
    for (const FuncDef &m : methods)
        names.push_back(m.name);
    EXPECT_EQ(names, (std::vector<std::string>{"__lt__", "__init__", "__repr__", "__eq__", "__le__",
                                               "__gt__", "__ge__"}));
    EXPECT_EQ(dump(methods[1]), "__init__(self, n: int, s: str = 'd'): self.n = n; self.s = s");
    EXPECT_EQ(methods[1].params[2].default_value->line, 9u);
    EXPECT_EQ(methods[1].params[2].default_value->column, 14u);
    EXPECT_EQ(methods[3].line, 7u);
    // Only the synthesized __repr__ guards against printing a cycle forever.
    for (const FuncDef &m : methods)
        EXPECT_EQ(m.guards_repr, m.name == "__repr__") << m.name;
    EXPECT_EQ(fields.size(), 2u);
    EXPECT_TRUE(fields[1].default_value.has_value());

    std::vector<FuncDef> no_order;
    EXPECT_EQ(synthesize_dataclass_methods("K", {}, false, false, no_order, 1, 1),
              std::vector<std::string>{"__eq__"});
    EXPECT_EQ(no_order.size(), 3u);
}

} // namespace
} // namespace kestal
