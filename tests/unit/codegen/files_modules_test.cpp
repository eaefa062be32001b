// open(), input(), the file methods and the built-in modules os, os.path,
// sys, time, random and parallel: what each refuses, with its message and
// position, and the lowerings whose shape matters (a path join folds left,
// `for line in open(...)` closes its file).
#include "codegen_fixture.h"

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct Case {
    const char *source;
    const char *error;
};

TEST(CodegenFiles, OpenAndFileMethodRejections) {
    const std::vector<Case> cases = {
        {"f = open(\"a\", \"r\", 1)\n",
         "1:5: open() takes a path and a mode (other arguments are keywords)"},
        {"f = open(\"a\", encoding=\"latin-1\")\n",
         "1:24: Kestal files are UTF-8; encoding= must be \"utf-8\""},
        {"e = \"utf-8\"\nf = open(\"a\", encoding=e)\n",
         "2:24: Kestal files are UTF-8; encoding= must be \"utf-8\""},
        {"f = open(\"a\", \"rb\")\n",
         "1:15: binary files (mode 'rb') aren't supported yet; open in text mode"},
        {"f = open(\"a\", \"r+\")\n",
         "1:15: unsupported file mode 'r+' (Kestal supports 'r', 'w', 'a' and 'x')"},
        {"f = open(\"a\", 3)\n", "1:15: open() mode must be a str, not int"},
        {"f = open(\"a\", \"w\", mode=\"a\")\n",
         "1:25: open() got multiple values for argument 'mode'"},
        {"f = open(\"a\", file=\"b\")\n", "1:20: open() got multiple values for argument 'file'"},
        {"f = open(\"a\", buffering=1)\n",
         "1:25: open() got an unexpected keyword argument 'buffering'"},
        {"f = open(mode=\"r\")\n", "1:5: open() needs a path"},
        {"f = open(5)\n", "1:10: open() needs a path (a str), not int"},
        {"f = open(\"a\")\nf.read(100)\n",
         "2:1: read(size) isn't supported yet; read() reads the whole file"},
        {"f = open(\"a\", \"w\")\nf.write(5)\n", "2:9: write() argument must be str, not int"},
        {"xs = [1, 2]\nf = open(\"a\", \"w\")\nf.writelines(xs)\n",
         "3:14: writelines() needs strings, not list[int]"},
        {"f = open(\"a\", \"w\")\nf.writelines({1: \"a\"})\n",
         "2:14: writelines() needs strings, not list[int]"},
        {"f = open(\"a\", \"w\")\nf.seek(0)\n",
         "2:1: file has no method 'seek' taking 1 argument(s)"},
        {"f = open(\"a\")\nf.readline(1)\n",
         "2:1: file has no method 'readline' taking 1 argument(s)"},
        {"f = open(\"a\")\nf.close(now=True)\n",
         "2:13: close() got an unexpected keyword argument 'now'"},
        {"x = input(5)\n", "1:5: input() prompt must be a str"},
        {"f = open(\"a\")\nprint(len(f))\n", "2:7: a file has no len()"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

TEST(CodegenModules, Rejections) {
    const std::vector<Case> cases = {
        {"import os\nos.mkdir(\"d\", mode=0)\n",
         "2:20: mkdir() got an unexpected keyword argument 'mode'"},
        {"import os\nx = os.listdir(\"a\", path=\"b\")\n",
         "2:5: listdir() takes at most one argument"},
        {"import os\nx = os.listdir(x=1)\n",
         "2:18: listdir() got an unexpected keyword argument 'x'"},
        {"import os\nx = os.listdir(3)\n", "2:16: listdir() needs a str, not int"},
        {"import os\nx = os.getenv()\n", "2:5: getenv() takes 2 argument(s), got 0"},
        {"import os\nx = os.getenv(\"X\", 5)\n", "2:20: getenv() needs a str, not int"},
        {"import os\nx = os.chdir(\"a\")\n",
         "2:5: os has no function 'chdir' (or it isn't supported yet)"},
        {"import os\nx = os.path.join()\n", "2:5: join() takes 1 or more argument(s), got 0"},
        {"import os\nx = os.path.abspath(\"a\")\n",
         "2:5: os.path has no function 'abspath' (or it isn't supported yet)"},
        {"import os\nx = os.path.exists(1)\n", "2:20: exists() needs a str, not int"},
        {"import os\nx = os.environ\n",
         "2:5: os.environ is only supported as os.environ.get(name) or "
         "os.environ.get(name, default)"},
        {"import os\nx = os.environ.keys()\n",
         "2:5: os.environ.keys() isn't supported; use os.environ.get(name) or os.getenv(name)"},
        {"import os\nx = os.environ.get(\"A\", \"b\", \"c\")\n",
         "2:5: get() takes 2 argument(s), got 3"},
        {"import os\nx = os.curdir\n",
         "2:5: module 'os' has no attribute 'curdir' (or it isn't supported yet)"},
        {"import sys\nsys.exit(None)\n", "2:10: sys.exit() takes an int or a str, not None"},
        {"import sys\nsys.exit(True)\n", "2:10: sys.exit() takes an int or a str, not bool"},
        {"import sys\nsys.exit(1, 2)\n", "2:1: exit() takes 0 to 1 argument(s), got 2"},
        {"import sys\nsys.flush()\n", "2:1: sys has no function 'flush'"},
        {"import time\ntime.sleep(\"1\")\n", "2:1: sleep() needs a number of seconds"},
        {"import time\nx = time.time(1)\n", "2:5: time() takes 0 argument(s), got 1"},
        {"import time\nx = time.strftime(5)\n", "2:5: strftime() needs a format string first"},
        {"import time\nx = time.strftime(\"%Y\", \"now\")\n",
         "2:25: strftime() needs a number of seconds"},
        {"import time\nx = time.clock()\n", "2:5: time has no function 'clock'"},
        {"import time\nx = time.time\n",
         "2:5: module 'time' has no attribute 'time' (or it isn't supported yet)"},
        {"import random\nx = random.choice(\"abc\")\n", "2:5: choice() needs a list"},
        {"import random\nrandom.shuffle((1, 2))\n", "2:1: shuffle() needs a list"},
        {"import random\nx = random.randint(1, 2.0)\n",
         "2:23: randint() bound must be int, not float"},
        {"import random\nrandom.seed(\"s\")\n", "2:13: seed() must be int, not str"},
        {"import random\nx = random.uniform(1, \"2\")\n", "2:5: uniform() needs numbers"},
        {"import random\nx = random.gauss(0, 1)\n", "2:5: random has no function 'gauss'"},
        {"import parallel\nx = parallel.prange(3)\n",
         "2:5: prange() can only be the iterable of a for loop: `for i in prange(n):`"},
        {"import parallel\nx = parallel.prange\n",
         "2:5: prange() can only be the iterable of a for loop: `for i in prange(n):`"},
        {"import parallel\nparallel.run()\n",
         "2:1: module 'parallel' has no function 'run' (it has prange)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

// Several path parts fold into nested two-part joins, left first; one part
// is its own text.
TEST(CodegenModules, PathJoinFoldsLeft) {
    std::string c = program_c("import os\nx = os.path.join(\"a\", \"b\", \"c\")\n"
                              "y = os.path.join(x)\n");
    EXPECT_NE(c.find("ktl_path_join(ktl_path_join("), std::string::npos) << c;
    EXPECT_EQ(c.find("ktl_path_join(x"), std::string::npos) << c;
}

// A loop over open(...) closes the file after the loop; a loop over a file
// variable leaves it open for the program to close.
TEST(CodegenFiles, LoopOverOpenClosesTheFile) {
    std::string direct = program_c("for line in open(\"a\"):\n    print(line)\n");
    EXPECT_NE(direct.find("ktl_file_close("), std::string::npos) << direct;
    std::string held = program_c("f = open(\"a\")\nfor line in f:\n    print(line)\n");
    EXPECT_EQ(held.find("ktl_file_close("), std::string::npos) << held;
}

// Programs that run: file values, input() at the end of input, the module
// constants.
TEST(CodegenModules, RunsWithThePlatformConstants) {
    RunResult r = run_source("import os\nimport sys\nprint(os.sep, repr(os.linesep), os.name, "
                             "sys.platform, os.path.sep)\n"
                             "print(sys.stdout.name, sys.stderr.closed)\n"
                             "sys.stdout.write(\"direct\\n\")\n"
                             "print(os.path.splitext(\"a/b.c\")[1], os.path.basename(\"/x/y\"))\n",
                             "files_modules_constants");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "/ '\\n' posix linux /\n<stdout> False\ndirect\n.c y\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
} // namespace kestal::testing
