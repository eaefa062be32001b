// Dataclass method synthesis: fields in, FuncDefs out.
//
// The synthesized methods are plain syntax trees, exactly what the parser
// would build for the equivalent source, so typing and code generation treat
// them like written methods. Every node made here stands at the `class`
// keyword; copied field annotations and defaults keep their own positions.
#include "parser/dataclass.h"

#include <algorithm>
#include <array>
#include <utility>

namespace kestal {

namespace {

// Builds the nodes of one class, all at the position of its `class` keyword.
struct NodeMaker {
    uint64_t line;
    uint64_t column;

    Expr expr(Expr::Kind kind) const { return Expr{std::move(kind), line, column}; }
    Stmt stmt(Stmt::Kind kind) const { return Stmt{std::move(kind), line, column}; }

    Expr name(std::string id) const { return expr(Expr::Name{std::move(id)}); }
    // `<object>.<attr>` where the object is a plain name (`self.x`).
    Expr attribute(std::string object, std::string attr) const {
        return expr(Expr::Attribute{name(std::move(object)), std::move(attr)});
    }
    Stmt return_stmt(Expr value) const { return stmt(Stmt::Return{std::move(value)}); }

    FuncDef method(std::string method_name, std::vector<Param> params,
                   std::vector<Stmt> body) const {
        return FuncDef{
            std::nullopt, std::move(method_name), std::move(params), std::move(body), line, column};
    }
};

Param plain_param(std::string name) {
    return Param{std::nullopt, std::move(name), std::nullopt};
}

bool is_defined(const std::vector<FuncDef> &methods, const std::string &name) {
    return std::any_of(methods.begin(), methods.end(),
                       [&](const FuncDef &m) { return m.name == name; });
}

// __init__(self, <fields>): self.<f> = <f> for each field, then
// self.__post_init__() when there is one; `pass` for neither.
FuncDef make_init(const NodeMaker &at, const std::vector<Param> &fields, bool post_init) {
    std::vector<Param> params{plain_param("self")};
    std::vector<Stmt> body;
    for (const Param &field : fields) {
        params.push_back(field);
        body.push_back(at.stmt(
            Stmt::Assign{at.attribute("self", field.name), std::nullopt, at.name(field.name)}));
    }
    if (post_init)
        body.push_back(at.stmt(
            Stmt::ExprStmt{at.expr(Expr::MethodCall{at.name("self"), "__post_init__", {}, {}})}));
    if (body.empty())
        body.push_back(at.stmt(Stmt::Pass{}));
    return at.method("__init__", std::move(params), std::move(body));
}

// __repr__(self): return f"{type(self).__name__}(x={self.x!r}, y={self.y!r})".
FuncDef make_repr(const NodeMaker &at, const std::vector<Param> &fields) {
    std::vector<Expr> type_args;
    type_args.push_back(at.name("self"));
    Expr type_call = at.expr(Expr::Call{"type", std::move(type_args), {}});
    Expr class_name = at.expr(Expr::Attribute{std::move(type_call), "__name__"});

    auto literal = [](std::string text) {
        return FStringSegment{FStringSegment::Literal{std::move(text)}};
    };
    std::vector<FStringSegment> segments;
    segments.push_back(
        FStringSegment{FStringSegment::Field{std::move(class_name), std::nullopt, std::nullopt}});
    segments.push_back(literal("("));
    for (size_t i = 0; i < fields.size(); ++i) {
        segments.push_back(literal((i == 0 ? "" : ", ") + fields[i].name + "="));
        segments.push_back(FStringSegment{
            FStringSegment::Field{at.attribute("self", fields[i].name), std::nullopt, 'r'}});
    }
    segments.push_back(literal(")"));

    std::vector<Stmt> body;
    body.push_back(at.return_stmt(at.expr(Expr::FString{std::move(segments)})));
    FuncDef repr = at.method("__repr__", {plain_param("self")}, std::move(body));
    repr.guards_repr = true;
    return repr;
}

// The tuple display (<receiver>.<f1>, ..., <receiver>.<fn>).
Expr field_tuple(const NodeMaker &at, const std::string &receiver,
                 const std::vector<Param> &fields) {
    std::vector<Expr> elements;
    for (const Param &field : fields)
        elements.push_back(at.attribute(receiver, field.name));
    return at.expr(Expr::Tuple{std::move(elements)});
}

// A comparison dunder: the operator applied to the two field tuples, or the
// constant that comparing two empty tuples gives when there are no fields.
FuncDef make_comparison(const NodeMaker &at, const std::string &class_name,
                        const std::vector<Param> &fields, const std::string &method_name,
                        BinOp op) {
    std::vector<Param> params{plain_param("self"),
                              Param{Type::class_(class_name), "other", std::nullopt}};
    Expr value = fields.empty()
                     ? at.expr(Expr::Bool{op == BinOp::Eq || op == BinOp::Le || op == BinOp::Ge})
                     : at.expr(Expr::BinaryOp{field_tuple(at, "self", fields), op,
                                              field_tuple(at, "other", fields), false});
    std::vector<Stmt> body;
    body.push_back(at.return_stmt(std::move(value)));
    return at.method(method_name, std::move(params), std::move(body));
}

} // namespace

std::vector<std::string> synthesize_dataclass_methods(const std::string &class_name,
                                                      const std::vector<Param> &fields, bool order,
                                                      bool post_init, std::vector<FuncDef> &methods,
                                                      uint64_t line, uint64_t column) {
    const NodeMaker at{line, column};
    // Decided against the written methods only, before anything is appended.
    std::vector<FuncDef> synthesized;
    if (!is_defined(methods, "__init__"))
        synthesized.push_back(make_init(at, fields, post_init));
    if (!is_defined(methods, "__repr__"))
        synthesized.push_back(make_repr(at, fields));

    static const std::array<std::pair<const char *, BinOp>, 5> comparisons = {{
        {"__eq__", BinOp::Eq},
        {"__lt__", BinOp::Lt},
        {"__le__", BinOp::Le},
        {"__gt__", BinOp::Gt},
        {"__ge__", BinOp::Ge},
    }};
    std::vector<std::string> comparison_names;
    for (const auto &[name, op] : comparisons) {
        if (op != BinOp::Eq && !order)
            continue;
        if (is_defined(methods, name))
            continue;
        synthesized.push_back(make_comparison(at, class_name, fields, name, op));
        comparison_names.push_back(name);
    }

    for (FuncDef &m : synthesized)
        methods.push_back(std::move(m));
    return comparison_names;
}

} // namespace kestal
