// The per-Type texts and Type joins the lowerings share: conversions between
// numbers and optionals, the joins that decide widening, truth tests and
// string literals.
#include "codegen/core/ctypes.h"

#include "parser/parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

TEST(CodegenTypes, ConversionsAndJoins) {
    Program program;
    std::unique_ptr<CodegenContext> owner = new_codegen_context(program);
    const CodegenContext &ctx = *owner;
    const Type &i = Type::int_();
    const Type &f = Type::float_();
    const Type &b = Type::bool_();
    const Type &none = Type::none();
    Type list_i = Type::list(i);
    // Floats and bools are never widened again.
    EXPECT_EQ(widen_to_float_text("x", f), "x");
    EXPECT_EQ(widen_to_float_text("x", b), "x");
    // A bool is not a number here.
    EXPECT_EQ(coerce_expr(ctx, "x", b, i), std::nullopt);
    std::optional<std::string> to_opt_float = coerce_expr(ctx, "x", i, make_optional(f));
    ASSERT_TRUE(to_opt_float);
    EXPECT_NE(to_opt_float->find("true"), std::string::npos) << *to_opt_float;
    EXPECT_NE(to_opt_float->find("(double)"), std::string::npos) << *to_opt_float;
    // None into an optional list: the None expression still runs, then a null
    // pointer.
    std::optional<std::string> to_opt_list = coerce_expr(ctx, "g()", none, make_optional(list_i));
    EXPECT_EQ(to_opt_list, "((void)(g()), (L_i *){0})");

    EXPECT_EQ(join_types(ctx, make_optional(i), f), make_optional(f));
    EXPECT_EQ(join_types(ctx, i, f), f);
    EXPECT_EQ(join_types(ctx, none, none), none);
    EXPECT_EQ(join_types(ctx, i, none), make_optional(i));
    EXPECT_EQ(join_types(ctx, i, Type::str()), std::nullopt);
}

// Class conversions and joins follow the base table of the context they are
// asked in: two programs whose classes share names but not bases, compiled
// on one thread, never see each other's ancestry.
TEST(CodegenTypes, ClassJoinsFollowTheContextsBases) {
    Program tree =
        parse_module("class A:\n    pass\nclass B(A):\n    pass\nclass C(A):\n    pass\n");
    Program chain = parse_module("class A:\n    pass\nclass B:\n    pass\nclass C(B):\n    pass\n");
    std::unique_ptr<CodegenContext> in_tree = new_codegen_context(tree);
    std::unique_ptr<CodegenContext> in_chain = new_codegen_context(chain);
    Type a = Type::class_("A"), b = Type::class_("B"), c = Type::class_("C");
    struct Row {
        const CodegenContext *ctx;
        Type x, y;
        std::optional<Type> join;
    };
    std::vector<Row> rows = {
        {in_tree.get(), b, c, a},
        {in_chain.get(), b, c, b},
        {in_chain.get(), a, c, std::nullopt},
        {in_tree.get(), c, Type::none(), make_optional(c)},
        {in_chain.get(), make_optional(c), b, make_optional(b)},
    };
    for (const Row &r : rows)
        EXPECT_EQ(join_types(*r.ctx, r.x, r.y), r.join)
            << type_display(r.x) << " | " << type_display(r.y);
    EXPECT_EQ(coerce_expr(*in_tree, "o", b, a), "((C_A *)(o))");
    EXPECT_EQ(coerce_expr(*in_chain, "o", b, a), std::nullopt);
    EXPECT_EQ(coerce_expr(*in_chain, "o", c, b), "((C_B *)(o))");
    EXPECT_EQ(coerce_expr(*in_tree, "o", a, b), std::nullopt);
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
