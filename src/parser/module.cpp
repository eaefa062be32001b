// The module level of the parser, where the compile road enters: the whole
// source text in, a `Program` out. It lexes the text, seeds the 27 built-in
// exception classes (their positions are their class ids, shared with the C
// runtime), and reads the file top to bottom: functions, decorated and plain
// classes, and top-level statements. A class joins the class list only when
// its body is complete, so it becomes visible to base-class lookups,
// duplicate checks and annotations after its own body.
#include "ast/builtin_exceptions.h"
#include "ast/python_exceptions.h"
#include "lexer/lexer.h"
#include "parser/dataclass.h"
#include "parser/parser.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <string>
#include <unordered_set>

namespace kestal {

namespace {

// The decorator lines before a class: only `@dataclass` (possibly dotted,
// possibly with `eq=True` / `order=...`) exists.
struct Decorators {
    bool dataclass = false;
    bool order = false;
};

void check_dataclass_argument(const Keyword &kw, Decorators &decorators) {
    const auto *flag = kw.value.as<Expr::Bool>();
    if (flag != nullptr && kw.name == "eq" && flag->value)
        return;
    if (flag != nullptr && kw.name == "order") {
        decorators.order = flag->value;
        return;
    }
    throw error_at(fmt::format("@dataclass({}=...) isn't supported", kw.name), kw.value.line,
                   kw.value.column);
}

Decorators parse_decorators(Parser &p) {
    Decorators decorators;
    while (accept(p, TokenKind::At)) {
        uint64_t line = current(p).line;
        uint64_t column = current(p).column;
        std::string name = expect_ident(p, "a decorator");
        while (accept(p, TokenKind::Dot))
            name = expect_ident(p, "a decorator");
        if (name != "dataclass") {
            throw error_at(fmt::format("decorator '@{}' isn't supported (only @dataclass)", name),
                           line, column);
        }
        if (accept(p, TokenKind::LParen)) {
            // Positional arguments are ignored.
            CallArgs args = parse_call_args(p);
            for (const Keyword &kw : args.kwargs)
                check_dataclass_argument(kw, decorators);
        }
        expect(p, TokenKind::Newline, "end of line after the decorator");
        decorators.dataclass = true;
    }
    return decorators;
}

// `(Base)`, `()` or `(object)` after the class name; none for no base.
std::optional<std::string> parse_class_base(Parser &p) {
    if (!accept(p, TokenKind::LParen))
        return std::nullopt;
    if (accept(p, TokenKind::RParen))
        return std::nullopt;
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    std::string name = expect_ident(p, "a base class");
    std::optional<std::string> base;
    if (name != "object") {
        if (find_class(p, name) == nullptr) {
            if (auto python = missing_python_exception_message(name))
                throw error_at(*python, line, column);
            throw error_at(fmt::format("base class '{}' must be a class defined earlier", name),
                           line, column);
        }
        base = std::move(name);
    }
    if (at(p, TokenKind::Comma))
        throw error_at_current(p, "multiple inheritance isn't supported");
    expect(p, TokenKind::RParen, "')'");
    return base;
}

// What a class body collects besides the methods.
struct ClassBody {
    std::vector<FuncDef> methods;
    std::vector<ClassConstant> constants;
    std::vector<Param> fields;
};

const char *const kClassBodyMessage =
    "expected a method, a field (`x: int`) or a constant (`X = 1`) in the class body";

// A dataclass field's default is its class attribute, so a constant of the
// same name in the body would give the field the value assigned last.
void refuse_field_and_constant(const ClassBody &body, const Token &name) {
    bool field = std::any_of(body.fields.begin(), body.fields.end(),
                             [&](const Param &f) { return f.name == name.text(); });
    bool constant = std::any_of(body.constants.begin(), body.constants.end(),
                                [&](const ClassConstant &k) { return k.name == name.text(); });
    if (field || constant)
        throw error_at(fmt::format("class attribute '{}' is assigned twice in the class body; "
                                   "keep one",
                                   name.text()),
                       name.line, name.column);
}

// A body line that starts with a name: a dataclass field or a constant.
void parse_class_member(Parser &p, bool dataclass, ClassBody &body) {
    Token name = advance(p);
    if (accept(p, TokenKind::Colon)) {
        Param field;
        field.name = name.text();
        field.annotation = parse_value_type(p);
        if (accept(p, TokenKind::Assign))
            field.default_value = parse_expr(p);
        if (!dataclass) {
            throw error_at(
                "annotated class fields need @dataclass; assign `self.x` in __init__ instead",
                name.line, name.column);
        }
        // The synthesized __init__ takes `self` first; a field of that name
        // would make its parameter list repeat a name.
        if (field.name == "self") {
            throw error_at("a dataclass field can't be named 'self' (the __init__ method takes "
                           "`self` first)",
                           name.line, name.column);
        }
        refuse_field_and_constant(body, name);
        if (field.default_value)
            body.constants.push_back(ClassConstant{field.name, *field.default_value, true});
        body.fields.push_back(std::move(field));
    } else if (accept(p, TokenKind::Assign)) {
        refuse_field_and_constant(body, name);
        body.constants.push_back(ClassConstant{name.text(), parse_expr(p)});
    } else {
        throw error_at_current(p, kClassBodyMessage);
    }
}

void parse_method(Parser &p, ClassBody &body) {
    FuncDef method = parse_function_def(p);
    if (method.params.empty() || method.params[0].name != "self") {
        throw error_at("methods must take `self` first (static and class methods aren't supported)",
                       method.line, method.column);
    }
    for (const FuncDef &earlier : body.methods) {
        if (earlier.name == method.name) {
            throw error_at(fmt::format("method '{}' is defined twice", method.name), method.line,
                           method.column);
        }
    }
    body.methods.push_back(std::move(method));
}

// The class body after its `Indent`, up to and including its `Dedent`.
ClassBody parse_class_body(Parser &p, bool dataclass) {
    ClassBody body;
    for (;;) {
        switch (current(p).kind) {
        case TokenKind::Str:
        case TokenKind::Pass:
        case TokenKind::Newline:
            advance(p);
            break;
        case TokenKind::Ident:
            parse_class_member(p, dataclass, body);
            break;
        case TokenKind::Def:
            parse_method(p, body);
            break;
        case TokenKind::At:
            throw error_at_current(
                p, "method decorators (@staticmethod, @property, ...) aren't supported");
        case TokenKind::Dedent:
            advance(p);
            return body;
        case TokenKind::Eof:
            return body;
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::FStr:
        case TokenKind::Return:
        case TokenKind::If:
        case TokenKind::Elif:
        case TokenKind::Else:
        case TokenKind::While:
        case TokenKind::For:
        case TokenKind::In:
        case TokenKind::Break:
        case TokenKind::Continue:
        case TokenKind::And:
        case TokenKind::Or:
        case TokenKind::Not:
        case TokenKind::True:
        case TokenKind::False:
        case TokenKind::NoneKw:
        case TokenKind::Global:
        case TokenKind::Import:
        case TokenKind::From:
        case TokenKind::Del:
        case TokenKind::With:
        case TokenKind::As:
        case TokenKind::Lambda:
        case TokenKind::Class:
        case TokenKind::Is:
        case TokenKind::Try:
        case TokenKind::Except:
        case TokenKind::Finally:
        case TokenKind::Raise:
        case TokenKind::Assert:
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Star:
        case TokenKind::Slash:
        case TokenKind::SlashSlash:
        case TokenKind::Percent:
        case TokenKind::StarStar:
        case TokenKind::Amp:
        case TokenKind::Pipe:
        case TokenKind::Caret:
        case TokenKind::Tilde:
        case TokenKind::Shl:
        case TokenKind::Shr:
        case TokenKind::EqEq:
        case TokenKind::NotEq:
        case TokenKind::Lt:
        case TokenKind::Le:
        case TokenKind::Gt:
        case TokenKind::Ge:
        case TokenKind::Assign:
        case TokenKind::AugAssign:
        case TokenKind::LParen:
        case TokenKind::RParen:
        case TokenKind::LBracket:
        case TokenKind::RBracket:
        case TokenKind::LBrace:
        case TokenKind::RBrace:
        case TokenKind::Comma:
        case TokenKind::Colon:
        case TokenKind::Semicolon:
        case TokenKind::Arrow:
        case TokenKind::Dot:
        case TokenKind::Indent:
            if (at(p, TokenKind::Indent))
                refuse_inconsistent_tabs(p);
            throw error_at_current(p, kClassBodyMessage);
        }
    }
}

// The base's merged fields (when the base is a dataclass), then the own
// fields: a redeclared name replaces the inherited field in place.
std::vector<Param> merge_dataclass_fields(const Parser &p, const std::optional<std::string> &base,
                                          std::vector<Param> own) {
    std::vector<Param> merged;
    if (base) {
        auto inherited = p.dataclass_fields.find(*base);
        if (inherited != p.dataclass_fields.end())
            merged = inherited->second;
    }
    for (Param &field : own) {
        auto same = std::find_if(merged.begin(), merged.end(),
                                 [&](const Param &m) { return m.name == field.name; });
        if (same != merged.end()) {
            *same = std::move(field);
        } else {
            merged.push_back(std::move(field));
        }
    }
    return merged;
}

// Whether `methods` or a class of the base chain defines `name`; the bases
// are defined before the classes deriving from them.
bool chain_defines(const Parser &p, const std::vector<FuncDef> &methods,
                   const std::optional<std::string> &base, const std::string &name) {
    auto defines = [&](const std::vector<FuncDef> &ms) {
        return std::any_of(ms.begin(), ms.end(), [&](const FuncDef &m) { return m.name == name; });
    };
    if (defines(methods))
        return true;
    for (const ClassDef *c = base ? find_class(p, *base) : nullptr; c;
         c = c->base ? find_class(p, *c->base) : nullptr)
        if (defines(c->methods))
            return true;
    return false;
}

// A class definition with its decorators; cursor on `@` or `class`.
void parse_class_def(Parser &p) {
    Decorators decorators = parse_decorators(p);
    if (!at(p, TokenKind::Class))
        throw error_at_current(p, "a decorator must be followed by a class");
    Token keyword = advance(p);
    ClassDef def;
    def.line = keyword.line;
    def.column = keyword.column;
    def.name = expect_ident(p, "a class name");
    if (const ClassDef *existing = find_class(p, def.name)) {
        std::string message = existing->is_builtin
                                  ? fmt::format("class '{}' would hide the built-in exception of "
                                                "that name; pick another name",
                                                def.name)
                                  : fmt::format("class '{}' is defined twice", def.name);
        throw error_at(std::move(message), keyword.line, keyword.column);
    }
    def.base = parse_class_base(p);
    expect(p, TokenKind::Colon, "':'");
    expect(p, TokenKind::Newline, "a new line after the class header");
    if (!accept(p, TokenKind::Indent)) {
        refuse_inconsistent_tabs(p);
        throw error_at_current(p, "expected an indented class body");
    }
    ClassBody body = parse_class_body(p, decorators.dataclass);
    def.methods = std::move(body.methods);
    def.constants = std::move(body.constants);

    if (decorators.dataclass) {
        std::vector<Param> fields = merge_dataclass_fields(p, def.base, std::move(body.fields));
        for (size_t i = 1; i < fields.size(); ++i) {
            if (fields[i - 1].default_value && !fields[i].default_value) {
                throw error_at(
                    fmt::format("dataclass field '{}' without a default follows one with a default",
                                fields[i].name),
                    keyword.line, keyword.column);
            }
        }
        bool post_init = chain_defines(p, def.methods, def.base, "__post_init__");
        def.synthesized_comparisons =
            synthesize_dataclass_methods(def.name, fields, decorators.order, post_init, def.methods,
                                         keyword.line, keyword.column);
        p.dataclass_fields[def.name] = std::move(fields);
    }
    add_class(p, std::move(def));
}

// `names` holds the names of `functions`, so a long module is checked for
// repeats in time linear in its length.
void add_function(Parser &p, std::vector<FuncDef> &functions,
                  std::unordered_set<std::string> &names) {
    FuncDef function = parse_function_def(p);
    if (!names.insert(function.name).second) {
        throw error_at(fmt::format("function '{}' is defined twice", function.name), function.line,
                       function.column);
    }
    functions.push_back(std::move(function));
}

} // namespace

std::vector<ClassDef> seed_builtin_classes() {
    std::vector<ClassDef> classes;
    for (const BuiltinExceptionClass &entry : kBuiltinExceptionClasses) {
        ClassDef def;
        def.name = std::string(entry.name);
        if (!entry.base.empty())
            def.base = std::string(entry.base);
        def.is_builtin = true;
        classes.push_back(std::move(def));
    }
    return classes;
}

const ClassDef *find_class(const Parser &p, const std::string &name) {
    auto it = p.class_index.find(name);
    return it == p.class_index.end() ? nullptr : &p.classes[it->second];
}

void add_class(Parser &p, ClassDef def) {
    p.class_index.emplace(def.name, p.classes.size());
    p.classes.push_back(std::move(def));
}

FuncDef parse_function_def(Parser &p) {
    Token keyword = advance(p);
    FuncDef def;
    def.line = keyword.line;
    def.column = keyword.column;
    def.name = expect_ident(p, "a function name");
    expect(p, TokenKind::LParen, "'('");
    while (!accept(p, TokenKind::RParen)) {
        Param param;
        param.name = expect_ident(p, "a parameter name");
        for (const Param &earlier : def.params) {
            if (earlier.name == param.name) {
                throw error_at_current(p, fmt::format("duplicate parameter '{}'", param.name));
            }
        }
        if (accept(p, TokenKind::Colon))
            param.annotation = parse_value_type(p);
        if (accept(p, TokenKind::Assign)) {
            param.default_value = parse_expr(p);
        } else if (!def.params.empty() && def.params.back().default_value) {
            throw error_at_current(
                p, fmt::format("parameter '{}' without a default follows one with a default",
                               param.name));
        }
        def.params.push_back(std::move(param));
        if (!accept(p, TokenKind::Comma)) {
            expect(p, TokenKind::RParen, "',' or ')'");
            break;
        }
    }
    if (accept(p, TokenKind::Arrow))
        def.return_type = parse_type_union(p);
    expect(p, TokenKind::Colon, "':'");
    def.body = parse_block(p);
    return def;
}

Program parse_module(std::string_view text) {
    Parser p;
    p.tokens = tokenize(text);
    p.text = text;
    for (ClassDef &c : seed_builtin_classes())
        add_class(p, std::move(c));
    Program program;
    std::unordered_set<std::string> function_names;
    for (;;) {
        switch (current(p).kind) {
        case TokenKind::Def:
            add_function(p, program.functions, function_names);
            break;
        case TokenKind::Class:
        case TokenKind::At:
            parse_class_def(p);
            break;
        case TokenKind::Newline:
            advance(p);
            break;
        case TokenKind::Indent:
            refuse_inconsistent_tabs(p);
            throw error_at_current(p, "unexpected indentation");
        case TokenKind::Eof:
            program.lambdas = std::move(p.lambdas);
            program.classes = std::move(p.classes);
            program.imports = std::move(p.imports);
            program.aliases = std::move(p.aliases);
            return program;
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Str:
        case TokenKind::FStr:
        case TokenKind::Ident:
        case TokenKind::Return:
        case TokenKind::If:
        case TokenKind::Elif:
        case TokenKind::Else:
        case TokenKind::While:
        case TokenKind::For:
        case TokenKind::In:
        case TokenKind::Break:
        case TokenKind::Continue:
        case TokenKind::Pass:
        case TokenKind::And:
        case TokenKind::Or:
        case TokenKind::Not:
        case TokenKind::True:
        case TokenKind::False:
        case TokenKind::NoneKw:
        case TokenKind::Global:
        case TokenKind::Import:
        case TokenKind::From:
        case TokenKind::Del:
        case TokenKind::With:
        case TokenKind::As:
        case TokenKind::Lambda:
        case TokenKind::Is:
        case TokenKind::Try:
        case TokenKind::Except:
        case TokenKind::Finally:
        case TokenKind::Raise:
        case TokenKind::Assert:
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Star:
        case TokenKind::Slash:
        case TokenKind::SlashSlash:
        case TokenKind::Percent:
        case TokenKind::StarStar:
        case TokenKind::Amp:
        case TokenKind::Pipe:
        case TokenKind::Caret:
        case TokenKind::Tilde:
        case TokenKind::Shl:
        case TokenKind::Shr:
        case TokenKind::EqEq:
        case TokenKind::NotEq:
        case TokenKind::Lt:
        case TokenKind::Le:
        case TokenKind::Gt:
        case TokenKind::Ge:
        case TokenKind::Assign:
        case TokenKind::AugAssign:
        case TokenKind::LParen:
        case TokenKind::RParen:
        case TokenKind::LBracket:
        case TokenKind::RBracket:
        case TokenKind::LBrace:
        case TokenKind::RBrace:
        case TokenKind::Comma:
        case TokenKind::Colon:
        case TokenKind::Semicolon:
        case TokenKind::Arrow:
        case TokenKind::Dot:
        case TokenKind::Dedent:
            parse_statement(p, program.statements);
            break;
        }
    }
}

Expr parse_expression_text(std::string_view text) {
    Parser p;
    p.tokens = tokenize(text);
    Expr expr = parse_expr(p);
    accept(p, TokenKind::Newline);
    if (!at(p, TokenKind::Eof)) {
        throw error_at_current(
            p, fmt::format("expected one expression, found {}", describe_token(current(p))));
    }
    return expr;
}

} // namespace kestal
