// Calls and stores through a class name: `Base.m(obj, ...)` checks its
// arguments as any call of Base's method does, and a store into `C.X`
// is refused at the target, since class attributes are constants.
#include "codegen_fixture.h"

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct Case {
    const char *source;
    const char *error;
};

// Line 7 is the first line after the classes.
constexpr const char *kClasses = "class Base:\n"
                                 "    LIMIT = 3\n"
                                 "    def show(self) -> str:\n"
                                 "        return 'b'\n"
                                 "class Other:\n"
                                 "    pass\n";

TEST(CodegenClassNames, MethodCallRejections) {
    const std::vector<Case> cases = {
        {"Base.show()\n", "7:1: Base.show() needs an object as its first argument"},
        {"Base.show(5)\n", "7:11: Base.show() needs a Base object, not int"},
        {"print(Base.show(Other()))\n", "7:17: Base.show() needs a Base object, not Other"},
        {"Base.show(Base(), 1)\n", "7:1: show() takes 1 argument but 2 were given"},
        {"Base.show(Base(), x=1)\n", "7:21: show() got an unexpected keyword argument 'x'"},
        {"Base.nothing(Base())\n", "7:1: class Base has no constant or method 'nothing'"},
        {"Base.LIMIT(Base())\n", "7:1: an int can't be called"},
        {"def f() -> None:\n    x = 1 + Base.show(Base())\nf()\n",
         "8:9: unsupported operand types for +: int and str"},
        // The built-in exceptions' own __init__, on an object of a subclass.
        {"class E(Exception):\n    def __init__(self):\n        Exception.__init__()\nE()\n",
         "9:9: Exception.__init__() needs an object as its first argument"},
        {"class E(Exception):\n    def __init__(self):\n        ValueError.__init__(self)\nE()\n",
         "9:29: ValueError.__init__() needs a ValueError object, not E"},
        {"class E(Exception):\n    def __init__(self):\n        Exception.__init__(self, x=1)\n"
         "E()\n",
         "9:36: BaseException.__init__() takes no keyword arguments"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(std::string(kClasses) + c.source), c.error) << c.source;
}

TEST(CodegenClassNames, StoresAreRefusedAtTheTarget) {
    const std::string message = "class attributes are constants and can't be assigned (keep the "
                                "value in an object field or a global)";
    const std::vector<Case> cases = {
        {"Base.LIMIT = 4\n", "7:1"},
        {"Base.LIMIT += 1\n", "7:1"},
        {"Base.count: int = 0\n", "7:1"},
        {"a, Base.LIMIT = 1, 2\n", "7:4"},
        {"def f() -> None:\n    if True:\n        Base.LIMIT -= 1\nf()\n", "9:9"},
        {"class Sub(Base):\n    def grow(self) -> None:\n        Sub.LIMIT = self.LIMIT + 1\n"
         "Sub().grow()\n",
         "9:9"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(std::string(kClasses) + c.source),
                  std::string(c.error) + ": " + message)
            << c.source;
}

} // namespace
} // namespace kestal::testing
