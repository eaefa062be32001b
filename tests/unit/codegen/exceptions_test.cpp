// raise, try/except/finally, with, assert and del: what each refuses, with
// its message and position, and the lowerings whose C shape matters (a
// finally body holding a loop is compiled once per place, so its labels
// never clash; a program without `try` gives `with` no handler).
#include "codegen_fixture.h"

#include "ast/python_exceptions.h"

#include <fmt/format.h>

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct Case {
    const char *source;
    const char *error;
};

TEST(CodegenExceptions, Rejections) {
    const std::vector<Case> cases = {
        {"with 5:\n    pass\n", "1:6: only files can be used in a `with` statement, not an int"},
        {"def f() -> None:\n    raise\n",
         "2:5: a bare `raise` only works inside an except block (it re-raises the exception "
         "being handled)"},
        {"s = \"abc\"\ndel s[0]\n", "2:5: a str doesn't support deleting items"},
        {"t = (1, 2)\ndel t[0:1]\n", "2:5: a tuple[int, int] doesn't support deleting slices"},
        {"x = 1\ndel x\n",
         "2:5: del only works on items and slices (`del d[key]`, `del xs[i]`, `del xs[a:b]`)"},
        {"xs = [1]\ndel xs[\"a\"]\n", "2:8: a list index must be int, not str"},
        {"try:\n    pass\nexcept 3:\n    pass\n",
         "3:8: an except clause needs an exception class (or a tuple of them)"},
        {"foo = 1\ntry:\n    pass\nexcept foo:\n    pass\n", "4:8: 'foo' isn't an exception class"},
        {"try:\n    pass\nexcept Nope:\n    pass\n", "3:8: 'Nope' isn't an exception class"},
        {"class Point:\n    pass\ntry:\n    pass\nexcept (ValueError, Point):\n    pass\n",
         "5:21: catching classes that do not inherit from BaseException is not allowed "
         "('Point')"},
        {"class Point:\n    pass\nraise Point\n",
         "3:7: exceptions must derive from BaseException ('Point' doesn't)"},
        {"raise 5\n", "1:7: exceptions must derive from BaseException, not int"},
        {"raise ValueError(\"a\") from 3\n",
         "1:28: exceptions must derive from BaseException, not int"},
        {"f = open(\"a\")\nraise ValueError(f)\n", "2:7: a file can't be an exception argument"},
        {"raise ValueError(x=1)\n", "1:20: ValueError() takes no keyword arguments"},
        {"raise ValueError(print(1))\n", "1:18: this expression has no value"},
        {"assert 1 > 0, print(2)\n", "1:15: this expression has no value"},
        {"class E(Exception):\n    def __init__(self, n: int):\n        super().__init__(n, "
         "k=1)\nraise E(1)\n",
         "3:31: BaseException.__init__() takes no keyword arguments"},
        {"class E(Exception):\n    def __init__(self) -> int:\n        return 1\nraise E()\n",
         "4:7: __init__() should return None, not int"},
        {"def f(xs: list[int]) -> int:\n    for i in range(3):\n        try:\n            for x "
         "in xs:\n                return x\n        finally:\n            continue\n    return "
         "0\n",
         "7:13: 'continue' in a finally block can't end a return from inside a loop of its try "
         "block"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

// A Python exception or warning class Kestal lacks is named as Python's
// wherever a class or a callable is looked up; a class of the program by
// that name is an ordinary class.
TEST(CodegenExceptions, PythonClassesKestalLacks) {
    const std::string syntax_error =
        "Python's exception class 'SyntaxError' isn't available in Kestal (built in: "
        "BaseException, SystemExit, KeyboardInterrupt, Exception, ArithmeticError, "
        "ZeroDivisionError, OverflowError, AssertionError, AttributeError, EOFError, "
        "LookupError, IndexError, KeyError, NameError, OSError, FileNotFoundError, "
        "FileExistsError, PermissionError, IsADirectoryError, NotADirectoryError, "
        "UnsupportedOperation, RuntimeError, NotImplementedError, RecursionError, "
        "StopIteration, TypeError, ValueError); use one of those or a class of your own "
        "derived from Exception";
    EXPECT_EQ(rejection("raise SyntaxError(\"bad\")\n"), "1:7: " + syntax_error);
    struct Lacking {
        const char *source;
        const char *position;
        const char *name;
    };
    const std::vector<Lacking> cases = {
        {"raise SyntaxError\n", "1:7", "SyntaxError"},
        {"raise UnicodeDecodeError(\"utf-8\", \"x\", 0, 1, \"bad\")\n", "1:7",
         "UnicodeDecodeError"},
        {"raise ValueError(\"a\") from ExceptionGroup(\"b\", [])\n", "1:28", "ExceptionGroup"},
        {"try:\n    pass\nexcept SyntaxError:\n    pass\n", "3:8", "SyntaxError"},
        {"try:\n    pass\nexcept (ValueError, TimeoutError) as e:\n    pass\n", "3:21",
         "TimeoutError"},
        {"class E(SyntaxError):\n    pass\n", "1:9", "SyntaxError"},
        {"def f(e: Exception) -> bool:\n    return isinstance(e, MemoryError)\n", "2:26",
         "MemoryError"},
        {"def f(e: Exception) -> bool:\n    return isinstance(e, (KeyError, UserWarning))\n",
         "2:37", "UserWarning"},
        {"x = DeprecationWarning(\"old\")\n", "1:5", "DeprecationWarning"},
        {"print(Warning)\n", "1:7", "Warning"},
        {"x: list[SyntaxError] = []\n", "1:1", "SyntaxError"},
        {"SyntaxError += 1\n", "1:1", "SyntaxError"},
        {"def f():\n    Warning -= 2\n", "2:5", "Warning"},
    };
    for (const Lacking &c : cases)
        EXPECT_EQ(rejection(c.source),
                  fmt::format("{}: {}", c.position, *missing_python_exception_message(c.name)))
            << c.source;
    // The program's own names come first.
    EXPECT_EQ(rejection("class SyntaxError(Exception):\n    pass\ntry:\n    raise "
                        "SyntaxError(\"x\")\nexcept SyntaxError as e:\n    print(isinstance(e, "
                        "SyntaxError))\n"),
              "(none)");
    EXPECT_EQ(rejection("Warning = 3\ntry:\n    pass\nexcept Warning:\n    pass\n"),
              "4:8: 'Warning' isn't an exception class");
    EXPECT_EQ(rejection("raise Nope(\"a\")\n"), "1:7: unknown function 'Nope'");
}

TEST(CodegenExceptions, FinallyCopiesAndWithHandlers) {
    std::string c = program_c("def f(n: int) -> int:\n"
                              "    for i in range(n):\n"
                              "        try:\n"
                              "            if i == 2:\n"
                              "                return i\n"
                              "        finally:\n"
                              "            for j in range(3):\n"
                              "                print(j)\n"
                              "            else:\n"
                              "                print(\"e\")\n"
                              "    return 0\n");
    EXPECT_EQ(c.find("/*_fin"), std::string::npos) << "a finally marker was left behind";
    // The finally body stands three times: normal end, landing, return.
    size_t copies = 0;
    for (size_t at = c.find("{\"e\", 1}"); at != std::string::npos;
         at = c.find("{\"e\", 1}", at + 1))
        ++copies;
    EXPECT_EQ(copies, 3u);
    RunResult r = run_source("def f(n: int) -> int:\n"
                             "    for i in range(n):\n"
                             "        try:\n"
                             "            if i == 1:\n"
                             "                return i\n"
                             "        finally:\n"
                             "            for j in range(2):\n"
                             "                print(i, j)\n"
                             "            else:\n"
                             "                print(\"e\")\n"
                             "    return 0\n"
                             "print(f(3))\n",
                             "finally_copies");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "0 0\n0 1\ne\n1 0\n1 1\ne\n1\n");
    std::string plain = program_c("with open(\"a\", \"w\") as f:\n    f.write(\"x\")\n");
    EXPECT_EQ(plain.find("ktl_try_enter"), std::string::npos);
    std::string guarded = program_c(
        "with open(\"a\", \"w\") as f:\n    f.write(\"x\")\ntry:\n    pass\nexcept:\n    pass\n");
    EXPECT_NE(guarded.find("ktl_file_close(_cm"), std::string::npos);
    EXPECT_NE(guarded.find("void *_wx = ktl_try_land"), std::string::npos);
}

} // namespace
} // namespace kestal::testing
