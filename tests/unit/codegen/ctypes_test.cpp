// The per-Type texts and Type joins the lowerings share: conversions between
// numbers and optionals, the joins that decide widening, truth tests and
// string literals.
#include "codegen/core/ctypes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestal::testing {
namespace {

TEST(CodegenTypes, ConversionsAndJoins) {
    const Type &i = Type::int_();
    const Type &f = Type::float_();
    const Type &b = Type::bool_();
    const Type &none = Type::none();
    Type list_i = Type::list(i);
    // Floats and bools are never widened again.
    EXPECT_EQ(widen_to_float_text("x", f), "x");
    EXPECT_EQ(widen_to_float_text("x", b), "x");
    // A bool is not a number here.
    EXPECT_EQ(coerce_expr("x", b, i), std::nullopt);
    std::optional<std::string> to_opt_float = coerce_expr("x", i, make_optional(f));
    ASSERT_TRUE(to_opt_float);
    EXPECT_NE(to_opt_float->find("true"), std::string::npos) << *to_opt_float;
    EXPECT_NE(to_opt_float->find("(double)"), std::string::npos) << *to_opt_float;
    // None into an optional list: the None expression still runs, then a null
    // pointer.
    std::optional<std::string> to_opt_list = coerce_expr("g()", none, make_optional(list_i));
    EXPECT_EQ(to_opt_list, "((void)(g()), (L_i *){0})");

    EXPECT_EQ(join_types(make_optional(i), f), make_optional(f));
    EXPECT_EQ(join_types(i, f), f);
    EXPECT_EQ(join_types(none, none), none);
    EXPECT_EQ(join_types(i, none), make_optional(i));
    EXPECT_EQ(join_types(i, Type::str()), std::nullopt);
}

TEST(CodegenTypes, TruthTestsAndStringLiterals) {
    std::optional<std::string> opt_list =
        truth_test_expr("x", make_optional(Type::list(Type::int_())));
    ASSERT_TRUE(opt_list);
    EXPECT_NE(opt_list->find("NULL"), std::string::npos) << *opt_list;
    std::optional<std::string> opt_str = truth_test_expr("x", make_optional(Type::str()));
    ASSERT_TRUE(opt_str);
    EXPECT_NE(opt_str->find("_qt.v"), std::string::npos) << *opt_str;
    // Control and non-ASCII bytes as octal; the count is in bytes.
    EXPECT_EQ(c_str_literal("a\n\xc3\xa9"), "((ktl_str){\"a\\012\\303\\251\", 4})");
    EXPECT_EQ(c_str_literal(""), "((ktl_str){\"\", 0})");
    EXPECT_EQ(dict_view_kind("key"), std::nullopt);
}

} // namespace
} // namespace kestal::testing
