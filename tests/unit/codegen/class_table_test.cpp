// The class table of the code-generation context: class ids, ancestor
// chains and subtrees, answered from indexes built once per context. A
// subtree comes back in class-id order even where a later sibling's
// subclass was defined before it.
#include "codegen/classes/classes.h"
#include "parser/parser.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <memory>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct SubtreeCase {
    const char *name;
    std::vector<std::string> subtree;
};

TEST(CodegenClassTable, IdsChainsAndSubtreesInClassIdOrder) {
    // A(27) <- B(28) <- D(29); A <- C(30) <- E(31); F(32) alone; G(33) from
    // KeyError.
    Program program = parse_module("class A:\n    pass\nclass B(A):\n    pass\n"
                                   "class D(B):\n    pass\nclass C(A):\n    pass\n"
                                   "class E(C):\n    pass\nclass F:\n    pass\n"
                                   "class G(KeyError):\n    pass\n");
    std::unique_ptr<CodegenContext> owner = new_codegen_context(program);
    const CodegenContext &ctx = *owner;
    EXPECT_EQ(class_id(ctx, "BaseException"), 0U);
    EXPECT_EQ(class_id(ctx, "ValueError"), 26U);
    EXPECT_EQ(class_id(ctx, "A"), 27U);
    EXPECT_EQ(class_id(ctx, "G"), 33U);
    EXPECT_EQ(class_ancestors(ctx, "D"), (std::vector<std::string>{"D", "B", "A"}));
    EXPECT_EQ(class_ancestors(ctx, "int"), (std::vector<std::string>{"int"}));
    EXPECT_EQ(common_base_class(ctx, "D", "E"), "A");
    EXPECT_EQ(common_base_class(ctx, "D", "F"), std::nullopt);
    const SubtreeCase cases[] = {
        {"A", {"A", "B", "D", "C", "E"}},
        {"B", {"B", "D"}},
        {"E", {"E"}},
        {"F", {"F"}},
        {"LookupError", {"LookupError", "IndexError", "KeyError", "G"}},
        {"int", {}},
    };
    for (const SubtreeCase &c : cases)
        EXPECT_EQ(subclasses_of(ctx, c.name), c.subtree) << c.name;
}

TEST(CodegenClassTable, ThousandsOfClassesKeepTheirIds) {
    // A chain of 3,000 classes and a fan of 3,000 under one root: every id
    // and subtree still comes out right (and in time linear in the answers).
    std::string source = "class Root:\n    pass\n";
    for (int i = 0; i < 3000; ++i)
        source += fmt::format("class K{}({}):\n    pass\n", i,
                              i == 0 ? "Root" : fmt::format("K{}", i - 1));
    for (int i = 0; i < 3000; ++i)
        source += fmt::format("class F{}(Root):\n    pass\n", i);
    Program program = parse_module(source);
    std::unique_ptr<CodegenContext> owner = new_codegen_context(program);
    const CodegenContext &ctx = *owner;
    EXPECT_EQ(class_id(ctx, "K2999"), 27U + 1 + 2999);
    EXPECT_EQ(class_id(ctx, "F0"), 27U + 1 + 3000);
    EXPECT_EQ(class_ancestors(ctx, "K2999").size(), 3001U);
    std::vector<std::string> all = subclasses_of(ctx, "Root");
    ASSERT_EQ(all.size(), 6001U);
    for (size_t i = 1; i < all.size(); ++i)
        EXPECT_LT(class_id(ctx, all[i - 1]), class_id(ctx, all[i]));
    EXPECT_EQ(subclasses_of(ctx, "K2998"), (std::vector<std::string>{"K2998", "K2999"}));
}

} // namespace
} // namespace kestal::testing
