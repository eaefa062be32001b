// Definition sites. A parameter is found by scanning the def header from
// the function's name on, for at most kHeaderWindow lines and never past the
// line that ends the header with ':'. Attributes are found by scanning a
// class body for `self.word =` (or `self.word:`) and for `word:` fields.
#include "lsp/definition.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestal::lsp {

namespace {

constexpr std::size_t kHeaderWindow = 50;

std::optional<Site> from_source(std::optional<SourcePosition> position) {
    if (!position || position->first == 0 || position->second == 0)
        return std::nullopt;
    return Site{static_cast<std::size_t>(position->first - 1),
                static_cast<std::size_t>(position->second - 1)};
}

std::optional<Site> parameter_site(const HoverContext &ctx, const FuncDef &function,
                                   std::string_view word) {
    std::optional<Site> header = find_def_line(ctx.lines, function.line, "def");
    if (!header)
        return std::nullopt;
    Chars target = decode_chars(word);
    std::size_t last = std::min(ctx.lines.size(), header->line + kHeaderWindow);
    for (std::size_t li = header->line; li < last; ++li) {
        Chars chars = decode_chars(ctx.lines[li]);
        std::size_t from =
            li == header->line ? header->character + decode_chars(function.name).size() : 0;
        if (std::optional<std::size_t> hit = find_whole_word(chars, target, from))
            return Site{li, *hit};
        std::string_view rest = trim_end(ctx.lines[li]);
        if (!rest.empty() && rest.back() == ':')
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Site> plain_name_site(const HoverContext &ctx, std::string_view word) {
    if (ctx.enclosing) {
        if (const FuncDef *function = find_funcdef(ctx.program, *ctx.enclosing)) {
            if (param_named(*function, word))
                return parameter_site(ctx, *function, word);
            for (const Stmt &stmt : function->body)
                if (std::optional<Site> site = from_source(collect_assignment_sites(word, stmt)))
                    return site;
        }
    }
    for (const FuncDef &function : ctx.program.functions)
        if (function.name == word)
            return find_def_line(ctx.lines, function.line, "def");
    const ClassDef *cls = find_class(ctx.program, word);
    if (cls && !cls->is_builtin)
        return find_def_line(ctx.lines, cls->line, "class");
    for (const Stmt &stmt : ctx.program.statements)
        if (std::optional<Site> site = from_source(collect_assignment_sites(word, stmt)))
            return site;
    return std::nullopt;
}

// `self.word` followed by '=' (not "==") or ':' somewhere on the line.
std::optional<std::size_t> self_assignment(std::u32string_view chars, std::u32string_view pattern) {
    std::size_t from = 0;
    while (std::optional<std::size_t> hit = find_whole_word(chars, pattern, from)) {
        std::size_t i = *hit + pattern.size();
        while (i < chars.size() && is_white_space(chars[i]))
            ++i;
        bool assigns = i < chars.size() &&
                       (chars[i] == ':' ||
                        (chars[i] == '=' && (i + 1 >= chars.size() || chars[i + 1] != '=')));
        if (assigns)
            return *hit + 5;
        from = *hit + 1;
    }
    return std::nullopt;
}

// `word:` at the start of a class-body line (a declared field).
bool declares_field(std::string_view line, std::u32string_view word) {
    Chars rest = decode_chars(trim_start(line));
    if (rest.size() < word.size() || std::u32string_view(rest).substr(0, word.size()) != word)
        return false;
    std::size_t i = word.size();
    if (i < rest.size() && is_identifier_char(rest[i]))
        return false;
    while (i < rest.size() && is_white_space(rest[i]))
        ++i;
    return i < rest.size() && rest[i] == ':';
}

std::optional<Site> attribute_site(const HoverContext &ctx, const ClassDef &cls,
                                   std::string_view word) {
    std::optional<Site> header = find_def_line(ctx.lines, cls.line, "class");
    if (!header)
        return std::nullopt;
    std::size_t class_indent = indentation(ctx.lines[header->line]);
    Chars pattern = decode_chars(fmt::format("self.{}", word));
    Chars target = decode_chars(word);
    for (std::size_t li = header->line + 1; li < ctx.lines.size(); ++li) {
        std::string_view line = ctx.lines[li];
        if (!is_blank_or_comment(line) && indentation(line) <= class_indent)
            break;
        Chars chars = decode_chars(line);
        if (std::optional<std::size_t> at = self_assignment(chars, pattern))
            return Site{li, *at};
        if (declares_field(line, target))
            return Site{li, decode_chars(line.substr(0, indentation(line))).size()};
    }
    return std::nullopt;
}

std::vector<Site> member_sites(const HoverContext &ctx, const std::optional<std::string> &receiver,
                               std::string_view word) {
    std::vector<Site> sites;
    std::vector<const ClassDef *> found;
    for (const ClassDef *cls : receiver_class_name(ctx, receiver)) {
        const FuncDef *method = nullptr;
        for (const FuncDef &each : cls->methods)
            if (!method && each.name == word)
                method = &each;
        bool hidden = std::any_of(found.begin(), found.end(), [&](const ClassDef *done) {
            std::vector<const ClassDef *> chain = class_and_ancestors(ctx.program, done->name);
            return std::find(chain.begin(), chain.end(), cls) != chain.end();
        });
        if (method && !hidden) {
            if (std::optional<Site> site = find_def_line(ctx.lines, method->line, "def"))
                sites.push_back(*site);
            found.push_back(cls);
        }
        if (std::optional<Site> site = attribute_site(ctx, *cls, word))
            sites.push_back(*site);
    }
    return sites;
}

} // namespace

std::optional<Site> find_def_line(const std::vector<std::string_view> &lines,
                                  std::uint64_t line_number, std::string_view keyword) {
    if (line_number < 1 || line_number > lines.size())
        return std::nullopt;
    std::string_view line = lines[line_number - 1];
    std::optional<std::string> name = def_or_class_name(line, keyword);
    if (!name)
        return std::nullopt;
    // The name follows the indentation, the keyword and the blanks after it.
    std::string_view rest = trim_start(trim_start(line).substr(keyword.size()));
    std::size_t character = decode_chars(line.substr(0, line.size() - rest.size())).size();
    return Site{static_cast<std::size_t>(line_number - 1), character};
}

std::vector<Site> definition_sites(const HoverContext &ctx, const CursorWord &word) {
    if (word.receiver == CursorWord::Receiver::None) {
        std::optional<Site> site = plain_name_site(ctx, word.word);
        return site ? std::vector<Site>{*site} : std::vector<Site>{};
    }
    std::optional<std::string> receiver;
    if (word.receiver == CursorWord::Receiver::Name) {
        if (ctx.program.aliases.contains(word.receiver_name))
            return {};
        receiver = word.receiver_name;
    }
    return member_sites(ctx, receiver, word.word);
}

} // namespace kestal::lsp
