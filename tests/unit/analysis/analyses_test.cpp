// The statement analyses asked on parsed source: which bodies can reach
// their end, which names are assigned once, and which names a `try` makes
// volatile. Each case is one function body; the analysis reads its syntax
// only, so statements the code generator can't compile yet are fine here.
#include "analysis/analyses.h"

#include "parser/parser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

FuncDef parse_function(const std::string &body) {
    Program p = parse_module("import sys\nimport os\ndef f(p, q):\n" + body);
    return p.functions.at(0);
}

std::vector<std::string> sorted(const PathSet &set) {
    std::vector<std::string> out(set.begin(), set.end());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CodegenAnalyses, WhichBodiesNeverComplete) {
    struct Case {
        const char *body;
        bool never_completes;
    } cases[] = {
        {"    while True:\n        pass\n", true},
        {"    while True:\n        if p:\n            break\n", false},
        {"    while True:\n        for i in q:\n            break\n", true},
        {"    while p:\n        pass\n", false},
        {"    if p:\n        return 1\n    else:\n        return 2\n", true},
        {"    if p:\n        return 1\n", false},
        {"    if p:\n        return 1\n    elif q:\n        return 2\n", false},
        {"    try:\n        return 1\n    except ValueError:\n        return 2\n", true},
        {"    try:\n        return 1\n    except ValueError:\n        return 2\n"
         "    except KeyError:\n        print('logged')\n",
         false},
        {"    try:\n        pass\n    except ValueError:\n        pass\n    finally:\n"
         "        raise ValueError('x')\n",
         true},
        {"    assert False\n", true},
        {"    assert 0\n", false},
        {"    assert True\n", false},
        {"    exit(1)\n", true},
        {"    quit()\n", true},
        {"    sys.exit(2)\n", true},
        {"    os._exit(1)\n", false},
        {"    raise ValueError('x')\n", true},
        {"    print(1)\n    return\n", true},
        {"    pass\n", false},
        // A `break` in a loop's `else` leaves the loop around it; one in an
        // inner loop's body leaves only that loop.
        {"    while True:\n        for i in q:\n            pass\n        else:\n            "
         "break\n",
         false},
        {"    while True:\n        while p:\n            pass\n        else:\n            break\n",
         false},
        {"    while True:\n        while p:\n            break\n        else:\n            pass\n",
         true},
        // A loop without a `break` leaves only through its `else`.
        {"    for i in q:\n        pass\n    else:\n        raise ValueError('x')\n", true},
        {"    for i in q:\n        if i:\n            return i\n    else:\n        return 0\n",
         true},
        {"    for i in q:\n        if i:\n            break\n    else:\n        return 0\n", false},
        {"    for i in q:\n        return i\n", false},
        {"    while p:\n        pass\n    else:\n        sys.exit(1)\n", true},
        {"    while p:\n        if q:\n            break\n    else:\n        return 1\n", false},
        {"    while p:\n        for i in q:\n            break\n    else:\n        return 1\n",
         true},
        {"    while True:\n        with p:\n            break\n", false},
        {"    while True:\n        try:\n            pass\n        finally:\n            break\n",
         false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(block_never_completes(parse_function(c.body).body), c.never_completes) << c.body;
}

TEST(CodegenAnalyses, SingleAssignmentNames) {
    FuncDef f = parse_function("    x = 1\n"
                               "    for i in q:\n"
                               "        y = 1\n"
                               "        q = i\n"
                               "    z = 2\n"
                               "    z = 3\n");
    // x once at the top; p a parameter never assigned. y (in a loop), q
    // (reassigned in a loop), z (twice) and the loop variable are not.
    EXPECT_EQ(sorted(analyse_body_assignments(f.body, f.params)),
              (std::vector<std::string>{"p", "x"}));
}

// Which names keep one value for the whole body: every binding counts,
// wherever it stands (try bodies, handlers and their names, `with` targets,
// augmented assignments), and a binding in a loop body counts as many.
TEST(CodegenAnalyses, SingleAssignmentNamesInEveryBlock) {
    struct Case {
        const char *body;
        std::vector<std::string> names;
    } cases[] = {
        // A parameter assigned twice inside `try` is not single.
        {"    try:\n        p = 1\n        p = 2\n    except ValueError:\n        pass\n", {"q"}},
        {"    try:\n        p = 1\n    except ValueError:\n        p = 2\n", {"q"}},
        {"    try:\n        pass\n    finally:\n        x = 1\n        q += 1\n", {"p", "x"}},
        {"    try:\n        x = 1\n    except ValueError as e:\n        y = e\n",
         {"e", "p", "q", "x", "y"}},
        {"    try:\n        pass\n    except ValueError as p:\n        pass\n", {"q"}},
        {"    while q:\n        try:\n            x = 1\n        except ValueError as e:\n         "
         "   pass\n",
         {"p", "q"}},
        {"    with p as h:\n        q += 1\n        q += 1\n", {"h", "p"}},
        {"    if p:\n        x = 1\n    else:\n        x = 2\n", {"p", "q"}},
        {"    while p:\n        pass\n    else:\n        x = 1\n", {"p", "q", "x"}},
        {"    x, (y, z) = q\n    del p\n", {"p", "q", "x", "y", "z"}},
        // The call binds each parameter once: one more binding in the body,
        // in any form or branch, is a second.
        {"    p = 1\n", {"q"}},
        {"    p += 4\n", {"q"}},
        {"    p, q = 7, 8\n", {}},
        {"    if q:\n        p = 1\n", {"q"}},
    };
    for (const Case &c : cases) {
        FuncDef f = parse_function(c.body);
        EXPECT_EQ(sorted(analyse_body_assignments(f.body, f.params)), c.names) << c.body;
    }
}

// Which access paths a block assigns, nested blocks and handler names
// included.
TEST(CodegenAnalyses, AssignedPaths) {
    FuncDef f =
        parse_function("    if p:\n        self.a.b = 1\n    for i, (j, k) in q:\n        n += 1\n"
                       "    with p as h:\n        pass\n"
                       "    try:\n        pass\n    except E as e:\n        x[0] = 1\n"
                       "    finally:\n        z = 2\n"
                       "    while p:\n        pass\n    else:\n        w = 1\n");
    PathSet paths;
    collect_assigned_names(f.body, paths);
    EXPECT_EQ(sorted(paths),
              (std::vector<std::string>{"e", "h", "i", "j", "k", "n", "self.a.b", "w", "z"}));
}

TEST(CodegenAnalyses, TryAssignedNamesAreVolatile) {
    struct Case {
        const char *body;
        std::vector<std::string> names;
    } cases[] = {
        {"    try:\n        a = 1\n    except ValueError:\n        b = 2\n", {"a"}},
        {"    try:\n        a = 1\n    except ValueError:\n        b = 2\n    finally:\n        c "
         "= 3\n",
         {"a", "b", "c"}},
        {"    if p:\n        try:\n            a = 1\n        except ValueError:\n            "
         "pass\n",
         {"a"}},
        {"    a = 1\n", {}},
    };
    for (const Case &c : cases) {
        PathSet names;
        collect_try_assigned_names(parse_function(c.body).body, names);
        EXPECT_EQ(sorted(names), c.names) << c.body;
    }
}

} // namespace
} // namespace kestal::testing
