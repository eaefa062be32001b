// String building. A run of `+` links holding an f-string, a str() call or
// (from two links up) a str literal is compiled operand by operand, left to
// right, into temporaries of one statement expression. While the value so far
// is a str, the str operands that follow are appended to one builder on the C
// stack: an f-string or str() call appends its text there directly, without
// making a string of its own. The builder's text is then copied once, after
// the str value that started the run (`ktl_str_cat_sb`, which extends that
// value in place when it ends at the used end of a growable block). An
// operand that is not a str (a class with `__radd__`, say) ends the builder
// and combines with the value so far as `compile_binary_op` says, so every
// Type keeps the meaning of its `+`.
//
// `s += value` on a str variable reads s first, then builds the whole value
// in one builder and appends it to s with room to grow (`ktl_str_cat_sb`,
// `ktl_str_append`), so a loop of appends extends s in place.
#include "codegen/expr/strings.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <algorithm>
#include <iterator>

namespace kestal {

namespace {

bool is_str_call(CodegenContext &ctx, const Expr &e) {
    const auto *c = e.as<Expr::Call>();
    return c && c->name == "str" && c->args.size() == 1 && c->kwargs.empty() &&
           is_builtin_name(ctx, "str");
}

// An operand that can append its own text to a builder.
bool appends_itself(CodegenContext &ctx, const Expr &e) {
    return e.is<Expr::FString>() || is_str_call(ctx, e);
}

// Operands whose compiling takes its Type from the other operand.
bool needs_hint(const Expr &e) {
    if (e.is<Expr::List>())
        return true;
    const auto *d = e.as<Expr::Dict>();
    return d && d->entries.empty();
}

struct AddRun {
    // Leftmost first; links[i] joins the value of operands[0..i] with
    // operands[i + 1].
    std::vector<const Expr *> operands;
    std::vector<const Expr *> links;
};

// The left-leaning run of `+` links that ends at `e`; none when `e` is no
// `+` or an operand wants a hint.
std::optional<AddRun> add_run(const Expr &e) {
    AddRun run;
    const Expr *cur = &e;
    for (const auto *b = cur->as<Expr::BinaryOp>(); b && b->op == BinOp::Add && !b->chain;
         b = cur->as<Expr::BinaryOp>()) {
        run.links.push_back(cur);
        run.operands.push_back(b->right.get());
        cur = b->left.get();
    }
    if (run.links.empty())
        return std::nullopt;
    run.operands.push_back(cur);
    std::reverse(run.operands.begin(), run.operands.end());
    std::reverse(run.links.begin(), run.links.end());
    if (std::any_of(run.operands.begin(), run.operands.end(),
                    [](const Expr *o) { return needs_hint(*o); }))
        return std::nullopt;
    return run;
}

bool storable(const Type &t) {
    return !(t.is<Type::Range>() || t.is<Type::Function>() || t.is<Type::None>() ||
             t.is<Type::NoValue>());
}

// The statements of one run, built left to right.
class RunBuilder {
  public:
    // `absorb_first`: the run's first operand goes into the builder rather
    // than before it, so that a run built in one piece can be appended to
    // another string as a whole (`s += a + b`).
    RunBuilder(CodegenContext &ctx, bool absorb_first) : ctx_(ctx), absorb_first_(absorb_first) {}

    // Every operand of the run, left to right.
    void build(const AddRun &run) {
        first(*run.operands[0]);
        for (size_t i = 1; i < run.operands.size(); ++i)
            next(*run.operands[i], *run.links[i - 1]);
    }

    void first(const Expr &operand) {
        if (appends_itself(ctx_, operand)) {
            open("");
            append_itself(operand);
            return;
        }
        acc_ = compile_expr(ctx_, operand);
        hold();
        acc_is_first_ = true;
    }

    void next(const Expr &operand, const Expr &link) {
        if (building_) {
            if (appends_itself(ctx_, operand)) {
                append_itself(operand);
                return;
            }
            CompiledExpr r = compile_expr(ctx_, operand);
            if (r.type.is<Type::Str>()) {
                add(r.text);
                return;
            }
            close();
            combine(r, link);
            return;
        }
        if (acc_.type.is<Type::Str>() && appends_itself(ctx_, operand)) {
            open_after_acc();
            append_itself(operand);
            return;
        }
        CompiledExpr r = compile_expr(ctx_, operand);
        if (acc_.type.is<Type::Str>() && r.type.is<Type::Str>()) {
            open_after_acc();
            add(r.text);
            return;
        }
        combine(r, link);
    }

    // The whole run built in one builder from its first operand on, with
    // nothing before it: its builder's name.
    std::optional<std::string> single_builder() const {
        if (building_ && head_.empty() && sessions_ == 1)
            return sb_;
        return std::nullopt;
    }

    std::string statements() const { return text_; }

    // The value of the run.
    CompiledExpr value() {
        if (building_)
            close();
        return acc_;
    }

  private:
    void open(const std::string &head) {
        sb_ = fresh_temp(ctx_, "sb");
        fmt::format_to(std::back_inserter(text_), "ktl_sb {0}; ktl_sb_init(&{0}); ", sb_);
        head_ = head;
        building_ = true;
        ++sessions_;
    }

    void open_after_acc() {
        if (absorb_first_ && acc_is_first_) {
            open("");
            add(acc_.text);
        } else {
            open(acc_.text);
        }
    }

    void append_itself(const Expr &operand) {
        if (const auto *fs = operand.as<Expr::FString>()) {
            for (const auto &segment : fs->segments)
                text_ += compile_format_field(ctx_, sb_, segment);
            return;
        }
        const auto &call = *operand.as<Expr::Call>();
        CompiledExpr v = compile_expr(ctx_, call.args[0]);
        text_ += append_to_builder(ctx_, sb_, v, false, operand.line, operand.column);
    }

    void add(const std::string &str_text) {
        fmt::format_to(std::back_inserter(text_), "ktl_sb_add(&{}, {}); ", sb_, str_text);
    }

    void close() {
        std::string v = head_.empty() ? fmt::format("ktl_sb_done(&{})", sb_)
                                      : fmt::format("ktl_str_cat_sb({}, &{}, false)", head_, sb_);
        acc_ = {std::move(v), Type::str()};
        building_ = false;
        acc_is_first_ = false;
        hold();
    }

    void combine(const CompiledExpr &r, const Expr &link) {
        acc_ = compile_binary_op(ctx_, BinOp::Add, acc_, r, link);
        acc_is_first_ = false;
        hold();
    }

    // The value so far into a temporary, so that it is computed before the
    // next operand.
    void hold() {
        if (!storable(acc_.type))
            return;
        ensure_type_defined(ctx_, acc_.type);
        std::string t = fresh_temp(ctx_, "ch");
        fmt::format_to(std::back_inserter(text_), "{} {} = {}; ", c_type_name(acc_.type), t,
                       acc_.text);
        acc_.text = std::move(t);
    }

    CodegenContext &ctx_;
    bool absorb_first_;
    std::string text_;
    CompiledExpr acc_;
    bool acc_is_first_ = false;
    bool building_ = false;
    int sessions_ = 0;
    std::string sb_;
    std::string head_;
};

} // namespace

std::optional<CompiledExpr> compile_str_chain(CodegenContext &ctx, const Expr &e) {
    const auto *top = e.as<Expr::BinaryOp>();
    if (!top || top->op != BinOp::Add)
        return std::nullopt;
    std::optional<AddRun> run = add_run(e);
    if (!run)
        return std::nullopt;
    bool builds = false, literal = false;
    for (const Expr *o : run->operands) {
        builds = builds || appends_itself(ctx, *o);
        literal = literal || o->is<Expr::Str>();
    }
    // `a + "x"` alone is one concatenation already.
    if (!builds && !(literal && run->links.size() >= 2))
        return std::nullopt;
    RunBuilder b(ctx, false);
    b.build(*run);
    CompiledExpr v = b.value();
    return CompiledExpr{fmt::format("({{ {}{}; }})", b.statements(), v.text), v.type};
}

CompiledExpr compile_str_append(CodegenContext &ctx, const CompiledExpr &target, const Expr &value,
                                const Expr &at) {
    std::optional<AddRun> run = add_run(value);
    if (!run && !appends_itself(ctx, value)) {
        CompiledExpr v = compile_expr(ctx, value, &target.type);
        if (v.type.is<Type::Str>())
            return {fmt::format("ktl_str_append({}, {})", target.text, v.text), Type::str()};
        return compile_binary_op(ctx, BinOp::Add, target, v, at);
    }
    // The variable is read before the value is computed, as Python does.
    std::string old = fresh_temp(ctx, "old");
    std::string head = fmt::format("ktl_str {} = {}; ", old, target.text);
    RunBuilder b(ctx, true);
    if (run) {
        b.build(*run);
    } else {
        b.first(value);
    }
    if (std::optional<std::string> sb = b.single_builder())
        return {fmt::format("({{ {}{}ktl_str_cat_sb({}, &{}, true); }})", head, b.statements(), old,
                            *sb),
                Type::str()};
    CompiledExpr v = b.value();
    std::string stmts = head + b.statements();
    if (v.type.is<Type::Str>())
        return {fmt::format("({{ {}ktl_str_append({}, {}); }})", stmts, old, v.text), Type::str()};
    CompiledExpr r = compile_binary_op(ctx, BinOp::Add, CompiledExpr{old, target.type}, v, at);
    return {fmt::format("({{ {}{}; }})", stmts, r.text), r.type};
}

} // namespace kestal
