// Module constants: which top-level names are bound once to a value known
// before the program runs, and that value, computed here with the
// program's own arithmetic. An operation whose result the program would
// compute differently, or which could fail, makes the expression not
// constant, and the name stays an ordinary global.
#include "analysis/constants.h"

#include "analysis/walkers.h"
#include "ast/traverse.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <set>
#include <unordered_map>

namespace kestal {

namespace {

// Integers up to 2^53 convert to float exactly.
constexpr int64_t kExactFloatInt = int64_t{1} << 53;

// The names `del` removes anywhere in the list, nested blocks included.
void collect_deleted_names(const std::vector<Stmt> &body, std::set<std::string> &out) {
    for (const Stmt &stmt : body) {
        for_each_stmt_expr(stmt, [&](const Expr &e, ExprRole role) {
            if (role == ExprRole::Delete)
                if (const auto *n = e.as<Expr::Name>())
                    out.insert(n->name);
        });
        for_each_child_block(stmt, [&](const std::vector<Stmt> &inner, BlockRole) {
            collect_deleted_names(inner, out);
        });
    }
}

// The one plain name a top-level assignment binds, or null.
const Stmt::Assign *name_assignment(const Stmt &stmt) {
    const auto *a = stmt.as<Stmt::Assign>();
    return a && a->target.is<Expr::Name>() ? a : nullptr;
}

std::optional<double> as_float(const Expr &e) {
    if (const auto *f = e.as<Expr::Float>())
        return f->value;
    if (const auto *i = e.as<Expr::Int>()) {
        if (i->value > kExactFloatInt || i->value < -kExactFloatInt)
            return std::nullopt;
        return static_cast<double>(i->value);
    }
    return std::nullopt;
}

std::optional<Expr> float_result(double v) {
    if (!std::isfinite(v))
        return std::nullopt;
    return Expr(Expr::Float{v});
}

// Floor division and modulo as Python defines them: the quotient rounds
// toward negative infinity and the remainder takes the divisor's sign.
std::optional<Expr> int_floor_op(BinOp op, int64_t a, int64_t b) {
    if (b == 0 || (a == std::numeric_limits<int64_t>::min() && b == -1))
        return std::nullopt;
    int64_t q = a / b, r = a % b;
    if (r != 0 && ((r < 0) != (b < 0))) {
        --q;
        r += b;
    }
    return Expr(Expr::Int{op == BinOp::FloorDiv ? q : r});
}

std::optional<Expr> int_binary(BinOp op, int64_t a, int64_t b) {
    int64_t out = 0;
    bool overflow = false;
    if (op == BinOp::Add)
        overflow = __builtin_add_overflow(a, b, &out);
    else if (op == BinOp::Sub)
        overflow = __builtin_sub_overflow(a, b, &out);
    else if (op == BinOp::Mul)
        overflow = __builtin_mul_overflow(a, b, &out);
    else if (op == BinOp::FloorDiv || op == BinOp::Mod)
        return int_floor_op(op, a, b);
    else if (op == BinOp::BitAnd)
        out = a & b;
    else if (op == BinOp::BitOr)
        out = a | b;
    else if (op == BinOp::BitXor)
        out = a ^ b;
    else
        return std::nullopt;
    if (overflow)
        return std::nullopt;
    return Expr(Expr::Int{out});
}

std::optional<Expr> float_binary(BinOp op, double a, double b) {
    if (op == BinOp::Add)
        return float_result(a + b);
    if (op == BinOp::Sub)
        return float_result(a - b);
    if (op == BinOp::Mul)
        return float_result(a * b);
    if (op == BinOp::Div && b != 0.0)
        return float_result(a / b);
    return std::nullopt;
}

class Evaluator {
  public:
    explicit Evaluator(const std::map<std::string, Expr> &known) : known_(known) {}

    std::optional<Expr> eval(const Expr &e) const {
        if (e.is<Expr::Int>() || e.is<Expr::Float>() || e.is<Expr::Str>() || e.is<Expr::Bool>())
            return Expr(e.kind);
        if (const auto *n = e.as<Expr::Name>()) {
            auto it = known_.find(n->name);
            if (it == known_.end())
                return std::nullopt;
            return it->second;
        }
        if (const auto *u = e.as<Expr::Unary>())
            return unary(u->op, *u->operand);
        if (const auto *b = e.as<Expr::BinaryOp>())
            return binary(b->op, *b->left, *b->right);
        return std::nullopt;
    }

  private:
    std::optional<Expr> unary(UnaryOp op, const Expr &operand) const {
        auto v = eval(operand);
        if (!v)
            return std::nullopt;
        if (const auto *i = v->as<Expr::Int>()) {
            if (op == UnaryOp::Neg && i->value != std::numeric_limits<int64_t>::min())
                return Expr(Expr::Int{-i->value});
            if (op == UnaryOp::Invert)
                return Expr(Expr::Int{~i->value});
            return std::nullopt;
        }
        if (const auto *f = v->as<Expr::Float>())
            return op == UnaryOp::Neg ? std::optional<Expr>(Expr(Expr::Float{-f->value}))
                                      : std::nullopt;
        if (const auto *b = v->as<Expr::Bool>())
            return op == UnaryOp::Not ? std::optional<Expr>(Expr(Expr::Bool{!b->value}))
                                      : std::nullopt;
        return std::nullopt;
    }

    std::optional<Expr> binary(BinOp op, const Expr &left, const Expr &right) const {
        auto l = eval(left);
        auto r = eval(right);
        if (!l || !r)
            return std::nullopt;
        const auto *li = l->as<Expr::Int>();
        const auto *ri = r->as<Expr::Int>();
        if (li && ri) {
            if (op == BinOp::Div) {
                auto a = as_float(*l), b = as_float(*r);
                if (!a || !b)
                    return std::nullopt;
                return float_binary(op, *a, *b);
            }
            return int_binary(op, li->value, ri->value);
        }
        if (l->is<Expr::Float>() || r->is<Expr::Float>()) {
            auto a = as_float(*l), b = as_float(*r);
            if (!a || !b)
                return std::nullopt;
            return float_binary(op, *a, *b);
        }
        const auto *ls = l->as<Expr::Str>();
        const auto *rs = r->as<Expr::Str>();
        if (ls && rs && op == BinOp::Add)
            return Expr(Expr::Str{ls->value + rs->value});
        return std::nullopt;
    }

    const std::map<std::string, Expr> &known_;
};

} // namespace

std::map<std::string, Expr> find_module_constants(const Program &program) {
    // Every binding of the module except the plain top-level assignments,
    // which are counted.
    std::unordered_map<std::string, unsigned> assignments;
    NameSets other(program.lambdas);
    for (const Stmt &stmt : program.statements) {
        if (const auto *a = name_assignment(stmt)) {
            ++assignments[a->target.as<Expr::Name>()->name];
            walk_expr_names(other, a->value);
        } else {
            walk_stmt_names(other, stmt);
        }
    }
    std::set<std::string> excluded(other.assigned.begin(), other.assigned.end());
    collect_deleted_names(program.statements, excluded);
    auto exclude_function = [&](const FuncDef &fn) {
        collect_global_declarations(fn.body, excluded);
        collect_deleted_names(fn.body, excluded);
    };
    for (const FuncDef &fn : program.functions) {
        excluded.insert(fn.name);
        exclude_function(fn);
    }
    for (const FuncDef &fn : program.lambdas)
        exclude_function(fn);
    for (const ClassDef &c : program.classes) {
        excluded.insert(c.name);
        for (const FuncDef &m : c.methods)
            exclude_function(m);
    }
    for (const auto &alias : program.aliases)
        excluded.insert(alias.first);

    std::map<std::string, Expr> constants;
    for (const Stmt &stmt : program.statements) {
        const auto *a = name_assignment(stmt);
        if (!a)
            continue;
        const std::string &name = a->target.as<Expr::Name>()->name;
        if (assignments[name] != 1 || excluded.count(name))
            continue;
        if (auto value = Evaluator(constants).eval(a->value))
            constants.emplace(name, std::move(*value));
    }
    return constants;
}

} // namespace kestal
