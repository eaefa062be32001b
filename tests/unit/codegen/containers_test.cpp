// Containers as generated C: the forms a program's output can't show — which
// set constructor a display uses, the slice defaults, a store's value held
// before any slot is taken, and the sort chosen by `reverse=`.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct TextCase {
    const char *source;
    const char *present;
    const char *absent;
};

TEST(CodegenContainers, GeneratedTexts) {
    std::vector<TextCase> cases = {
        // Three or more constant items build through the constant path.
        {"s = {1, 2, 3}\n", "S_i_from_consts(3, (int64_t[]){INT64_C(1), INT64_C(2), INT64_C(3)})",
         nullptr},
        {"s = {-1, -2, -3}\n", "S_i_from_consts(3", nullptr},
        {"s = {1, 2}\n", "S_i_from(2", "from_consts"},
        {"x = 3\ns = {1, 2, x}\n", "S_i_from(3", "from_consts"},
        // An empty display takes the annotation's Type.
        {"xs: list[int] = []\n", "L_i_new(0)", nullptr},
        // A step of 1 (or none) keeps the plain slice and its defaults.
        {"xs = [1]\nys = xs[::1]\n", "L_i_slice(v_xs, 0, INT64_MAX)", "_step"},
        {"xs = [1]\nys = xs[::-1]\n", "L_i_slice_step(v_xs, KTL_NOIDX, KTL_NOIDX, INT64_C(-1))",
         nullptr},
        {"s = \"ab\"\nt = s[1:]\n", "ktl_str_slice(v_s, INT64_C(1), INT64_MAX)", nullptr},
        // Tuple fields by constant index, negative ones counted from the end.
        {"t = (1, \"a\", 2.5)\nx = t[-1]\n", "(v_t).f2", nullptr},
        // The value is held before the dict is touched.
        {"d = {1: 2}\nd[3] = 4\n", "int64_t _v", nullptr},
        // An item store checks its index through the runtime's macro, which
        // unchecked builds turn off.
        {"xs = [1]\nxs[0] = 2\n", "KTL_CHECK(\"list assignment\"", "ktl_index_error"},
        // reverse=True sorts descending directly; a variable chooses at run time.
        {"xs = [2, 1]\nxs.sort(reverse=True)\n", "ktl_rsort_L_i(", "ktl_sort_L_i("},
        {"r = False\nxs = [2, 1]\nxs.sort(reverse=r)\n", "? ktl_rsort_L_i(", nullptr},
    };
    for (const TextCase &c : cases) {
        std::string text = program_c(c.source);
        EXPECT_NE(text.find(c.present), std::string::npos) << c.source << "\n" << text;
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << c.source << "\n" << text;
        }
    }
}

// The value of an item store is computed into its temporary on a line before
// the line that writes the item, so no slot pointer outlives a call that
// grows the container.
TEST(CodegenContainers, StoreValueBeforeSlot) {
    std::string text = program_c("def f(xs: list[int]) -> int:\n    xs.append(1)\n    return 2\n\n"
                                 "xs = [0]\nxs[0] = f(xs)\n");
    size_t value = text.find("int64_t _v");
    size_t slot = text.find("->data[", value == std::string::npos ? 0 : value);
    ASSERT_NE(value, std::string::npos) << text;
    ASSERT_NE(slot, std::string::npos) << text;
    EXPECT_LT(text.find("f_", value), slot) << text;
}

} // namespace
} // namespace kestal::testing
