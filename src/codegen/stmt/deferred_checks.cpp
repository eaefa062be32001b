// Deferred zero-divisor checks: which loops are tried (read from the tree),
// the check of an unchecked copy's C text, and the instance variants such
// copies call.
#include "codegen/stmt/deferred_checks.h"

#include "ast/traverse.h"

#include <cctype>
#include <map>
#include <unordered_set>

namespace kestal {

namespace {

struct CandidateScan {
    const CodegenContext &ctx;
    bool ok = true;
    bool divides = false;
    bool stores = false;
    bool loops = false;

    void expr(const Expr &e) {
        if (!ok)
            return;
        if (const auto *op = e.as<Expr::BinaryOp>()) {
            if (op->op == BinOp::Div)
                divides = true;
        } else if (const auto *call = e.as<Expr::Call>()) {
            if (!ctx.functions.count(call->name) || !call->kwargs.empty()) {
                ok = false;
                return;
            }
            divides = true;
        } else if (!e.as<Expr::Int>() && !e.as<Expr::Float>() && !e.as<Expr::Bool>() &&
                   !e.as<Expr::Name>() && !e.as<Expr::Unary>() && !e.as<Expr::IfExp>() &&
                   !e.as<Expr::Index>()) {
            ok = false;
            return;
        }
        for_each_child_expr(e, [&](const Expr &child) { expr(child); });
    }

    bool name_target(const Expr &target) { return target.as<Expr::Name>() != nullptr; }

    void block(const std::vector<Stmt> &body) {
        for (const Stmt &s : body) {
            if (!ok)
                return;
            if (const auto *a = s.as<Stmt::Assign>()) {
                const auto *item = a->target.as<Expr::Index>();
                if (item && item->object->as<Expr::Name>()) {
                    stores = true;
                    expr(*item->index);
                } else {
                    ok = name_target(a->target);
                }
                expr(a->value);
            } else if (const auto *a = s.as<Stmt::AugAssign>()) {
                ok = name_target(a->target);
                expr(a->value);
            } else if (const auto *i = s.as<Stmt::If>()) {
                for (const IfBranch &b : i->branches) {
                    expr(b.condition);
                    block(b.body);
                }
                if (i->else_body)
                    block(*i->else_body);
            } else if (const auto *f = s.as<Stmt::For>()) {
                const auto *range = f->iterable.as<Expr::Call>();
                ok = name_target(f->target) && !f->else_body && range && range->name == "range" &&
                     range->kwargs.empty();
                loops = true;
                if (ok)
                    for (const Expr &arg : range->args)
                        expr(arg);
                block(f->body);
            } else if (!s.as<Stmt::Pass>()) {
                ok = false;
            }
        }
    }
};

// One token of C text: an identifier, a number or a punctuator.
struct Token {
    enum Kind { Ident, Number, Punct } kind;
    std::string_view text;
};

bool tokenize_c(std::string_view s, std::vector<Token> &out) {
    static constexpr std::string_view kLong[] = {"<<=", ">>=", "->", "++", "--", "<<", ">>",
                                                 "<=",  ">=",  "==", "!=", "&&", "||", "+=",
                                                 "-=",  "*=",  "/=", "%=", "&=", "|=", "^="};
    size_t i = 0;
    auto ident_char = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    };
    while (i < s.size()) {
        char c = s[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (s.compare(i, 2, "/*") == 0) {
            size_t end = s.find("*/", i + 2);
            if (end == std::string_view::npos)
                return false;
            i = end + 2;
        } else if (std::isdigit(static_cast<unsigned char>(c)) ||
                   (c == '.' && i + 1 < s.size() &&
                    std::isdigit(static_cast<unsigned char>(s[i + 1])))) {
            size_t start = i;
            while (i < s.size() &&
                   (ident_char(s[i]) || s[i] == '.' ||
                    ((s[i] == '+' || s[i] == '-') && (s[i - 1] == 'e' || s[i - 1] == 'E'))))
                ++i;
            out.push_back({Token::Number, s.substr(start, i - start)});
        } else if (ident_char(c)) {
            size_t start = i;
            while (i < s.size() && ident_char(s[i]))
                ++i;
            out.push_back({Token::Ident, s.substr(start, i - start)});
        } else {
            size_t len = 1;
            for (std::string_view p : kLong)
                if (s.compare(i, p.size(), p) == 0) {
                    len = p.size();
                    break;
                }
            out.push_back({Token::Punct, s.substr(i, len)});
            i += len;
        }
    }
    return true;
}

bool is_local_name(std::string_view t) {
    return t.rfind("v_", 0) == 0 || (t.size() > 1 && t[0] == '_' && t[1] != '_');
}

} // namespace

bool deferral_candidate(const CodegenContext &ctx, const Stmt::For &loop, bool &nest) {
    CandidateScan scan{ctx};
    scan.block(loop.body);
    nest = scan.stores;
    return scan.ok && scan.divides && (!scan.stores || scan.loops);
}

bool effect_free_c(const CodegenContext &ctx, std::string_view text, bool function_body,
                   const std::set<std::string> &stored) {
    std::vector<Token> tokens;
    if (!tokenize_c(text, tokens))
        return false;
    static const std::unordered_set<std::string_view> kWords = {
        "double", "int64_t", "uint64_t", "bool", "int", "true", "false", "if", "else", "for"};
    static const std::unordered_set<std::string_view> kCalls = {
        "INT64_C", "ktl_fdiv_d", "ktl_dz_flag", "ktl_floordiv_c", "ktl_mod_c"};
    static const std::unordered_set<std::string_view> kStores = {
        "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>=", "++", "--"};
    auto at = [&](size_t i) -> std::string_view { return i < tokens.size() ? tokens[i].text : ""; };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind == Token::Number)
            continue;
        if (t.kind == Token::Ident) {
            bool called = at(i + 1) == "(";
            if (kWords.count(t.text) || (function_body && t.text == "return"))
                continue;
            if (i > 0 && at(i - 1) == "->") {
                if (t.text != "data" && t.text != "len")
                    return false;
            } else if (called) {
                bool variant = false;
                for (const auto &[name, v] : ctx.deferred_variants)
                    variant = variant || (v && v->c_name == t.text);
                if (!kCalls.count(t.text) && !variant)
                    return false;
            } else if (!is_local_name(t.text) && t.text != "ktl_dz") {
                return false;
            }
            continue;
        }
        std::string_view p = t.text;
        if (p == "." || p == "#" || p == "\"" || p == "'" || p == "\\")
            return false;
        if (kStores.count(p)) {
            // Only a local variable is assigned: `v = ...`, `T v = ...`,
            // `v++`; never an item, a field or what a pointer points at.
            // The one exception is `x->data[...] = ...` for a list in
            // `stored`.
            if (p == "=" && at(i - 1) == "]") {
                size_t j = i - 1;
                for (int depth = 0; j > 0; --j) {
                    depth += at(j) == "]" ? 1 : at(j) == "[" ? -1 : 0;
                    if (depth == 0)
                        break;
                }
                if (j >= 3 && at(j - 1) == "data" && at(j - 2) == "->" &&
                    stored.count(std::string(at(j - 3))) && at(j - 4) != "->" && at(j - 4) != "*" &&
                    at(j - 4) != "&")
                    continue;
            }
            if (i == 0 || tokens[i - 1].kind != Token::Ident || !is_local_name(at(i - 1)))
                return false;
            std::string_view before = i >= 2 ? at(i - 2) : "";
            if (before == "->" || before == "*" || before == "&")
                return false;
        }
    }
    return true;
}

namespace {

bool scalar_c_type(std::string_view t) {
    return t == "int64_t" || t == "double" || t == "bool" || t == "uint64_t" || t == "int";
}

// The variables C text declares with a scalar Type: name to Type.
std::map<std::string, std::string, std::less<>>
scalar_declarations(const std::vector<Token> &tokens) {
    std::map<std::string, std::string, std::less<>> out;
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!scalar_c_type(tokens[i].text) || tokens[i + 1].kind != Token::Ident)
            continue;
        std::string type(tokens[i].text);
        out[std::string(tokens[i + 1].text)] = type;
        int depth = 0;
        for (size_t j = i + 2; j < tokens.size(); ++j) {
            std::string_view t = tokens[j].text;
            if (t == "(" || t == "[" || t == "{")
                ++depth;
            else if (t == ")" || t == "]" || t == "}")
                --depth;
            if (depth < 0 || (depth == 0 && t == ";"))
                break;
            if (depth == 0 && t == "," && j + 1 < tokens.size() &&
                tokens[j + 1].kind == Token::Ident)
                out[std::string(tokens[j + 1].text)] = type;
        }
    }
    return out;
}

} // namespace

std::optional<LiftedNest> lift_nest(CodegenContext &ctx, std::string_view copy,
                                    const std::string &flag,
                                    const std::map<std::string, StoredSpan> &stored,
                                    std::string_view before) {
    std::vector<Token> tokens, earlier;
    if (!tokenize_c(copy, tokens) || !tokenize_c(before, earlier))
        return std::nullopt;
    auto inside = scalar_declarations(tokens);
    auto outside = scalar_declarations(earlier);
    // The Type of each C name; a name seen with two Types (a variable
    // widened on the way) is left out, and then the nest isn't lifted.
    std::map<std::string, std::optional<Type>, std::less<>> types;
    auto note = [&](const std::string &text, const Type &type) {
        auto [it, added] = types.emplace(text, type);
        if (!added && it->second && !(*it->second == type))
            it->second.reset();
    };
    const FunctionFrame &frame = ctx.frame();
    for (const auto &[name, var] : frame.locals)
        note(var.text, var.type);
    for (const auto &[type, text] : frame.declared_locals)
        note(text, type);
    auto at = [&](size_t i) -> std::string_view { return i < tokens.size() ? tokens[i].text : ""; };
    // The lists the text reads or writes (C text to element Type), and the
    // scalars it reads from outside (C name to C Type, and whether it
    // assigns them).
    std::map<std::string, std::string> lists;
    std::map<std::string, std::pair<std::string, bool>> scalars;
    std::string body;
    size_t copied = 0;
    auto replace = [&](size_t first, size_t last, const std::string &with) {
        size_t from = static_cast<size_t>(tokens[first].text.data() - copy.data());
        body.append(copy.substr(copied, from - copied));
        body += with;
        copied =
            static_cast<size_t>(tokens[last].text.data() - copy.data()) + tokens[last].text.size();
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.kind != Token::Ident)
            continue;
        if (t.text == flag) {
            if (i == 0 || at(i - 1) != "&")
                return std::nullopt;
            replace(i - 1, i, "ktl_dz");
            continue;
        }
        if (!is_local_name(t.text) || (i > 0 && at(i - 1) == "->") || inside.count(t.text))
            continue;
        std::string name(t.text);
        auto type = types.find(name);
        if (type != types.end() && !type->second)
            return std::nullopt;
        const auto *list = type != types.end() ? type->second->as<Type::List>() : nullptr;
        if (list) {
            std::string element = c_type_name(*list->element);
            if (!scalar_c_type(element) || name.rfind("v_", 0) != 0)
                return std::nullopt;
            lists[name] = element;
            std::string suffix = name.substr(2);
            bool wrapped = i > 0 && at(i - 1) == "(" && at(i + 1) == ")";
            size_t arrow = wrapped ? i + 2 : i + 1;
            if (at(arrow) == "->" && (at(arrow + 1) == "data" || at(arrow + 1) == "len")) {
                replace(wrapped ? i - 1 : i, arrow + 1,
                        (at(arrow + 1) == "data" ? "ktl_p_" : "ktl_n_") + suffix);
                i = arrow + 1;
            } else if (at(i + 1) == "&&") {
                replace(i, i, "(ktl_n_" + suffix + " >= 0)");
            } else {
                return std::nullopt;
            }
            continue;
        }
        std::string c_type;
        if (type != types.end())
            c_type = c_type_name(*type->second);
        else if (auto found = outside.find(name); found != outside.end())
            c_type = found->second;
        if (!scalar_c_type(c_type) || at(i + 1) == "(")
            return std::nullopt;
        static const std::set<std::string_view> kStores = {
            "=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>=", "++", "--"};
        bool assigned = kStores.count(at(i + 1)) || (i > 0 && kStores.count(at(i - 1)) &&
                                                     (at(i - 1) == "++" || at(i - 1) == "--"));
        auto &entry = scalars[name];
        entry.first = c_type;
        entry.second = entry.second || assigned;
    }
    body.append(copy.substr(copied));
    for (const auto &[list, span] : stored)
        if (!lists.count(list))
            return std::nullopt;

    std::string name = fmt::format("ktl_nest{}", ++ctx.nest_functions);
    std::string params = "int64_t *ktl_dz", args = "&" + flag, enter, leave, before_call,
                after_call, distinct, written_back;
    for (const auto &[list, element] : lists) {
        std::string suffix = list.substr(2);
        bool writes = stored.count(list) > 0;
        params += fmt::format(", {}{} *restrict ktl_p_{}, int64_t ktl_n_{}", writes ? "" : "const ",
                              element, suffix, suffix);
        args += fmt::format(", {0} ? {0}->data : NULL, {0} ? {0}->len : -1", list);
        if (writes) {
            const StoredSpan &span = stored.at(list);
            std::string kept = fresh_temp(ctx, "kept");
            std::string bytes = fmt::format("({}) * (int64_t)sizeof({})", span.count, element);
            std::string items = fmt::format("{}->data + ({})", list, span.first);
            before_call += fmt::format("void *{} = ktl_keep_items({}, {}); ", kept, items, bytes);
            after_call +=
                fmt::format(" ktl_release_items({}, {}, {}, {});", items, kept, bytes, flag);
            for (const auto &[other, unused] : lists)
                if (other != list && (!stored.count(other) || other > list))
                    distinct +=
                        fmt::format("{}{} != {}", distinct.empty() ? "" : " && ", list, other);
        }
    }
    for (const auto &[scalar, info] : scalars) {
        const auto &[c_type, assigned] = info;
        if (!assigned) {
            params += fmt::format(", {} {}", c_type, scalar);
            args += ", " + scalar;
            continue;
        }
        std::string held = fresh_temp(ctx, "w");
        params += fmt::format(", {} *ktl_w{}", c_type, scalar);
        args += ", &" + held;
        enter += fmt::format("    {0} {1} = *ktl_w{1};\n", c_type, scalar);
        leave += fmt::format("    *ktl_w{0} = {0};\n", scalar);
        before_call += fmt::format("{} {} = {}; ", c_type, held, scalar);
        written_back += fmt::format(" {} = {};", scalar, held);
    }
    std::string signature = fmt::format("static void {}({})", name, params);
    ctx.deferred_prototypes_text += signature + ";\n";
    ctx.deferred_variants_text += fmt::format("\n{} {{\n{}{}{}}}\n", signature, enter, body, leave);
    std::string call = fmt::format("{}{}({});{}", before_call, name, args, after_call);
    if (!written_back.empty())
        call += fmt::format(" if (!{}) {{{} }}", flag, written_back);
    return LiftedNest{call, distinct};
}

std::optional<CodegenContext::DeferredVariant> deferred_variant(CodegenContext &ctx,
                                                                const std::string &name,
                                                                const std::vector<Type> &key_types,
                                                                const std::string &c_name) {
    if (auto found = ctx.deferred_variants.find(c_name); found != ctx.deferred_variants.end())
        return found->second;
    // Only a settled instance keeps its text for good.
    InstanceKey key{name, key_types};
    auto texts = ctx.instance_texts.find(key);
    auto info = ctx.instances.find(key);
    if (texts == ctx.instance_texts.end() || ctx.unsettled_instances.count(key) ||
        info == ctx.instances.end() || info->second.c_name != c_name)
        return std::nullopt;
    const std::string &definition = texts->second.second;
    std::string head = c_name + "(";
    size_t name_at = definition.find(head);
    size_t open = definition.find('{');
    if (name_at == std::string::npos || open == std::string::npos || name_at > open ||
        definition.find("ktl_dp") != std::string::npos)
        return ctx.deferred_variants[c_name] = std::nullopt;
    std::string variant_name = c_name + "__dz";
    size_t params_at = name_at + head.size();
    std::string params = definition.substr(params_at, definition.rfind(')', open) - params_at);
    std::string signature = definition.substr(0, name_at) + variant_name + "(int64_t *ktl_dz" +
                            (params.empty() || params == "void" ? "" : ", " + params) + ")";
    std::string body = definition.substr(open);
    bool divides = false;
    for (size_t at = body.find("ktl_fdiv("); at != std::string::npos;
         at = body.find("ktl_fdiv(", at)) {
        body.replace(at, 9, "ktl_fdiv_d(ktl_dz, ");
        divides = true;
    }
    if (!effect_free_c(ctx, body, true, {}))
        return ctx.deferred_variants[c_name] = std::nullopt;
    ctx.deferred_prototypes_text += signature + ";\n";
    ctx.deferred_variants_text += "\n" + signature + " " + body;
    return ctx.deferred_variants[c_name] = CodegenContext::DeferredVariant{variant_name, divides};
}

DeferredScope::DeferredScope(FunctionFrame &frame, DeferredChecks state) : frame_(frame) {
    frame_.deferred = std::move(state);
}

DeferredScope::~DeferredScope() {
    frame_.deferred.reset();
}

} // namespace kestal
