// Import statements: what they record in `imports` and `aliases`, and every
// refusal with its message and position.
#include "parse_helpers.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::Case;
using testing::first_error;
using testing::parse_result;

TEST(ParserImports, ImportsFillTheImportListAndTheAliasMap) {
    const Case cases[] = {
        {"import math, os.path", "alias math = math\nalias os = os\n"},
        {"import mylib", "import mylib@1:8\nalias mylib = mylib\n"},
        {"import mylib\nimport mylib", "import mylib@1:8\nimport mylib@2:8\nalias mylib = mylib\n"},
        {"import math as m", "alias m = math\n"},
        {"import os.path as p", "alias p = os.path\n"},
        {"from math import sqrt, pi as PI", "alias PI = math.pi\nalias sqrt = math.sqrt\n"},
        {"from os.path import join", "alias join = os.path.join\n"},
        {"from parallel import prange", "alias prange = parallel.prange\n"},
        {"from mylib import (f, g,)", "import mylib@1:6\nalias f = mylib.f\nalias g = mylib.g\n"},
        {"from mylib import (f as h)", "import mylib@1:6\nalias h = mylib.f\n"},
        {"from math import nothing", "alias nothing = math.nothing\n"},
        {"import math as m\nimport time as m", "alias m = time\n"},
        {"import typing, dataclasses, sys, random, time",
         "alias dataclasses = dataclasses\nalias random = random\n"
         "alias sys = sys\nalias time = time\nalias typing = typing\n"},
        // Annotations are never evaluated, so the feature binds and records nothing.
        {"from __future__ import annotations", ""},
        {"from __future__ import (annotations, division,)", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse_result(c.source), c.expected) << c.source;
}

TEST(ParserImports, RefusalsGiveTheirMessageAtTheirPosition) {
    const Case cases[] = {
        {"import mylib.sub",
         "1:8: module 'mylib.sub' is not available (built in: math, time, random, sys, os, "
         "os.path, typing, dataclasses, parallel)"},
        {"from os.walk import x",
         "1:6: module 'os.walk' is not available (built in: math, time, random, sys, os, "
         "os.path, typing, dataclasses, parallel)"},
        {"from m import *", "1:15: `from ... import *` isn't supported; import the names you use"},
        {"import m; x = 1", "1:9: expected end of line, found semicolon"},
        {"from m import f; x = 1", "1:16: expected end of line, found semicolon"},
        {"from m import f,", "1:17: expected a name to import, found end of line"},
        {"import 1", "1:8: expected a module name, found number 1"},
        {"import os.", "1:11: expected a module name, found end of line"},
        {"import m as", "1:12: expected a name, found end of line"},
        {"from m imp f", "1:8: expected 'import', found 'imp'"},
        {"from m import f as", "1:19: expected a name, found end of line"},
        {"from m import (f", "1:17: expected ')', found end of line"},
        {"from m import (f g)", "1:18: expected ')', found 'g'"},
        {"from __future__ import braces", "1:24: future feature 'braces' is not defined"},
        {"from __future__ import annotations; x = 1",
         "1:35: expected end of line, found semicolon"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(first_error(c.source), c.expected) << c.source;
}

} // namespace
} // namespace kestal
