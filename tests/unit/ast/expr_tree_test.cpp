// The expression tree's value semantics: a copy is deep and independent, a
// move leaves the source's subtree in the destination, and the kind index is
// the fixed kind number.
#include "ast/expr.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace kestal {
namespace {

static_assert(std::variant_size_v<Expr::Kind> == 25);
static_assert(std::is_copy_constructible_v<Expr> && std::is_nothrow_move_constructible_v<Expr>);

TEST(LexerExprTree, KindNumbersAreFixed) {
    EXPECT_EQ(Expr{Expr::Int{}}.kind.index(), 0u);
    EXPECT_EQ(Expr{Expr::FString{}}.kind.index(), 4u);
    EXPECT_EQ(Expr{Expr::BinaryOp{}}.kind.index(), 6u);
    EXPECT_EQ(Expr{Expr::Call{}}.kind.index(), 9u);
    EXPECT_EQ(Expr{Expr::Slice{}}.kind.index(), 14u);
    EXPECT_EQ(Expr{Expr::Dict{}}.kind.index(), 17u);
    EXPECT_EQ(Expr{Expr::SetComp{}}.kind.index(), 19u);
    EXPECT_EQ(Expr{Expr::GeneratorExp{}}.kind.index(), 22u);
    EXPECT_EQ(Expr{Expr::None{}}.kind.index(), 24u);
    EXPECT_EQ(static_cast<int>(BinOp::Eq), 12);
    EXPECT_EQ(static_cast<int>(BinOp::Ge), 17);
    EXPECT_EQ(static_cast<int>(BinOp::IsNot), 23);
    EXPECT_EQ(static_cast<int>(UnaryOp::Invert), 2);
    EXPECT_TRUE(is_comparison(BinOp::Lt));
    EXPECT_FALSE(is_comparison(BinOp::And));
}

Expr name(const char *text, uint64_t column) {
    return Expr{Expr::Name{text}, 1, column};
}

TEST(LexerExprTree, CopiesAreDeep) {
    // a < b < c  as the parser builds it: (a < b) and (b < c), b copied.
    Expr left{Expr::BinaryOp{name("a", 1), BinOp::Lt, name("b", 5)}, 1, 1};
    Expr right{Expr::BinaryOp{name("b", 5), BinOp::Lt, name("c", 9)}, 1, 1};
    Expr chain{Expr::BinaryOp{left, BinOp::And, right, true}, 1, 1};

    Expr copy = chain;
    auto *copy_right = copy.as<Expr::BinaryOp>()->right->as<Expr::BinaryOp>();
    copy_right->left->as<Expr::Name>()->name = "changed";

    const auto *orig = chain.as<Expr::BinaryOp>();
    EXPECT_TRUE(orig->chain);
    EXPECT_EQ(orig->right->as<Expr::BinaryOp>()->left->as<Expr::Name>()->name, "b");
    EXPECT_EQ(orig->left->as<Expr::BinaryOp>()->right->as<Expr::Name>()->name, "b");
    EXPECT_NE(copy_right->left.get(), orig->right->as<Expr::BinaryOp>()->left.get());

    Expr moved = std::move(copy);
    EXPECT_EQ(moved.as<Expr::BinaryOp>()->right->as<Expr::BinaryOp>()->left->as<Expr::Name>()->name,
              "changed");
}

TEST(LexerExprTree, ListsOptionalsAndSegmentsCopyDeeply) {
    Expr slice{Expr::Slice{name("a", 1), std::nullopt, Box<Expr>(Expr{Expr::Int{2}}), std::nullopt},
               1, 1};
    Expr call{Expr::Call{"f", {slice}, {Keyword{"k", name("v", 3)}}}, 1, 1};
    Expr fstring{
        Expr::FString{{FStringSegment{FStringSegment::Literal{"x="}},
                       FStringSegment{FStringSegment::Field{call, std::string(">5"), 'r'}}}},
        1, 1};
    Expr comp{Expr::ListComp{fstring, {ComprehensionClause{name("x", 2), name("s", 7), {call}}}}, 1,
              1};

    Expr copy = comp;
    auto &clause = copy.as<Expr::ListComp>()->clauses.at(0);
    clause.conditions.at(0).as<Expr::Call>()->args.at(0).as<Expr::Slice>()->upper = std::nullopt;

    const auto &orig_call =
        *comp.as<Expr::ListComp>()->clauses.at(0).conditions.at(0).as<Expr::Call>();
    const auto *orig_slice = orig_call.args.at(0).as<Expr::Slice>();
    ASSERT_TRUE(orig_slice->upper.has_value());
    EXPECT_EQ((*orig_slice->upper)->as<Expr::Int>()->value, 2);
    EXPECT_FALSE(orig_slice->lower.has_value());
    EXPECT_EQ(orig_call.kwargs.at(0).name, "k");

    const auto &segments = copy.as<Expr::ListComp>()->element->as<Expr::FString>()->segments;
    ASSERT_EQ(segments.size(), 2u);
    const auto &field = std::get<FStringSegment::Field>(segments[1].kind);
    EXPECT_EQ(field.spec, ">5");
    EXPECT_EQ(field.conversion, 'r');
    EXPECT_TRUE(field.expr.is<Expr::Call>());
}

// A box assigned from a box inside its own subtree copies before it lets go
// of the old value.
TEST(LexerExprTree, BoxAssignFromOwnSubtree) {
    Box<Expr> box(Expr{Expr::Unary{UnaryOp::Neg, Expr{Expr::Unary{UnaryOp::Not, name("x", 3)}}}});
    box = box->as<Expr::Unary>()->operand;
    ASSERT_TRUE(box->is<Expr::Unary>());
    EXPECT_EQ(box->as<Expr::Unary>()->op, UnaryOp::Not);
    EXPECT_EQ(box->as<Expr::Unary>()->operand->as<Expr::Name>()->name, "x");
}

} // namespace
} // namespace kestal
