// Deferred zero-divisor checks: which loops are tried (read from the tree),
// the check of an unchecked copy's C text, and the instance variants such
// copies call.
#include "codegen/stmt/deferred_checks.h"

#include "ast/traverse.h"

#include <cctype>
#include <unordered_set>

namespace kestal {

namespace {

struct CandidateScan {
    const CodegenContext &ctx;
    bool ok = true;
    bool divides = false;

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
                ok = name_target(a->target);
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

bool deferral_candidate(const CodegenContext &ctx, const Stmt::For &loop) {
    CandidateScan scan{ctx};
    scan.block(loop.body);
    return scan.ok && scan.divides;
}

bool effect_free_c(const CodegenContext &ctx, std::string_view text, bool function_body) {
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
            if (i == 0 || tokens[i - 1].kind != Token::Ident || !is_local_name(at(i - 1)))
                return false;
            std::string_view before = i >= 2 ? at(i - 2) : "";
            if (before == "->" || before == "*" || before == "&")
                return false;
        }
    }
    return true;
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
    if (!effect_free_c(ctx, body, true))
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
