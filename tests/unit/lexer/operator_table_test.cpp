// The operator and punctuation tables against the lexer that reads them:
// every spelling lexes to its own kind (an augmented assignment to its
// operator), the longest spelling wins, every operator kind has exactly one
// spelling, and the counts derived from the tables are the fixed ones.
#include "lexer/lexer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kestal {
namespace {

TEST(OperatorTable, EverySpellingLexesToItsKind) {
    for (const Punctuation &p : kPunctuation) {
        std::vector<Token> tokens = tokenize(std::string("(") + std::string(p.text) + ")");
        ASSERT_EQ(tokens.size(), 5u) << p.text;
        EXPECT_EQ(tokens[1].kind, p.kind) << p.text;
        EXPECT_EQ(tokens[1].column, 2u) << p.text;
        EXPECT_EQ(tokens[2].column, 2u + p.text.size()) << p.text;
    }
    for (int i = 0; i < kAugAssignOpCount; ++i) {
        BinOp op = static_cast<BinOp>(i);
        std::string text = "x " + std::string(binop_symbol(op)) + "= 1";
        std::vector<Token> tokens = tokenize(text);
        ASSERT_EQ(tokens.size(), 5u) << text;
        ASSERT_EQ(tokens[1].kind, TokenKind::AugAssign) << text;
        EXPECT_EQ(tokens[1].aug_op(), op) << text;
    }
}

TEST(OperatorTable, LongestSpellingWins) {
    struct Row {
        const char *source;
        std::vector<TokenKind> kinds;
    };
    using K = TokenKind;
    const std::vector<Row> rows = {
        {"**=", {K::AugAssign}},
        {"***", {K::StarStar, K::Star}},
        {"//=/", {K::AugAssign, K::Slash}},
        {"<<<=", {K::Shl, K::Le}},
        {">>>=", {K::Shr, K::Ge}},
        {"->=", {K::Arrow, K::Assign}},
        {"===", {K::EqEq, K::Assign}},
        {"!==", {K::NotEq, K::Assign}},
        {"-->", {K::Minus, K::Arrow}},
    };
    for (const Row &row : rows) {
        std::vector<Token> tokens = tokenize(row.source);
        std::vector<TokenKind> got;
        for (const Token &t : tokens)
            if (t.kind != K::Newline && t.kind != K::Eof)
                got.push_back(t.kind);
        EXPECT_EQ(got, row.kinds) << row.source;
    }
}

// The kinds from Plus to At are the operator and punctuation kinds: each
// but AugAssign has exactly one spelling, and no spelling is used twice.
TEST(OperatorTable, OneSpellingPerKind) {
    std::set<TokenKind> kinds;
    std::set<std::string_view> texts;
    for (const Punctuation &p : kPunctuation) {
        EXPECT_TRUE(kinds.insert(p.kind).second) << token_kind_name(p.kind);
        EXPECT_TRUE(texts.insert(p.text).second) << p.text;
    }
    for (int k = static_cast<int>(TokenKind::Plus); k <= static_cast<int>(TokenKind::At); ++k) {
        TokenKind kind = static_cast<TokenKind>(k);
        EXPECT_EQ(kinds.count(kind), kind == TokenKind::AugAssign ? 0u : 1u)
            << token_kind_name(kind);
    }
    EXPECT_EQ(kinds.size(), 32u);
}

TEST(OperatorTable, DerivedCounts) {
    EXPECT_EQ(kTokenKindCount, 73);
    EXPECT_EQ(kBinOpCount, 24);
    EXPECT_EQ(kUnaryOpCount, 3);
    EXPECT_EQ(kAugAssignOpCount, 12);
    EXPECT_EQ(binop_symbol(BinOp::NotIn), "not in");
    EXPECT_EQ(binop_symbol(BinOp::IsNot), "is not");
    EXPECT_EQ(unaryop_name(UnaryOp::Invert), "Invert");
    EXPECT_EQ(unaryop_symbol(UnaryOp::Neg), "-");
}

} // namespace
} // namespace kestal
