// Which functions can call themselves again: the cycles of the program's
// call graph, over what each body may call. Only instances of these
// functions check for a recursion too deep at their entry, so a function
// outside every cycle pays nothing.
//
// The graph errs on the side of a cycle. A call by name reaches that
// function, a constructor call its `__init__`, and a method call every
// method of that name in any class (dispatch may pick any). A function
// named as a value, a lambda written in the body, and a method read as an
// attribute may be called by whatever receives them, so they are callees of
// the body that mentions them and of every call of an unknown function
// value. Operators, printing and truth tests call special methods
// implicitly, so every body may call every special method but `__init__`.
#include "codegen/program/recursion.h"

#include "ast/traverse.h"
#include "codegen/builtins/builtin_functions.h"
#include "codegen/classes/classes.h"

#include <algorithm>

namespace kestal {

namespace {

// Nodes that stand for no function: what an unknown function value may be,
// the special methods, and (as "*.m") the methods of one name.
const std::string kValueNode = "<value>";
const std::string kSpecialNode = "<special>";

using Graph = std::unordered_map<std::string, std::unordered_set<std::string>>;

struct GraphBuilder {
    const CodegenContext &ctx;
    Graph graph;

    explicit GraphBuilder(const CodegenContext &c) : ctx(c) {
        // One node "*.m" per method name leads to every method of that name,
        // so a call by method name is one edge however many classes define
        // it.
        for (const auto &[name, def] : ctx.functions)
            if (size_t dot = name.rfind('.'); dot != std::string::npos)
                add_edge("*" + name.substr(dot), name);
    }

    void add_edge(const std::string &from, const std::string &to) { graph[from].insert(to); }

    // Every method of that name, in any class.
    void add_method_edges(const std::string &from, const std::string &method) {
        std::string node = "*." + method;
        if (graph.count(node))
            add_edge(from, node);
    }

    void add_value_edges(const std::string &from, const std::string &to) {
        add_edge(from, to);
        add_edge(kValueNode, to);
    }

    void scan_expr(const std::string &from, const Expr &e) {
        if (const auto *call = e.as<Expr::Call>()) {
            if (ctx.functions.count(call->name)) {
                add_edge(from, call->name);
            } else if (ctx.classes.count(call->name)) {
                auto owner =
                    first_class_defining_method(ctx, class_ancestors(ctx, call->name), "__init__");
                if (owner)
                    add_edge(from, *owner + ".__init__");
            } else if (call->name != "super" && call->name != "isinstance" &&
                       !find_builtin(call->name)) {
                add_edge(from, kValueNode);
            }
        } else if (const auto *m = e.as<Expr::MethodCall>()) {
            add_method_edges(from, m->method);
        } else if (e.is<Expr::CallExpr>()) {
            add_edge(from, kValueNode);
        } else if (const auto *n = e.as<Expr::Name>()) {
            if (ctx.functions.count(n->name))
                add_value_edges(from, n->name);
        } else if (const auto *a = e.as<Expr::Attribute>()) {
            if (std::string node = "*." + a->name; graph.count(node))
                add_value_edges(from, node);
        } else if (const auto *l = e.as<Expr::Lambda>()) {
            add_value_edges(from, fmt::format("<lambda{}>", l->index));
        }
        for_each_child_expr(e, [&](const Expr &child, ExprRole) { scan_expr(from, child); });
    }

    void scan_block(const std::string &from, const std::vector<Stmt> &body) {
        for (const Stmt &stmt : body) {
            for_each_stmt_expr(stmt, [&](const Expr &e, ExprRole) { scan_expr(from, e); });
            for_each_child_block(
                stmt, [&](const std::vector<Stmt> &b, BlockRole) { scan_block(from, b); });
        }
    }

    void scan_function(const std::string &name, const std::vector<Stmt> &body) {
        graph[name];
        add_edge(name, kSpecialNode);
        scan_block(name, body);
    }
};

// Tarjan's strongly connected components; the members of a component of
// more than one node, or of one node with an edge to itself, lie on a
// cycle. Recursive, but no deeper than the number of functions, on the
// compile road's large stack.
struct CycleFinder {
    const Graph &graph;
    std::unordered_map<std::string, size_t> index, low;
    std::unordered_set<std::string> on_stack;
    std::vector<std::string> stack;
    std::unordered_set<std::string> on_cycle;
    size_t next = 0;

    void visit(const std::string &v) {
        index[v] = low[v] = next++;
        stack.push_back(v);
        on_stack.insert(v);
        auto edges = graph.find(v);
        if (edges != graph.end()) {
            for (const std::string &w : edges->second) {
                if (!index.count(w)) {
                    visit(w);
                    low[v] = std::min(low[v], low[w]);
                } else if (on_stack.count(w)) {
                    low[v] = std::min(low[v], index[w]);
                }
            }
        }
        if (low[v] != index[v])
            return;
        std::vector<std::string> component;
        std::string w;
        do {
            w = stack.back();
            stack.pop_back();
            on_stack.erase(w);
            component.push_back(w);
        } while (w != v);
        bool self_edge = edges != graph.end() && edges->second.count(v);
        if (component.size() > 1 || self_edge)
            on_cycle.insert(component.begin(), component.end());
    }
};

std::unordered_set<std::string> find_recursive_functions(const CodegenContext &ctx) {
    GraphBuilder builder(ctx);
    for (const auto &[name, def] : ctx.functions) {
        builder.scan_function(name, def->body);
        size_t dot = name.find('.');
        if (dot != std::string::npos && name.compare(dot + 1, 2, "__") == 0 &&
            name.compare(dot + 1, std::string::npos, "__init__") != 0)
            builder.add_edge(kSpecialNode, name);
    }
    for (size_t i = 0; i < ctx.lambdas->size(); ++i)
        builder.scan_function(fmt::format("<lambda{}>", i), (*ctx.lambdas)[i].body);
    CycleFinder finder{builder.graph, {}, {}, {}, {}, {}, 0};
    for (const auto &[name, edges] : builder.graph)
        if (!finder.index.count(name))
            finder.visit(name);
    std::unordered_set<std::string> functions;
    for (const std::string &name : finder.on_cycle)
        if (name != kValueNode && name != kSpecialNode && name.rfind("*.", 0) != 0)
            functions.insert(name);
    return functions;
}

} // namespace

bool may_recurse(CodegenContext &ctx, const std::string &name) {
    if (!ctx.recursive_functions)
        ctx.recursive_functions = find_recursive_functions(ctx);
    return ctx.recursive_functions->count(name) > 0;
}

} // namespace kestal
