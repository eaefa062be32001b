// The tree printer: one `std::visit` per node family, writing S-expressions
// into a string. Operators print as their source symbols, the `and` that
// joins the links of a comparison chain as `and*`, absent optional parts as
// `_`. Floats always show a decimal point or an exponent so they never read
// as ints.
#include "ast/printer.h"
#include "support/escape.h"
#include "support/overload.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace kestal {

namespace {

// Dumps spell an operator as one word: `not-in`, `is-not`.
std::string_view binop_dump(BinOp op) {
    return kBinOpSpellings[static_cast<size_t>(op)].dump;
}

std::string float_text(double value) {
    std::string text = fmt::format("{}", value);
    if (text.find_first_of(".eni") == std::string::npos)
        text += ".0";
    return text;
}

class Printer {
  public:
    explicit Printer(PrintOptions options) : options_(options) {}

    std::string expr(const Expr &e) const;
    std::string stmt(const Stmt &s) const;
    std::string block(const std::vector<Stmt> &body) const;
    std::string function(const FuncDef &f) const;

  private:
    // The head word of a node, with its position when asked for.
    std::string at(std::string_view word, uint64_t line, uint64_t column) const {
        if (!options_.positions)
            return std::string(word);
        return fmt::format("{}@{}:{}", word, line, column);
    }
    std::string optional_expr(const std::optional<Box<Expr>> &e) const {
        return e ? expr(**e) : "_";
    }
    std::string args(const std::vector<Expr> &positional,
                     const std::vector<Keyword> &keywords) const;
    std::string list(const std::vector<Expr> &items) const;
    // The items separated by single spaces, without a leading space.
    std::string joined(const std::vector<Expr> &items) const {
        std::string out = list(items);
        return out.empty() ? out : out.substr(1);
    }
    std::string clauses(const std::vector<ComprehensionClause> &items) const;
    std::string segment(const FStringSegment &segment) const;
    std::string else_part(std::string_view word,
                          const std::optional<std::vector<Stmt>> &body) const {
        return body ? fmt::format(" {} {}", word, block(*body)) : "";
    }

    PrintOptions options_;
};

std::string Printer::list(const std::vector<Expr> &items) const {
    std::string out;
    for (const Expr &item : items)
        out += " " + expr(item);
    return out;
}

std::string Printer::args(const std::vector<Expr> &positional,
                          const std::vector<Keyword> &keywords) const {
    std::string out = list(positional);
    for (const Keyword &kw : keywords)
        out += fmt::format(" {}={}", kw.name, expr(kw.value));
    return out;
}

std::string Printer::clauses(const std::vector<ComprehensionClause> &items) const {
    std::string out;
    for (const ComprehensionClause &clause : items) {
        out += fmt::format(" (for {} in {}", expr(clause.target), expr(clause.iterable));
        for (const Expr &condition : clause.conditions)
            out += " if " + expr(condition);
        out += ")";
    }
    return out;
}

std::string Printer::segment(const FStringSegment &seg) const {
    if (const auto *lit = std::get_if<FStringSegment::Literal>(&seg.kind))
        return quoted(lit->text, EscapeMode::Tree);
    const auto &field = std::get<FStringSegment::Field>(seg.kind);
    std::string out = "{" + expr(field.expr);
    if (field.conversion)
        out += fmt::format(" !{}", *field.conversion);
    if (field.spec)
        out += " :" + quoted(*field.spec, EscapeMode::Tree);
    return out + "}";
}

// One arm per expression kind; the visit keeps them in one place so a new
// kind fails to compile here.
std::string Printer::expr(const Expr &e) const {
    auto head = [&](std::string_view word) { return at(word, e.line, e.column); };
    return std::visit(
        Overload{
            [&](const Expr::Int &n) { return head(fmt::format("{}", n.value)); },
            [&](const Expr::Float &n) { return head(float_text(n.value)); },
            [&](const Expr::Str &s) { return head(quoted(s.value, EscapeMode::Tree)); },
            [&](const Expr::Bool &b) { return head(b.value ? "True" : "False"); },
            [&](const Expr::FString &f) {
                std::string out = "(" + head("f");
                for (const FStringSegment &seg : f.segments)
                    out += " " + segment(seg);
                return out + ")";
            },
            [&](const Expr::Name &n) { return head(n.name); },
            [&](const Expr::BinaryOp &b) {
                std::string op(binop_dump(b.op));
                if (b.chain)
                    op += "*";
                return fmt::format("({} {} {})", head(op), expr(*b.left), expr(*b.right));
            },
            [&](const Expr::Unary &u) {
                std::string_view word = kUnaryOpSpellings[static_cast<size_t>(u.op)].dump;
                return fmt::format("({} {})", head(word), expr(*u.operand));
            },
            [&](const Expr::IfExp &i) {
                return fmt::format("({} {} {} {})", head("if"), expr(*i.condition),
                                   expr(*i.if_true), expr(*i.if_false));
            },
            [&](const Expr::Call &c) {
                return fmt::format("({} {}{})", head("call"), c.name, args(c.args, c.kwargs));
            },
            [&](const Expr::CallExpr &c) {
                return fmt::format("({} {}{})", head("call-expr"), expr(*c.callee),
                                   args(c.args, c.kwargs));
            },
            [&](const Expr::MethodCall &m) {
                return fmt::format("({} {} {}{})", head("method"), expr(*m.receiver), m.method,
                                   args(m.args, m.kwargs));
            },
            [&](const Expr::Attribute &a) {
                return fmt::format("({} {} {})", head("."), expr(*a.object), a.name);
            },
            [&](const Expr::Index &i) {
                return fmt::format("({} {} {})", head("index"), expr(*i.object), expr(*i.index));
            },
            [&](const Expr::Slice &s) {
                return fmt::format("({} {} {} {} {})", head("slice"), expr(*s.object),
                                   optional_expr(s.lower), optional_expr(s.upper),
                                   optional_expr(s.step));
            },
            [&](const Expr::List &l) { return "(" + head("list") + list(l.elements) + ")"; },
            [&](const Expr::Tuple &t) { return "(" + head("tuple") + list(t.elements) + ")"; },
            [&](const Expr::Dict &d) {
                std::string out = "(" + head("dict");
                for (const DictEntry &entry : d.entries) {
                    out += fmt::format(" ({} {})", expr(entry.key), expr(entry.value));
                }
                return out + ")";
            },
            [&](const Expr::Set &s) { return "(" + head("set") + list(s.elements) + ")"; },
            [&](const Expr::SetComp &c) {
                return fmt::format("({} {}{})", head("setcomp"), expr(*c.element),
                                   clauses(c.clauses));
            },
            [&](const Expr::ListComp &c) {
                return fmt::format("({} {}{})", head("listcomp"), expr(*c.element),
                                   clauses(c.clauses));
            },
            [&](const Expr::DictComp &c) {
                return fmt::format("({} {} {}{})", head("dictcomp"), expr(*c.key), expr(*c.value),
                                   clauses(c.clauses));
            },
            [&](const Expr::GeneratorExp &c) {
                return fmt::format("({} {}{})", head("genexp"), expr(*c.element),
                                   clauses(c.clauses));
            },
            [&](const Expr::Lambda &l) { return fmt::format("({} {})", head("lambda"), l.index); },
            [&](const Expr::None &) { return head("None"); },
        },
        e.kind);
}

std::string Printer::block(const std::vector<Stmt> &body) const {
    std::string out = "{";
    for (size_t i = 0; i < body.size(); ++i) {
        if (i > 0)
            out += "; ";
        out += stmt(body[i]);
    }
    return out + "}";
}

// One arm per statement kind, as for expressions.
std::string Printer::stmt(const Stmt &s) const {
    auto head = [&](std::string_view word) { return at(word, s.line, s.column); };
    return std::visit(
        Overload{
            [&](const Stmt::ExprStmt &e) {
                return fmt::format("({} {})", head("expr"), expr(e.expr));
            },
            [&](const Stmt::Assign &a) {
                std::string annotation = a.annotation ? fmt::format(" : {}", *a.annotation) : "";
                return fmt::format("({} {}{} {})", head("="), expr(a.target), annotation,
                                   expr(a.value));
            },
            [&](const Stmt::Unpack &u) {
                return fmt::format("({} ({}) {})", head("unpack"), joined(u.targets),
                                   expr(u.value));
            },
            [&](const Stmt::AugAssign &a) {
                return fmt::format("({}= {} {})", head(binop_dump(a.op)), expr(a.target),
                                   expr(a.value));
            },
            [&](const Stmt::If &i) {
                std::string out = "(" + head("if");
                for (size_t k = 0; k < i.branches.size(); ++k) {
                    out += fmt::format("{} {} {}", k == 0 ? "" : " elif",
                                       expr(i.branches[k].condition), block(i.branches[k].body));
                }
                return out + else_part("else", i.else_body) + ")";
            },
            [&](const Stmt::While &w) {
                return fmt::format("({} {} {}{})", head("while"), expr(w.condition), block(w.body),
                                   else_part("else", w.else_body));
            },
            [&](const Stmt::For &f) {
                return fmt::format("({} {} in {} {}{})", head("for"), expr(f.target),
                                   expr(f.iterable), block(f.body), else_part("else", f.else_body));
            },
            [&](const Stmt::Break &) { return head("break"); },
            [&](const Stmt::Continue &) { return head("continue"); },
            [&](const Stmt::Pass &) { return head("pass"); },
            [&](const Stmt::Return &r) {
                return r.value ? fmt::format("({} {})", head("return"), expr(*r.value))
                               : fmt::format("({})", head("return"));
            },
            [&](const Stmt::Global &g) {
                return fmt::format("({} {})", head("global"), fmt::join(g.names, " "));
            },
            [&](const Stmt::Del &d) { return "(" + head("del") + list(d.targets) + ")"; },
            [&](const Stmt::With &w) {
                std::string out = "(" + head("with");
                for (const WithItem &item : w.items) {
                    out += " (" + expr(item.context);
                    if (item.target)
                        out += " as " + expr(*item.target);
                    out += ")";
                }
                return out + " " + block(w.body) + ")";
            },
            [&](const Stmt::Try &t) {
                std::string out = "(" + head("try") + " " + block(t.body);
                for (const ExceptHandler &handler : t.handlers) {
                    out += " (except";
                    if (!handler.types.empty())
                        out += " (" + joined(handler.types) + ")";
                    if (handler.name)
                        out += " as " + *handler.name;
                    out += " " + block(handler.body) + ")";
                }
                return out + else_part("else", t.else_body) + else_part("finally", t.finally_body) +
                       ")";
            },
            [&](const Stmt::Raise &r) {
                std::string out = "(" + head("raise");
                if (r.exception)
                    out += " " + expr(*r.exception);
                if (r.cause)
                    out += " from " + expr(*r.cause);
                return out + ")";
            },
            [&](const Stmt::Assert &a) {
                std::string message = a.message ? " " + expr(*a.message) : "";
                return fmt::format("({} {}{})", head("assert"), expr(a.condition), message);
            },
        },
        s.kind);
}

std::string Printer::function(const FuncDef &f) const {
    std::vector<std::string> params;
    for (const Param &param : f.params) {
        std::string text = param.name;
        if (param.annotation)
            text += fmt::format(": {}", *param.annotation);
        if (param.default_value)
            text += " = " + expr(*param.default_value);
        params.push_back(std::move(text));
    }
    std::string returns = f.return_type ? fmt::format(" -> {}", *f.return_type) : "";
    return fmt::format("({} {} ({}){} {})", at("def", f.line, f.column), f.name,
                       fmt::join(params, ", "), returns, block(f.body));
}

} // namespace

std::string print_expr(const Expr &expr, PrintOptions options) {
    return Printer(options).expr(expr);
}

std::string print_stmt(const Stmt &stmt, PrintOptions options) {
    return Printer(options).stmt(stmt);
}

std::string print_block(const std::vector<Stmt> &body, PrintOptions options) {
    return Printer(options).block(body);
}

std::string print_function(const FuncDef &function, PrintOptions options) {
    return Printer(options).function(function);
}

std::string print_program(const Program &program, PrintOptions options) {
    Printer printer(options);
    std::string out;
    for (const ModuleImport &import : program.imports) {
        out += fmt::format("import {}@{}:{}\n", import.name, import.line, import.column);
    }
    for (const auto &[local, dotted] : program.aliases)
        out += fmt::format("alias {} = {}\n", local, dotted);
    for (const ClassDef &c : program.classes) {
        if (c.is_builtin)
            continue;
        out += fmt::format("class {}{} @{}:{}\n", c.name, c.base ? "(" + *c.base + ")" : "", c.line,
                           c.column);
        for (const ClassConstant &constant : c.constants) {
            out += fmt::format("  const {} = {}\n", constant.name, printer.expr(constant.value));
        }
        if (!c.synthesized_comparisons.empty()) {
            out += fmt::format("  comparisons {}\n", fmt::join(c.synthesized_comparisons, " "));
        }
        for (const FuncDef &method : c.methods)
            out += "  " + printer.function(method) + "\n";
    }
    for (const FuncDef &function : program.functions)
        out += printer.function(function) + "\n";
    for (const FuncDef &lambda : program.lambdas)
        out += "lambda " + printer.function(lambda) + "\n";
    for (const Stmt &stmt : program.statements)
        out += printer.stmt(stmt) + "\n";
    return out;
}

} // namespace kestal
