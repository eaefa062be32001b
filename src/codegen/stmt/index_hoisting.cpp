// Index checks taken out of range loops: which accesses a loop's guard
// covers (read from the body's tree before it is compiled), the guard
// itself, and the fast form of a covered access. The guard is sound on its
// own terms: it only claims that indices are in range for lists whose
// variables the body never rebinds and whose lengths nothing in the body
// may change, so a true guard means no covered access could have raised.
#include "codegen/stmt/index_hoisting.h"

#include "analysis/walkers.h"
#include "ast/traverse.h"

#include <algorithm>

namespace kestal {

namespace {

// Offsets beyond this are left to the checked form, so the guard's
// arithmetic on them can't overflow.
constexpr int64_t kMaxOffset = int64_t{1} << 31;

// The offset c when `index` is `var`, `var + c`, `c + var` or `var - c`.
std::optional<int64_t> index_offset(const Expr &index, const std::string &var) {
    auto is_var = [&](const Expr &e) {
        const auto *n = e.as<Expr::Name>();
        return n && n->name == var;
    };
    auto literal = [](const Expr &e) -> std::optional<int64_t> {
        const auto *k = e.as<Expr::Int>();
        if (k && k->value >= -kMaxOffset && k->value <= kMaxOffset)
            return k->value;
        return std::nullopt;
    };
    if (is_var(index))
        return 0;
    const auto *op = index.as<Expr::BinaryOp>();
    if (!op || (op->op != BinOp::Add && op->op != BinOp::Sub))
        return std::nullopt;
    if (is_var(*op->left))
        if (auto c = literal(*op->right))
            return op->op == BinOp::Add ? *c : -*c;
    if (op->op == BinOp::Add && is_var(*op->right))
        return literal(*op->left);
    return std::nullopt;
}

// What the body's tree says: the offsets of `x[var + c]` per list name, and
// the names it binds or deletes (comprehension, `with` and `except` targets
// and nested loops included).
struct BodyScan {
    std::string var;
    std::map<std::string, std::set<int64_t>> accesses;
    std::set<std::string> deleted;

    void expr(const Expr &e, ExprRole role) {
        if (const auto *ix = e.as<Expr::Index>())
            if (const auto *name = ix->object->as<Expr::Name>())
                if (auto c = index_offset(*ix->index, var))
                    accesses[name->name].insert(*c);
        if (const auto *name = e.as<Expr::Name>(); name && role == ExprRole::Delete)
            deleted.insert(name->name);
        for_each_child_expr(e, [&](const Expr &child, ExprRole r) { expr(child, r); });
    }
    void block(const std::vector<Stmt> &body) {
        for (const Stmt &s : body) {
            for_each_stmt_expr(s, [&](const Expr &e, ExprRole role) { expr(e, role); });
            for_each_child_block(s, [&](const std::vector<Stmt> &b, BlockRole) { block(b); });
        }
    }
};

// A name that code outside the frame may rebind: a global of a function,
// or a variable of the top-level code that some function reads or declares
// global.
bool is_shared_name(CodegenContext &ctx, const std::string &name) {
    const FunctionFrame &f = ctx.frame();
    return f.is_module_level ? ctx.global_names.count(name) > 0
                             : f.declared_globals.count(name) > 0;
}

// " + c" as C text (" - -c" for a negative c, nothing for 0).
std::string plus(int64_t c) {
    if (c == 0)
        return "";
    return c > 0 ? fmt::format(" + INT64_C({})", c) : fmt::format(" - INT64_C({})", -c);
}

// The guard's C expression: the range is empty, or the first and last
// elements plus the least and greatest offset used index inside every
// list. Nothing overflows: the offsets are bounded by kMaxOffset and only
// ever added to a length (far below INT64_MAX - kMaxOffset) or negated, and
// the last element is read only when the range is not empty (then `stop - 1`
// is at least the start), computed in unsigned arithmetic for other steps.
std::string guard_text(const RangeBounds &r, const std::map<std::string, HoistedList> &lists) {
    int64_t low = INT64_MAX;
    for (const auto &[name, list] : lists)
        if (list.used)
            low = std::min(low, list.used->first);
    std::string empty, first, last;
    if (r.step == 1 || r.step == -1) {
        empty = fmt::format("{} {} {}", r.start, r.step > 0 ? ">=" : "<=", r.stop);
        first = r.start;
        last = fmt::format("({}{})", r.stop, plus(r.step > 0 ? -1 : 1));
    } else {
        empty = fmt::format("{} == 0", r.count);
        first = r.start;
        last = fmt::format("(int64_t)((uint64_t){} + (uint64_t)({} - 1) * (uint64_t)INT64_C({}))",
                           r.start, r.count, r.step);
    }
    const std::string &smallest = r.step > 0 ? first : last;
    const std::string &largest = r.step > 0 ? last : first;
    std::string text = fmt::format("{} || ({} >= INT64_C({})", empty, smallest, -low);
    for (const auto &[name, list] : lists)
        if (list.used)
            text += fmt::format(" && {0} && {1} < {0}->len{2}", list.text, largest,
                                plus(-list.used->second));
    return text + ")";
}

// The guard of a `while low < high` loop: not entered, or both bounds
// inside every list used.
std::string while_guard_text(const HoistedLoop &entry) {
    std::string text =
        fmt::format("{0} >= {1} || ({0} >= INT64_C(0)", entry.var_text, entry.high_text);
    for (const auto &[name, list] : entry.lists)
        if (list.used)
            text += fmt::format(" && {0} && {1} < {0}->len", list.text, entry.high_text);
    return text + ")";
}

// True when `name` changes in the body only by one top-level statement
// `name op= 1` (or not at all).
bool steps_by_one(const CodegenContext &ctx, const std::vector<Stmt> &body, const std::string &name,
                  BinOp op) {
    size_t steps = 0;
    for (const Stmt &s : body) {
        if (const auto *a = s.as<Stmt::AugAssign>()) {
            const auto *target = a->target.as<Expr::Name>();
            const auto *one = a->value.as<Expr::Int>();
            if (target && target->name == name && a->op == op && one && one->value == 1) {
                ++steps;
                continue;
            }
        }
        NameSets names(*ctx.lambdas);
        walk_stmt_names(names, s);
        BodyScan scan{name, {}, {}};
        for_each_stmt_expr(s, [&](const Expr &e, ExprRole role) { scan.expr(e, role); });
        for_each_child_block(s, [&](const std::vector<Stmt> &b, BlockRole) { scan.block(b); });
        if (names.assigned.count(name) || names.declared_global.count(name) ||
            scan.deleted.count(name))
            return false;
    }
    return steps <= 1;
}

} // namespace

IndexHoisting::IndexHoisting(CodegenContext &ctx, const Stmt::While &loop) : ctx_(ctx) {
    FunctionFrame &frame = ctx.frame();
    const auto *cmp = loop.condition.as<Expr::BinaryOp>();
    if (frame.host_function || !cmp || cmp->chain || (cmp->op != BinOp::Lt && cmp->op != BinOp::Gt))
        return;
    const auto *left = cmp->left->as<Expr::Name>();
    const auto *right = cmp->right->as<Expr::Name>();
    if (!left || !right || left->name == right->name)
        return;
    const std::string &low = cmp->op == BinOp::Lt ? left->name : right->name;
    const std::string &high = cmp->op == BinOp::Lt ? right->name : left->name;
    for (const std::string *v : {&low, &high}) {
        std::optional<Variable> var = lookup_local(ctx, *v);
        if (!var || !var->type.is<Type::Int>() || is_shared_name(ctx, *v) ||
            !frame.locals.count(*v))
            return;
    }
    if (!steps_by_one(ctx, loop.body, low, BinOp::Add) ||
        !steps_by_one(ctx, loop.body, high, BinOp::Sub))
        return;
    NameSets names(*ctx.lambdas);
    for (const Stmt &s : loop.body)
        walk_stmt_names(names, s);
    HoistedLoop entry;
    entry.var = low;
    entry.high = high;
    std::set<std::string> deleted;
    for (const std::string *v : {&low, &high}) {
        BodyScan scan{*v, {}, {}};
        scan.block(loop.body);
        deleted.insert(scan.deleted.begin(), scan.deleted.end());
        for (const auto &[name, offsets] : scan.accesses) {
            if (!offsets.count(0) || names.assigned.count(name) || deleted.count(name) ||
                scan.deleted.count(name) || names.declared_global.count(name) ||
                is_shared_name(ctx, name) || !frame.locals.count(name))
                continue;
            std::optional<Variable> var = lookup_local(ctx, name);
            if (!var || !var->type.is<Type::List>())
                continue;
            entry.lists[name] = HoistedList{var->text, {0}};
        }
    }
    if (entry.lists.empty())
        return;
    entry.guard = fresh_temp(ctx, "ok");
    entry.marker = fmt::format("/* {} */", entry.guard);
    while_ = true;
    frame_ = &frame;
    marker_at_ = frame.body.size();
    emit_line(ctx, entry.marker);
    frame.hoisted_loops.push_back(std::move(entry));
    depth_ = frame.hoisted_loops.size();
}

IndexHoisting::IndexHoisting(CodegenContext &ctx, const Stmt::For &loop, const IterationPlan &plan)
    : ctx_(ctx) {
    FunctionFrame &frame = ctx.frame();
    const auto *target = loop.target.as<Expr::Name>();
    // A parallel loop's body stands for another function; its loops keep
    // their checks.
    if (!plan.range || !target || frame.host_function || is_shared_name(ctx, target->name))
        return;
    BodyScan scan{target->name, {}, {}};
    scan.block(loop.body);
    NameSets names(*ctx.lambdas);
    for (const Stmt &s : loop.body)
        walk_stmt_names(names, s);
    auto rebound = [&](const std::string &name) {
        return names.assigned.count(name) || scan.deleted.count(name) ||
               names.declared_global.count(name);
    };
    if (rebound(target->name))
        return;
    HoistedLoop entry;
    entry.var = target->name;
    for (const auto &[name, offsets] : scan.accesses) {
        if (rebound(name) || is_shared_name(ctx, name) || !frame.locals.count(name))
            continue;
        std::optional<Variable> var = lookup_local(ctx, name);
        if (!var || !var->type.is<Type::List>())
            continue;
        entry.lists[name] = HoistedList{var->text, offsets};
    }
    if (entry.lists.empty())
        return;
    entry.guard = fresh_temp(ctx, "ok");
    entry.marker = fmt::format("/* {} */", entry.guard);
    range_ = plan.range;
    frame_ = &frame;
    marker_at_ = frame.body.size();
    emit_line(ctx, entry.marker);
    frame.hoisted_loops.push_back(std::move(entry));
    depth_ = frame.hoisted_loops.size();
}

void IndexHoisting::target_bound() {
    if (!frame_)
        return;
    HoistedLoop &entry = frame_->hoisted_loops.at(depth_ - 1);
    std::optional<Variable> var = lookup_local(ctx_, entry.var);
    if (var && var->type.is<Type::Int>())
        entry.var_text = var->text;
    if (!entry.high.empty()) {
        std::optional<Variable> high = lookup_local(ctx_, entry.high);
        if (high && high->type.is<Type::Int>())
            entry.high_text = high->text;
        else
            entry.var_text.clear();
    }
    entry.changes_before = frame_->length_changes;
}

void IndexHoisting::finish() {
    if (!frame_)
        return;
    HoistedLoop entry = std::move(frame_->hoisted_loops.at(depth_ - 1));
    frame_->hoisted_loops.resize(depth_ - 1);
    bool used = std::any_of(entry.lists.begin(), entry.lists.end(),
                            [](const auto &l) { return l.second.used.has_value(); });
    std::string line;
    if (used && frame_->length_changes == entry.changes_before)
        line = fmt::format("bool {} = {};", entry.guard,
                           while_ ? while_guard_text(entry) : guard_text(*range_, entry.lists));
    else if (used)
        line = fmt::format("bool {} = false;", entry.guard);
    std::string &body = frame_->body;
    size_t at = body.find(entry.marker, marker_at_);
    if (at == std::string::npos)
        internal_fault("a hoisted loop's guard marker is missing");
    if (line.empty()) {
        size_t start = body.rfind('\n', at);
        start = start == std::string::npos ? 0 : start + 1;
        body.erase(start, body.find('\n', at) + 1 - start);
    } else {
        body.replace(at, entry.marker.size(), line);
    }
    frame_ = nullptr;
}

const HoistedLoop *IndexHoisting::entry() const {
    if (!frame_ || while_ || frame_->hoisted_loops.size() < depth_)
        return nullptr;
    return &frame_->hoisted_loops[depth_ - 1];
}

IndexHoisting::~IndexHoisting() {
    // Left by an error: the frame is being abandoned or compiled again, but
    // its loop stack must stay balanced for whoever looks next.
    if (frame_ && frame_->hoisted_loops.size() >= depth_)
        frame_->hoisted_loops.resize(depth_ - 1);
}

std::optional<HoistedIndex> hoisted_list_index(CodegenContext &ctx, const Expr::Index &ix,
                                               const std::string &list_text) {
    const auto *name = ix.object->as<Expr::Name>();
    if (!name)
        return std::nullopt;
    std::vector<HoistedLoop> &loops = ctx.frame().hoisted_loops;
    for (auto it = loops.rbegin(); it != loops.rend(); ++it) {
        if (it->var_text.empty())
            continue;
        std::optional<int64_t> offset;
        std::string var_text = it->var_text;
        if (it->high.empty()) {
            offset = index_offset(*ix.index, it->var);
        } else {
            // A while loop covers x[low] and x[high] only.
            auto plain = [&](const std::string &v) {
                const auto *n = ix.index->as<Expr::Name>();
                return n && n->name == v;
            };
            if (plain(it->var)) {
                offset = 0;
            } else if (plain(it->high)) {
                offset = 0;
                var_text = it->high_text;
            }
        }
        auto list = it->lists.find(name->name);
        if (!offset || list == it->lists.end() || list->second.text != list_text ||
            !list->second.offsets.count(*offset))
            continue;
        auto &used = list->second.used;
        used = used ? std::pair{std::min(used->first, *offset), std::max(used->second, *offset)}
                    : std::pair{*offset, *offset};
        return HoistedIndex{it->guard, fmt::format("{}{}", var_text, plus(*offset))};
    }
    return std::nullopt;
}

} // namespace kestal
