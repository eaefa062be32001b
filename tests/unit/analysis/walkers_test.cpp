// Name walkers: reads, binds, globals and lambda captures of parsed source.
#include "analysis/walkers.h"
#include "parser/parser.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <set>
#include <string>
#include <vector>

namespace kestal {
namespace {

std::string join(const std::set<std::string> &names) {
    return fmt::format("{}", fmt::join(names, " "));
}
std::string join(const std::vector<std::string> &names) {
    return fmt::format("{}", fmt::join(names, " "));
}

struct BlockRow {
    const char *source;
    const char *read;
    const char *assigned;
};

// Top-level statements walked as one block.
TEST(Walkers, BlockReadsAndBinds) {
    const std::vector<BlockRow> rows = {
        // A call by plain name reads its callee (the callee may hold a function value).
        {"print(x)\n", "print x", ""},
        {"g(x, k=y)\n", "g x y", ""},
        {"fs[0](x)\n", "fs x", ""},
        {"f(x)(y)\n", "f x y", ""},
        {"o.m(a, k=b)\n", "a b o", ""},
        {"x += 1\n", "x", "x"},
        {"a[i] += v\n", "a i v", ""},
        {"a[i] = 1\n", "a i", ""},
        {"obj.attr = v\n", "obj v", ""},
        {"x: int = y\n", "y", "x"},
        {"a, (b, c) = t\n", "t", "a b c"},
        {"a, b[i] = t\n", "b i t", "a"},
        {"for i, v in items:\n    pass\n", "items", "i v"},
        {"for i in r:\n    s = i\nelse:\n    z = 1\n", "i r", "i s z"},
        {"while n > m:\n    n -= 1\nelse:\n    done = True\n", "m n", "done n"},
        {"if a:\n    b = 1\nelif c:\n    d = e\nelse:\n    f = 3\n", "a c e", "b d f"},
        {"with open(p) as fh, lock:\n    w = fh\n", "fh lock open p", "fh w"},
        {"try:\n    x = 1\nexcept (KeyError, E) as err:\n    y = err\nelse:\n    z = 2\nfinally:\n "
         "   q = 3\n",
         "E KeyError err", "err q x y z"},
        {"del d[k], e\n", "d e k", ""},
        {"raise E(m) from c\n", "E c m", ""},
        {"assert t, msg\n", "msg t", ""},
        {"s = f'{a}-{b!r:>5}{c}'\n", "a b c", "s"},
        {"v = s[lo:hi:st] + s[::]\n", "hi lo s st", "v"},
        {"v = c if t else -d\n", "c d t", "v"},
        {"v = {k: w for k, w in d.items() if k}\n", "d k w", "k v w"},
        {"v = [y for y in data if y > lim]\n", "data lim y", "v y"},
        {"v = {p for (p, q) in pairs}\n", "p pairs", "p q v"},
        {"v = sum(z * z for z in zs)\n", "sum z zs", "v z"},
        {"v = {1: a, b: 2}, {c}, [e]\n", "a b c e", "v"},
        // A lambda reads only what it captures.
        {"k = lambda a: a + n\n", "n", "k"},
        {"k = lambda a, b=z: h(a, b)\n", "h z", "k"},
        {"pass\nbreak_me = None\n", "", "break_me"},
    };
    for (const BlockRow &row : rows) {
        SCOPED_TRACE(row.source);
        Program program = parse_module(row.source);
        BlockNames names = collect_block_names(program.lambdas, program.statements);
        EXPECT_EQ(join(names.read), row.read);
        EXPECT_EQ(join(names.assigned), row.assigned);
    }
}

struct CaptureRow {
    const char *source;
    uint64_t index;
    const char *captures;
};

TEST(Walkers, LambdaCaptures) {
    const std::vector<CaptureRow> rows = {
        // Parameters and comprehension variables are not captured; sorted bytewise.
        {"f = lambda a: a + k + [m for m in r]\n", 0, "k r"},
        {"f = lambda: ab + a + B + _x + a1\n", 0, "B _x a a1 ab"},
        {"f = lambda a, b=z: a + b\n", 0, "z"},
        // The inner lambda is lifted first; the outer one captures what the
        // inner one needs from outside both.
        {"f = lambda a: lambda b: a + b + c\n", 0, "a c"},
        {"f = lambda a: lambda b: a + b + c\n", 1, "c"},
        // A local function value called inside a lambda is captured.
        {"def f():\n    h = lambda x: x * 2\n    k = lambda y: h(y)\n    return k(1)\n", 1, "h"},
        {"f = lambda v: sorted(v, key=key_fn)\n", 0, "key_fn sorted"},
        {"f = lambda: 1\n", 0, ""},
    };
    for (const CaptureRow &row : rows) {
        SCOPED_TRACE(row.source);
        Program program = parse_module(row.source);
        EXPECT_EQ(join(collect_lambda_captures(program.lambdas, row.index)), row.captures);
    }
}

struct FreeRow {
    const char *source;
    const char *free_names;
};

TEST(Walkers, FunctionFreeNames) {
    const std::vector<FreeRow> rows = {
        {"x = 1\ndef f():\n    return x\n", "x"},
        // Augmenting without `global` binds x locally.
        {"x = 1\ndef f():\n    x += 1\n", ""},
        {"x = 1\ndef f():\n    global x\n    x += 1\n", "x"},
        {"def f():\n    if c:\n        global y\n    y = 2\n", "c y"},
        {"def f():\n    global unused\n", "unused"},
        {"def f(data):\n    return [y for y in data]\n", ""},
        {"def f(a=d0):\n    return a\n", "d0"},
        // A module-level function value only called inside a function is a global.
        {"g = lambda x: x + 1\ndef f(y):\n    return g(y)\n", "g"},
        {"def f(y):\n    print(y)\n", "print"},
        // Top-level code: only what its lambdas capture.
        {"n = 2\nprint(n)\n", ""},
        {"n = 2\nk = lambda v: v * n\n", "n"},
        {"h = lambda v: v\nk = lambda v: h(v)\n", "h"},
        // A lambda inside a function adds its captures to the function's reads.
        {"def f():\n    return lambda a: a + z\n", "z"},
        {"def f(z):\n    return lambda a: a + z\n", ""},
        {"def f():\n    h = lambda x: x * 2\n    k = lambda y: h(y)\n    return k(1)\n", ""},
        // Methods count too, after the functions.
        {"class A:\n    def m(self):\n        return self.v + W\n", "W"},
        {"try:\n    pass\nexcept E as e:\n    pass\ndef f():\n    try:\n        pass\n    except E "
         "as e:\n        return e\n",
         "E"},
    };
    for (const FreeRow &row : rows) {
        SCOPED_TRACE(row.source);
        Program program = parse_module(row.source);
        EXPECT_EQ(join(collect_function_free_names(program)), row.free_names);
    }
}

TEST(Walkers, TargetNames) {
    Program program = parse_module("for a, (b, c) in t:\n    pass\nobj.attr = 1\nx[i] = 2\n");
    std::vector<std::string> names;
    collect_target_names(program.statements[0].as<Stmt::For>()->target, names);
    EXPECT_EQ(join(names), "a b c");
    names.clear();
    collect_target_names(program.statements[1].as<Stmt::Assign>()->target, names);
    collect_target_names(program.statements[2].as<Stmt::Assign>()->target, names);
    EXPECT_TRUE(names.empty());

    // A list display binds its elements, appended in source order.
    std::vector<Expr> elements;
    elements.push_back(Expr{Expr::Name{"z"}, 1, 1});
    elements.push_back(Expr{Expr::Tuple{}, 1, 1});
    elements.push_back(Expr{Expr::Name{"a"}, 1, 1});
    names = {"first"};
    collect_target_names(Expr{Expr::List{std::move(elements)}, 1, 1}, names);
    EXPECT_EQ(join(names), "first z a");
}

TEST(Walkers, GlobalDeclarationsInNestedBlocks) {
    Program program = parse_module(
        "def f():\n"
        "    global a\n"
        "    if x:\n        global b\n    elif y:\n        global c\n    else:\n        global d\n"
        "    while x:\n        global e\n    else:\n        global f1\n"
        "    for i in x:\n        global g\n    else:\n        global h\n"
        "    with x:\n        global i1, j\n"
        "    try:\n        global k\n    except E:\n        global l\n"
        "    else:\n        global m\n    finally:\n        global n\n");
    std::set<std::string> out{"pre"};
    collect_global_declarations(program.functions.at(0).body, out);
    EXPECT_EQ(join(out), "a b c d e f1 g h i1 j k l m n pre");
}

} // namespace
} // namespace kestal
