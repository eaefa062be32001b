// The child traversals: for each kind of expression and statement, which
// direct children are visited, in which order and with which role. A child
// missed here would be missed by every analysis built on the traversal
// (name walkers, statement analyses, evaluation-order hoisting).
#include "ast/traverse.h"

#include "ast/printer.h"
#include "parser/parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal {
namespace {

const char *role_mark(ExprRole role) {
    switch (role) {
    case ExprRole::Read:
        return "";
    case ExprRole::Bind:
        return "=";
    case ExprRole::LoopBind:
        return "*=";
    case ExprRole::Update:
        return "+=";
    case ExprRole::Delete:
        return "del ";
    }
    return "?";
}

// "child | child | ..." with each child's role mark in front.
std::string expr_children_text(const Expr &e) {
    std::string out;
    for_each_child_expr(e, [&](const Expr &child, ExprRole role) {
        if (!out.empty())
            out += " | ";
        out += role_mark(role) + print_expr(child);
    });
    return out;
}

TEST(AstTraverse, ExprChildren) {
    struct Row {
        const char *source;
        const char *children;
    } rows[] = {
        {"1", ""},
        {"x", ""},
        {"None", ""},
        {"lambda a: a + y", ""},
        {"a + b", "a | b"},
        {"not a", "a"},
        {"a if c else b", "c | a | b"},
        {"f(a, k=b)", "a | b"},
        {"g(a)(b, k=c)", "(call g a) | b | c"},
        {"o.m(a, k=b)", "o | a | b"},
        {"o.attr", "o"},
        {"s[i]", "s | i"},
        {"s[lo:]", "s | lo"},
        {"s[:hi:st]", "s | hi | st"},
        {"s[::]", "s"},
        {"[a, b]", "a | b"},
        {"(a, b)", "a | b"},
        {"{a, b}", "a | b"},
        {"{k: v, 1: w}", "k | v | 1 | w"},
        {"f'x{a}y{b!r:>3}'", "a | b"},
        {"[e for t in it if c1 if c2 for u in t]", "e | *=t | it | c1 | c2 | *=u | t"},
        {"{e for (p, q) in it}", "e | *=(tuple p q) | it"},
        {"(e for t in it)", "e | *=t | it"},
        {"{k: v for k in it if c}", "k | v | *=k | it | c"},
    };
    for (const Row &row : rows) {
        Expr e = parse_expression_text(row.source);
        EXPECT_EQ(expr_children_text(e), row.children) << row.source;
    }
}

// The statement's own expressions, then its blocks ("loop:" for a loop
// body), each block as its statements' dumps.
std::string stmt_children_text(const Stmt &s) {
    std::string out;
    for_each_stmt_expr(s, [&](const Expr &child, ExprRole role) {
        if (!out.empty())
            out += " | ";
        out += role_mark(role) + print_expr(child);
    });
    for_each_child_block(s, [&](const std::vector<Stmt> &body, BlockRole role) {
        out += role == BlockRole::LoopBody ? " || loop:" : " || ";
        out += print_block(body);
    });
    return out;
}

TEST(AstTraverse, StmtChildren) {
    struct Row {
        const char *source;
        const char *children;
    } rows[] = {
        {"f(a)\n", "(call f a)"},
        {"x = v\n", "=x | v"},
        {"x: int = v\n", "=x | v"},
        {"a, b = v\n", "=a | =b | v"},
        {"o.n += v\n", "+=(. o n) | v"},
        {"if c:\n    p\nelif d:\n    q\nelse:\n    r\n",
         "c | d || {(expr p)} || {(expr q)} || {(expr r)}"},
        {"if c:\n    p\n", "c || {(expr p)}"},
        {"while c:\n    p\nelse:\n    q\n", "c || loop:{(expr p)} || {(expr q)}"},
        {"for t in it:\n    p\n", "*=t | it || loop:{(expr p)}"},
        {"for a, b in it:\n    p\nelse:\n    q\n",
         "*=(tuple a b) | it || loop:{(expr p)} || {(expr q)}"},
        {"break\n", ""},
        {"continue\n", ""},
        {"pass\n", ""},
        {"return\n", ""},
        {"return v\n", "v"},
        {"global g, h\n", ""},
        {"del a, b[i]\n", "del a | del (index b i)"},
        {"with c as t, d:\n    p\n", "c | =t | d || {(expr p)}"},
        {"try:\n    p\nexcept (E, F) as e:\n    q\nexcept G:\n    r\nelse:\n    s\nfinally:\n    "
         "u\n",
         "E | F | G || {(expr p)} || {(expr q)} || {(expr r)} || {(expr s)} || {(expr u)}"},
        {"raise E(m) from c\n", "(call E m) | c"},
        {"raise\n", ""},
        {"assert t, m\n", "t | m"},
    };
    for (const Row &row : rows) {
        Program p = parse_module(row.source);
        ASSERT_EQ(p.statements.size(), 1u) << row.source;
        EXPECT_EQ(stmt_children_text(p.statements[0]), row.children) << row.source;
    }
}

TEST(AstTraverse, ChildStatementsOfEveryBlock) {
    Program p =
        parse_module("try:\n    a\n    b\nexcept E:\n    c\nelse:\n    d\nfinally:\n    e\n");
    std::vector<std::string> seen;
    for_each_child_stmt(p.statements[0], [&](const Stmt &s) { seen.push_back(print_stmt(s)); });
    EXPECT_EQ(seen, (std::vector<std::string>{"(expr a)", "(expr b)", "(expr c)", "(expr d)",
                                              "(expr e)"}));
}

} // namespace
} // namespace kestal
