// Token tables: source text in, the dump of its tokens (kind, payload,
// line:column) out. One row per behaviour; the row's name says what it pins.
#include "lexer/lexer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kestal {
namespace {

struct TokenCase {
    const char *name;
    std::string source;
    std::string expected;
};

void check_rows(const std::vector<TokenCase> &rows) {
    for (const TokenCase &row : rows) {
        SCOPED_TRACE(row.name);
        std::string got;
        try {
            got = dump_tokens(tokenize(row.source));
        } catch (const CompileError &error) {
            got = "error: " + error.message + " @" + std::to_string(error.line) + ":" +
                  std::to_string(error.column);
        }
        EXPECT_EQ(got, row.expected);
    }
}

TEST(LexerTokens, EndOfInput) {
    check_rows({
        {"empty text", "", "Eof@1:1"},
        {"blank and comment lines only", "\n\n# c\n   \n", "Eof@5:1"},
        {"comment without line feed", "# only", "Eof@1:7"},
        {"blanks without line feed", "   ", "Eof@1:4"},
        {"no final line feed", "x = 1", "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Eof@1:6"},
        // After the last line of code the closing tokens stay on its line
        // feed, so an error there still has a line to show.
        {"final line feed", "x = 1\n", "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Eof@1:6"},
        {"trailing comment", "x # c\n", "Ident(x)@1:1 Newline@1:6 Eof@1:6"},
        {"trailing blank and comment lines", "x = 1\n\n# c\n  \n",
         "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Eof@1:6"},
        {"characters, not bytes, up to the line feed", "x # \u00e9\u00e9\n\n",
         "Ident(x)@1:1 Newline@1:7 Eof@1:7"},
        {"unclosed bracket ends with Newline", "(1", "LParen@1:1 Int(1)@1:2 Newline@1:3 Eof@1:3"},
        {"unclosed bracket over a line feed", "(1\n", "LParen@1:1 Int(1)@1:2 Newline@1:3 Eof@1:3"},
        {"unclosed bracket over blank lines", "(1\n\n\n",
         "LParen@1:1 Int(1)@1:2 Newline@1:3 Eof@1:3"},
        {"byte-order mark at the start", "\xef\xbb\xbfx = 1\n",
         "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Eof@1:6"},
        {"byte-order mark alone", "\xef\xbb\xbf", "Eof@1:1"},
        {"byte-order mark before a comment line", "\xef\xbb\xbf# c\nx\n",
         "Ident(x)@2:1 Newline@2:2 Eof@2:2"},
    });
}

TEST(LexerTokens, Indentation) {
    check_rows({
        {"one block", "if a:\n    b\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:5 Newline@2:6 "
         "Dedent@2:6 Eof@2:6"},
        {"tab and four spaces are one block", "if a:\n\tb\n    c\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:2 Newline@2:3 "
         "Ident(c)@3:5 Newline@3:6 Dedent@3:6 Eof@3:6"},
        {"tab and two spaces is width 6", "if a:\n\t  b\n      c\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:4 Newline@2:5 "
         "Ident(c)@3:7 Newline@3:8 Dedent@3:8 Eof@3:8"},
        {"one Indent however large the step", "if a:\n            b\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:13 Newline@2:14 "
         "Dedent@2:14 Eof@2:14"},
        {"two Dedents at once", "if a:\n  if b:\n    c\nd\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 If@2:3 Ident(b)@2:6 Colon@2:7 "
         "Newline@2:8 Indent@3:1 Ident(c)@3:5 Newline@3:6 Dedent@4:1 Dedent@4:1 Ident(d)@4:1 "
         "Newline@4:2 Eof@4:2"},
        {"dedent to an outer level", "if a:\n  if b:\n    c\n  d\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 If@2:3 Ident(b)@2:6 Colon@2:7 "
         "Newline@2:8 Indent@3:1 Ident(c)@3:5 Newline@3:6 Dedent@4:1 Ident(d)@4:3 Newline@4:4 "
         "Dedent@4:4 Eof@4:4"},
        {"blank and comment lines keep no indentation", "if a:\n  b\n\n      # c\n #d\n  e\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:3 Newline@2:4 "
         "Ident(e)@6:3 Newline@6:4 Dedent@6:4 Eof@6:4"},
        {"open blocks close at the end without a line feed", "if a:\n  b",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:3 Newline@2:4 "
         "Dedent@2:4 Eof@2:4"},
        {"open blocks close at the end after trailing blanks", "if a:\n  b\n   ",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:3 Newline@2:4 "
         "Dedent@2:4 Eof@2:4"},
        {"an indented first line opens a block", "  x\n",
         "Indent@1:1 Ident(x)@1:3 Newline@1:4 Dedent@1:4 Eof@1:4"},
    });
}

TEST(LexerTokens, LineJoining) {
    check_rows({
        {"brackets join lines without Newline or Indent", "f(1,\n  2)\n",
         "Ident(f)@1:1 LParen@1:2 Int(1)@1:3 Comma@1:4 Int(2)@2:3 RParen@2:4 Newline@2:5 "
         "Eof@2:5"},
        {"nested brackets of every kind", "[{(\n)}\n]\nx\n",
         "LBracket@1:1 LBrace@1:2 LParen@1:3 RParen@2:1 RBrace@2:2 RBracket@3:1 Newline@3:2 "
         "Ident(x)@4:1 Newline@4:2 Eof@4:2"},
        {"stray closers leave the depth at 0", "())\n(\n)\n",
         "LParen@1:1 RParen@1:2 RParen@1:3 Newline@1:4 LParen@2:1 RParen@3:1 Newline@3:2 "
         "Eof@3:2"},
        {"comment inside brackets", "(1, # one\n 2)\n",
         "LParen@1:1 Int(1)@1:2 Comma@1:3 Int(2)@2:2 RParen@2:3 Newline@2:4 Eof@2:4"},
        {"backslash continuation", "x = 1 + \\\n    2\n",
         "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Plus@1:7 Int(2)@2:5 Newline@2:6 Eof@2:6"},
        {"backslash continuation inside a block keeps the block", "if a:\n  b = \\\nc\n  d\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:3 Assign@2:5 "
         "Ident(c)@3:1 Newline@3:2 Ident(d)@4:3 Newline@4:4 Dedent@4:4 Eof@4:4"},
        {"semicolon", "a; b\n", "Ident(a)@1:1 Semicolon@1:2 Ident(b)@1:4 Newline@1:5 Eof@1:5"},
    });
}

TEST(LexerTokens, WordsAndOperators) {
    check_rows({
        {"every keyword",
         "def return if elif else while for in break continue pass and or not True False None "
         "global import from del with as lambda class is try except finally raise assert",
         "Def@1:1 Return@1:5 If@1:12 Elif@1:15 Else@1:20 While@1:25 For@1:31 In@1:35 "
         "Break@1:38 Continue@1:44 Pass@1:53 And@1:58 Or@1:62 Not@1:65 True@1:69 False@1:74 "
         "NoneKw@1:80 Global@1:85 Import@1:92 From@1:99 Del@1:104 With@1:108 As@1:113 "
         "Lambda@1:116 Class@1:123 Is@1:129 Try@1:132 Except@1:136 Finally@1:143 Raise@1:151 "
         "Assert@1:157 Newline@1:163 Eof@1:163"},
        {"keywords are case-sensitive", "true none Def _x x_1 __init__",
         "Ident(true)@1:1 Ident(none)@1:6 Ident(Def)@1:11 Ident(_x)@1:15 Ident(x_1)@1:18 "
         "Ident(__init__)@1:22 Newline@1:30 Eof@1:30"},
        {"no string prefix but f", "r'x' b'y' fx f (1)",
         "Ident(r)@1:1 Str(\"x\")@1:2 Ident(b)@1:6 Str(\"y\")@1:7 Ident(fx)@1:11 Ident(f)@1:14 "
         "LParen@1:16 Int(1)@1:17 RParen@1:18 Newline@1:19 Eof@1:19"},
        {"every operator",
         "+ - * / // % ** & | ^ ~ << >> == != < <= > >= = ( ) [ ] { } , : ; -> . @",
         "Plus@1:1 Minus@1:3 Star@1:5 Slash@1:7 SlashSlash@1:9 Percent@1:12 StarStar@1:14 "
         "Amp@1:17 Pipe@1:19 Caret@1:21 Tilde@1:23 Shl@1:25 Shr@1:28 EqEq@1:31 NotEq@1:34 "
         "Lt@1:37 Le@1:39 Gt@1:42 Ge@1:44 Assign@1:47 LParen@1:49 RParen@1:51 LBracket@1:53 "
         "RBracket@1:55 LBrace@1:57 RBrace@1:59 Comma@1:61 Colon@1:63 Semicolon@1:65 "
         "Arrow@1:67 Dot@1:70 At@1:72 Newline@1:73 Eof@1:73"},
        {"every augmented assignment", "+= -= *= /= //= %= **= &= |= ^= <<= >>=",
         "AugAssign(Add)@1:1 AugAssign(Sub)@1:4 AugAssign(Mul)@1:7 AugAssign(Div)@1:10 "
         "AugAssign(FloorDiv)@1:13 AugAssign(Mod)@1:17 AugAssign(Pow)@1:20 "
         "AugAssign(BitAnd)@1:24 AugAssign(BitOr)@1:27 AugAssign(BitXor)@1:30 "
         "AugAssign(Shl)@1:33 AugAssign(Shr)@1:37 Newline@1:40 Eof@1:40"},
        {"longest match a<<=b", "a<<=b",
         "Ident(a)@1:1 AugAssign(Shl)@1:2 Ident(b)@1:5 Newline@1:6 Eof@1:6"},
        {"longest match a**-b", "a**-b",
         "Ident(a)@1:1 StarStar@1:2 Minus@1:4 Ident(b)@1:5 Newline@1:6 Eof@1:6"},
        {"arrow", "x->y", "Ident(x)@1:1 Arrow@1:2 Ident(y)@1:4 Newline@1:5 Eof@1:5"},
        {"longest match without blanks", "a>>=b>=c>>d<=e==f!=g//h",
         "Ident(a)@1:1 AugAssign(Shr)@1:2 Ident(b)@1:5 Ge@1:6 Ident(c)@1:8 Shr@1:9 "
         "Ident(d)@1:11 Le@1:12 Ident(e)@1:14 EqEq@1:15 Ident(f)@1:17 NotEq@1:18 Ident(g)@1:20 "
         "SlashSlash@1:21 Ident(h)@1:23 Newline@1:24 Eof@1:24"},
        {"columns count characters, not bytes", "'\xc3\xa9\xc3\xa9' x",
         "Str(\"\\xc3\\xa9\\xc3\\xa9\")@1:1 Ident(x)@1:6 Newline@1:7 Eof@1:7"},
        {"four-byte character in a string", "'\xf0\x9f\x98\x80'x",
         "Str(\"\\xf0\\x9f\\x98\\x80\")@1:1 Ident(x)@1:4 Newline@1:5 Eof@1:5"},
    });
}

TEST(LexerTokens, Numbers) {
    check_rows({
        {"based literals", "0x_ff 0o17 0XFF 0b1010 0B1_0 0O7 0xAbC",
         "Int(255)@1:1 Int(15)@1:7 Int(255)@1:12 Int(10)@1:17 Int(2)@1:24 Int(7)@1:30 "
         "Int(2748)@1:34 Newline@1:39 Eof@1:39"},
        {"based literals keep the 64 bits",
         "0xFFFFFFFFFFFFFFFF 0x8000000000000000 0x7fffffffffffffff",
         "Int(-1)@1:1 Int(-9223372036854775808)@1:20 Int(9223372036854775807)@1:39 "
         "Newline@1:57 Eof@1:57"},
        {"64 binary ones", "0b" + std::string(64, '1'), "Int(-1)@1:1 Newline@1:67 Eof@1:67"},
        {"decimal limits and leading zeros", "9223372036854775807 007 0 1__0 1_",
         "Int(9223372036854775807)@1:1 Int(7)@1:21 Int(0)@1:25 Int(10)@1:27 Int(1)@1:32 "
         "Newline@1:34 Eof@1:34"},
        {"floats", "1_000.5e-3 1e5 1E+2 1. .5 0.1 2.0",
         "Float(1.0005)@1:1 Float(100000)@1:12 Float(100)@1:16 Float(1)@1:21 Float(0.5)@1:24 "
         "Float(0.1)@1:27 Float(2)@1:31 Newline@1:34 Eof@1:34"},
        {"attribute of an integer", "5.real",
         "Int(5)@1:1 Dot@1:2 Ident(real)@1:3 Newline@1:7 Eof@1:7"},
        {"1.e5 is an attribute", "1.e5", "Int(1)@1:1 Dot@1:2 Ident(e5)@1:3 Newline@1:5 Eof@1:5"},
        {"1._x is an attribute", "1._x", "Int(1)@1:1 Dot@1:2 Ident(_x)@1:3 Newline@1:5 Eof@1:5"},
        {"a.5 is a name and a float", "a.5", "Ident(a)@1:1 Float(0.5)@1:2 Newline@1:4 Eof@1:4"},
        {"a second dot ends a float", "1.2.3", "Float(1.2)@1:1 Float(0.3)@1:4 Newline@1:6 Eof@1:6"},
        {"a dot after an exponent ends a float", "1e5.5",
         "Float(100000)@1:1 Float(0.5)@1:4 Newline@1:6 Eof@1:6"},
        {"e without digits ends the number", "1e 2.5j",
         "Int(1)@1:1 Ident(e)@1:2 Float(2.5)@1:4 Ident(j)@1:7 Newline@1:8 Eof@1:8"},
        {"dot after a based literal", "0x1.5", "Int(1)@1:1 Float(0.5)@1:4 Newline@1:6 Eof@1:6"},
        {"float overflow is infinity, underflow zero", "1e999 1e-999 0.0e99999",
         "Float(inf)@1:1 Float(0)@1:7 Float(0)@1:14 Newline@1:23 Eof@1:23"},
        {"smallest subnormal", "5e-324 2e-324",
         "Float(0." + std::string(323, '0') + "5)@1:1 Float(0)@1:8 Newline@1:14 Eof@1:14"},
    });
}

TEST(LexerTokens, Strings) {
    check_rows({
        {"hex escapes", "'a\\x41' '\\xe9' '\\x7f'",
         "Str(\"aA\")@1:1 Str(\"\\xc3\\xa9\")@1:9 Str(\"\\x7f\")@1:16 Newline@1:22 Eof@1:22"},
        {"simple escapes", "'\\n\\r\\t\\0\\\\\\'\\\"'",
         "Str(\"\\n\\r\\t\\x00\\\\'\\\"\")@1:1 Newline@1:17 Eof@1:17"},
        {"unknown escapes keep the backslash", "'\\q\\d\\8'",
         "Str(\"\\\\q\\\\d\\\\8\")@1:1 Newline@1:9 Eof@1:9"},
        {"control escapes", "'\\a\\b\\f\\v'",
         "Str(\"\\x07\\x08\\x0c\\x0b\")@1:1 Newline@1:11 Eof@1:11"},
        {"octal escapes take one to three digits", "'\\101\\0\\12\\1018\\777'",
         "Str(\"A\\x00\\nA8\\xc7\\xbf\")@1:1 Newline@1:21 Eof@1:21"},
        {"unicode escapes in UTF-8", "'\\u00e9\\u20AC\\U0001F600\\u0041'",
         "Str(\"\\xc3\\xa9\\xe2\\x82\\xac\\xf0\\x9f\\x98\\x80A\")@1:1 Newline@1:31 Eof@1:31"},
        {"unknown escape of a multi-byte character", "'\\\xc3\xa9'x",
         "Str(\"\\\\\\xc3\\xa9\")@1:1 Ident(x)@1:5 Newline@1:6 Eof@1:6"},
        {"the other quote is text", "\"it's\" 'say \"hi\"'",
         "Str(\"it's\")@1:1 Str(\"say \\\"hi\\\"\")@1:8 Newline@1:18 Eof@1:18"},
        {"empty strings", "'' \"\"", "Str(\"\")@1:1 Str(\"\")@1:4 Newline@1:6 Eof@1:6"},
        {"adjacent strings stay apart", "'a' 'b'",
         "Str(\"a\")@1:1 Str(\"b\")@1:5 Newline@1:8 Eof@1:8"},
        {"triple-quoted string holds a line feed", "'''a\nb'''",
         "Str(\"a\\nb\")@1:1 Newline@2:5 Eof@2:5"},
        {"triple-quoted string with lone quotes", "\"\"\"a\"b'c\"\"\" x",
         "Str(\"a\\\"b'c\")@1:1 Ident(x)@1:13 Newline@1:14 Eof@1:14"},
        {"the first three quotes close", "'''a'''' '",
         "Str(\"a\")@1:1 Str(\" \")@1:8 Newline@1:11 Eof@1:11"},
        {"backslash line feed continues a string", "'a\\\nb' x",
         "Str(\"ab\")@1:1 Ident(x)@2:4 Newline@2:5 Eof@2:5"},
        {"lone carriage return is text in a string", "'a\rb'",
         "Str(\"a\\rb\")@1:1 Newline@1:6 Eof@1:6"},
        {"line after a triple-quoted string", "x = '''\n'''\ny\n",
         "Ident(x)@1:1 Assign@1:3 Str(\"\\n\")@1:5 Newline@2:4 Ident(y)@3:1 Newline@3:2 Eof@3:2"},
    });
}

TEST(LexerTokens, FStrings) {
    check_rows({
        {"conversion and spec", "f'{x!r:>5}'",
         "FStr[Code(\"x\" !r :\">5\" @1:4)]@1:1 Newline@1:12 Eof@1:12"},
        {"!= is source text", "f'{a!=b}'", "FStr[Code(\"a!=b\" @1:4)]@1:1 Newline@1:10 Eof@1:10"},
        {"doubled braces", "f'{{}}'", "FStr[Lit(\"{}\")]@1:1 Newline@1:8 Eof@1:8"},
        {"other quotes inside a field", "f\"{d['k']}\"",
         "FStr[Code(\"d['k']\" @1:4)]@1:1 Newline@1:12 Eof@1:12"},
        {"a string in a field holds : ! { and }",
         "f\"{s == 'a:b'}{'x' if s else 'y:z'!r}{'}{!r'}\"",
         "FStr[Code(\"s == 'a:b'\" @1:4),Code(\"'x' if s else 'y:z'\" !r @1:16),"
         "Code(\"'}{!r'\" @1:39)]@1:1 Newline@1:47 Eof@1:47"},
        {"an escaped quote stays inside the field's string", "f\"{'a\\'b:c'}\"",
         "FStr[Code(\"'a\\\\'b:c'\" @1:4)]@1:1 Newline@1:14 Eof@1:14"},
        {"escapes in f-string text", "f'\\u00e9{x}\\101'",
         "FStr[Lit(\"\\xc3\\xa9\"),Code(\"x\" @1:10),Lit(\"A\")]@1:1 Newline@1:17 Eof@1:17"},
        {"empty spec", "f'{x:}'", "FStr[Code(\"x\" :\"\" @1:4)]@1:1 Newline@1:8 Eof@1:8"},
        {"no spec", "f'{x}'", "FStr[Code(\"x\" @1:4)]@1:1 Newline@1:7 Eof@1:7"},
        {"no parts", "f''", "FStr[]@1:1 Newline@1:4 Eof@1:4"},
        {"literal, field, literal", "F\"a{x}b\"",
         "FStr[Lit(\"a\"),Code(\"x\" @1:5),Lit(\"b\")]@1:1 Newline@1:9 Eof@1:9"},
        {"source text is untrimmed", "f'{ x + 1 }'",
         "FStr[Code(\" x + 1 \" @1:4)]@1:1 Newline@1:13 Eof@1:13"},
        {"conversion before the closing brace", "f'{f(a, b)!s}'",
         "FStr[Code(\"f(a, b)\" !s @1:4)]@1:1 Newline@1:15 Eof@1:15"},
        {"colon inside brackets is source text", "f'{d[1:2]}{ {1: 2}[1] }'",
         "FStr[Code(\"d[1:2]\" @1:4),Code(\" {1: 2}[1] \" @1:12)]@1:1 Newline@1:25 Eof@1:25"},
        {"not a conversion", "f'{x!z}{x!rr}'",
         "FStr[Code(\"x!z\" @1:4),Code(\"x!rr\" @1:9)]@1:1 Newline@1:15 Eof@1:15"},
        {"spec keeps colons and opening braces", "f'{t:%H:%M{}'",
         "FStr[Code(\"t\" :\"%H:%M{\" @1:4)]@1:1 Newline@1:14 Eof@1:14"},
        {"escapes in literal text", "f'\\n{x}\\x41\\q'",
         "FStr[Lit(\"\\n\"),Code(\"x\" @1:6),Lit(\"A\\\\q\")]@1:1 Newline@1:15 Eof@1:15"},
        {"escaped brace stays literal", "f'\\{x'", "FStr[Lit(\"\\\\{x\")]@1:1 Newline@1:7 Eof@1:7"},
        {"field column counts characters", "f'\xc3\xa9{x}'",
         "FStr[Lit(\"\\xc3\\xa9\"),Code(\"x\" @1:5)]@1:1 Newline@1:8 Eof@1:8"},
        {"f-strings have no triple-quoted form", "f'''x'''",
         "FStr[]@1:1 Str(\"x\")@1:4 Str(\"\")@1:7 Newline@1:9 Eof@1:9"},
        {"f-string next to a string", "f'a' 'b'",
         "FStr[Lit(\"a\")]@1:1 Str(\"b\")@1:6 Newline@1:9 Eof@1:9"},
    });
}

// A CR LF file gives the same tokens at the same positions as its LF twin.
TEST(LexerCrlf, SameTokensAsLineFeeds) {
    const std::vector<std::string> sources = {
        "x = 1\n",
        "if a:\n    b\n\n    # c\n  \nd\n",
        "if a:\n  if b:\n    c\n",
        "f(1,\n  2)\n",
        "x = 1 + \\\n    2\n",
        "s = '''a\nb\n'''\n",
        "s = 'a\\\nb'\n",
        "x = 1 # comment\ny = 2",
        "\n\n",
        "t = \"\"\"\n\"\"\" + f'{x}'\n",
    };
    for (const std::string &lf : sources) {
        std::string crlf;
        for (char c : lf) {
            if (c == '\n') {
                crlf += '\r';
            }
            crlf += c;
        }
        SCOPED_TRACE(lf);
        EXPECT_EQ(dump_tokens(tokenize(crlf)), dump_tokens(tokenize(lf)));
    }
}

TEST(LexerCrlf, CarriageReturns) {
    check_rows({
        {"triple-quoted string holds LF for CR LF", "'''a\r\nb'''",
         "Str(\"a\\nb\")@1:1 Newline@2:5 Eof@2:5"},
        {"backslash CR LF continues a string", "'a\\\r\nb'", "Str(\"ab\")@1:1 Newline@2:3 Eof@2:3"},
        {"line starting with a stray CR is kept", "x = 1\n\ry = 2\n",
         "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Ident(y)@2:2 Assign@2:4 Int(2)@2:6 "
         "Newline@2:7 Eof@2:7"},
        {"stray CR has no indentation width", "if a:\n  b\n\r  c\n",
         "If@1:1 Ident(a)@1:4 Colon@1:5 Newline@1:6 Indent@2:1 Ident(b)@2:3 Newline@2:4 "
         "Ident(c)@3:4 Newline@3:5 Dedent@3:5 Eof@3:5"},
        {"lone CR is a blank within a line", "x\r=\r1",
         "Ident(x)@1:1 Assign@1:3 Int(1)@1:5 Newline@1:6 Eof@1:6"},
        {"CR LF only", "\r\n", "Eof@2:1"},
        {"CR LF at the end of a comment", "# c\r\nx\r\n", "Ident(x)@2:1 Newline@2:2 Eof@2:2"},
        {"one-quote string broken by CR LF", "'a\r\nb'",
         "error: unterminated string (use triple quotes for multi-line strings) @1:3"},
        {"f-string broken by CR LF", "f'a\r\n'", "error: unterminated f-string @1:4"},
        {"f-string field broken by CR LF", "f'{a\r\n}'",
         "error: unterminated '{' in f-string @1:5"},
        {"backslash before a lone CR", "x = 1 \\\r+ 2\n", "error: unexpected character '\\' @1:7"},
    });
}

TEST(LexerDescribe, Words) {
    struct Row {
        std::string source;
        std::string words;
    };
    const std::vector<Row> rows = {
        {"42", "number 42"},
        {"0xFFFFFFFFFFFFFFFF", "number -1"},
        {"2.0", "number 2"},
        {"0.5", "number 0.5"},
        {"1e20", "number 100000000000000000000"},
        {"1e-7", "number 0.0000001"},
        {"1.0005", "number 1.0005"},
        {"0.1", "number 0.1"},
        {"123.456", "number 123.456"},
        {"1e22", "number 10000000000000000000000"},
        {"'s'", "a string"},
        {"f'{x}'", "a string"},
        {"name", "'name'"},
        {"=", "'='"},
        {"(", "'('"},
        {")", "')'"},
        {"[", "'['"},
        {"]", "']'"},
        {"{", "'{'"},
        {"}", "'}'"},
        {",", "','"},
        {":", "':'"},
        {".", "'.'"},
        {"def", "def"},
        {"return", "return"},
        {"True", "true"},
        {"None", "nonekw"},
        {"+", "plus"},
        {"**", "starstar"},
        {"!=", "noteq"},
        {";", "semicolon"},
        {"->", "arrow"},
        {"@", "at"},
        {"+=", "augassign(add)"},
        {"//=", "augassign(floordiv)"},
        {"<<=", "augassign(shl)"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.source);
        EXPECT_EQ(describe_token(tokenize(row.source).front()), row.words);
    }
    EXPECT_EQ(describe_token(Token{TokenKind::Newline}), "end of line");
    EXPECT_EQ(describe_token(Token{TokenKind::Indent}), "an indented block");
    EXPECT_EQ(describe_token(Token{TokenKind::Dedent}), "end of block");
    EXPECT_EQ(describe_token(Token{TokenKind::Eof}), "end of file");
}

// Kinds without a payload and without special words are named by their
// lower-cased kind name.
TEST(LexerDescribe, PlainKindsUseTheirLowerCasedName) {
    for (int k = static_cast<int>(TokenKind::Def); k <= static_cast<int>(TokenKind::At); ++k) {
        auto kind = static_cast<TokenKind>(k);
        std::string words =
            describe_token(Token{kind, k == 56 ? TokenPayload{BinOp::Add} : TokenPayload{}});
        std::string name(token_kind_name(kind));
        if (words.front() == '\'' || kind == TokenKind::AugAssign) {
            continue;
        }
        for (char &c : name) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        EXPECT_EQ(words, name);
    }
}

TEST(LexerKinds, NumberingIsFixed) {
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(0)), "Int");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(4)), "Ident");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(5)), "Def");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(21)), "NoneKw");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(35)), "Assert");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(36)), "Plus");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(55)), "Assign");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(56)), "AugAssign");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(68)), "At");
    EXPECT_EQ(token_kind_name(static_cast<TokenKind>(72)), "Eof");
    EXPECT_EQ(static_cast<int>(TokenKind::Eof) + 1, kTokenKindCount);

    const char *ops[] = {"Add",   "Sub",    "Mul", "Div", "FloorDiv", "Mod",   "Pow", "BitAnd",
                         "BitOr", "BitXor", "Shl", "Shr", "Eq",       "Ne",    "Lt",  "Le",
                         "Gt",    "Ge",     "And", "Or",  "In",       "NotIn", "Is",  "IsNot"};
    for (int i = 0; i < kBinOpCount; ++i) {
        EXPECT_EQ(binop_name(static_cast<BinOp>(i)), ops[i]);
    }
}

TEST(LexerKinds, EqualityIgnoresPosition) {
    std::vector<Token> a = tokenize("x += 1.5");
    std::vector<Token> b = tokenize("x   +=\\\n   1.5");
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(b.size(), 5u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i], b[i]) << i;
    }
    EXPECT_EQ(a[0], (Token{TokenKind::Ident, std::string("x")}));
    EXPECT_NE(a[0], (Token{TokenKind::Ident, std::string("y")}));
    EXPECT_NE(a[1], (Token{TokenKind::AugAssign, BinOp::Sub}));
    EXPECT_EQ(a[3], Token{TokenKind::Newline});
    EXPECT_NE(tokenize("f'{x}'")[0], tokenize("f'{y}'")[0]);
}

// Arbitrary text either lexes into a list that ends with Eof and closes every
// block it opens, or fails with a CompileError; it never crashes. Without
// lone CRs, the CR LF version of the text behaves exactly like the LF one.
TEST(LexerRobustness, RandomTextKeepsTheInvariants) {
    const std::string alphabet = "  \t\n\n\r\\'\"#{}()[]:!.,=+-*<>_xfe0129\xc3\xa9\x80$";
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        size_t length = rng() % 24;
        for (size_t i = 0; i < length; ++i) {
            text += alphabet[rng() % alphabet.size()];
        }
        std::string crlf;
        for (char c : text) {
            crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
        }
        SCOPED_TRACE(text);
        std::string lf_result;
        try {
            std::vector<Token> tokens = tokenize(text);
            ASSERT_FALSE(tokens.empty());
            EXPECT_EQ(tokens.back().kind, TokenKind::Eof);
            int depth = 0;
            for (const Token &token : tokens) {
                depth += token.kind == TokenKind::Indent;
                depth -= token.kind == TokenKind::Dedent;
                ASSERT_GE(depth, 0);
                ASSERT_GE(token.line, 1u);
                ASSERT_GE(token.column, 1u);
            }
            EXPECT_EQ(depth, 0);
            lf_result = dump_tokens(tokens);
        } catch (const CompileError &error) {
            lf_result = error.message + " @" + std::to_string(error.line) + ":" +
                        std::to_string(error.column);
        }
        std::string crlf_result;
        try {
            crlf_result = dump_tokens(tokenize(crlf));
        } catch (const CompileError &error) {
            crlf_result = error.message + " @" + std::to_string(error.line) + ":" +
                          std::to_string(error.column);
        }
        // A lone CR in the text would change meaning once followed by LF.
        if (text.find('\r') == std::string::npos) {
            EXPECT_EQ(crlf_result, lf_result);
        }
    }
}

} // namespace
} // namespace kestal
