// Hover texts. The Program says what is declared where; the analysis says
// which Types each compiled instance gave its parameters and locals. A
// function never called has no instance, so its hover falls back to the
// annotations and says it was not type-checked.
#include "lsp/hover.h"

#include "codegen/builtins/builtin_methods.h"

#include <algorithm>
#include <fmt/format.h>
#include <fmt/ranges.h>

namespace kestal::lsp {

namespace {

std::string_view after_last_dot(std::string_view key) {
    std::size_t dot = key.rfind('.');
    return dot == std::string_view::npos ? key : key.substr(dot + 1);
}

bool contains(const std::vector<const ClassDef *> &classes, const ClassDef *cls) {
    return std::find(classes.begin(), classes.end(), cls) != classes.end();
}

const FuncDef *own_method(const ClassDef &cls, std::string_view name) {
    for (const FuncDef &method : cls.methods)
        if (method.name == name)
            return &method;
    return nullptr;
}

const ClassSummary *class_entry(const DocumentAnalysis &analysis, std::string_view name) {
    for (const ClassSummary &entry : analysis.classes)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

const Type *entry_attribute(const ClassSummary &entry, std::string_view name) {
    for (const auto &[field, type] : entry.attributes)
        if (field == name)
            return &type;
    return nullptr;
}

std::optional<SourcePosition> first_site_in(std::string_view name, const std::vector<Stmt> &body) {
    for (const Stmt &stmt : body)
        if (std::optional<SourcePosition> site = collect_assignment_sites(name, stmt))
            return site;
    return std::nullopt;
}

std::optional<SourcePosition> first_site_in(std::string_view name,
                                            const std::optional<std::vector<Stmt>> &body) {
    return body ? first_site_in(name, *body) : std::nullopt;
}

// "(class constant) C.NAME = <value>": the value's source text from its
// line of the current text, up to a trailing comment.
std::string class_constant_text(const HoverContext &ctx, const ClassDef &cls,
                                const ClassConstant &constant) {
    std::string value;
    if (constant.value.line >= 1 && constant.value.line <= ctx.lines.size()) {
        Chars chars = decode_chars(ctx.lines[constant.value.line - 1]);
        std::size_t from = std::min<std::size_t>(
            constant.value.column == 0 ? 0 : constant.value.column - 1, chars.size());
        std::string rest = encode_chars(std::u32string_view(chars).substr(from));
        std::size_t comment = rest.find(" #");
        if (comment != std::string::npos)
            rest.erase(comment);
        value = std::string(trim(rest));
    }
    return markdown_block(
        fmt::format("(class constant) {}.{} = {}", cls.name, constant.name, value));
}

std::string variable_entry_text(const HoverContext &ctx, std::string_view word,
                                const LocalTypeEntry &entry) {
    if (entry.instance == nullptr)
        return fmt::format("{}: {}", word, type_display(entry.type));
    std::string signature = def_signature_text(ctx, entry.instance->name, entry.instance);
    if (signature.starts_with("def "))
        signature.erase(0, 4);
    return fmt::format("{}: {}    # in {}", word, type_display(entry.type), signature);
}

// The nearest code line above `index` that is less indented than it.
std::optional<std::size_t> nearest_outer_line(const std::vector<std::string_view> &lines,
                                              std::size_t index) {
    std::size_t indent = indentation(lines[index]);
    for (std::size_t j = index; j > 0;) {
        --j;
        if (!is_blank_or_comment(lines[j]) && indentation(lines[j]) < indent)
            return j;
    }
    return std::nullopt;
}

bool assigns_in_function(const FuncDef &function, std::string_view word) {
    return param_named(function, word) || first_site_in(word, function.body).has_value();
}

// A method or attribute of a built-in value: the receiver's Types are all
// ones with built-in methods (a str, a list, a dict, a set, a file), and the
// table of that kind has the word. One line per receiver Type.
std::optional<std::string>
builtin_member_hover(const HoverContext &ctx, const std::string &receiver, std::string_view word) {
    std::vector<LocalTypeEntry> entries = local_types_of(ctx, receiver);
    if (entries.empty())
        return std::nullopt;
    std::vector<std::string> lines;
    std::vector<std::string> kinds;
    for (const LocalTypeEntry &entry : entries) {
        std::optional<MethodReceiver> kind = method_receiver_of(entry.type);
        if (!kind)
            return std::nullopt;
        std::string line;
        if (const BuiltinMethod *method = find_builtin_method(*kind, word))
            line = builtin_method_signature(*method, entry.type);
        else if (const BuiltinAttribute *attribute = find_builtin_attribute(*kind, word))
            line = fmt::format("{}.{}: {}", type_display(entry.type), word,
                               type_display(method_result_type(attribute->result, entry.type)));
        else
            return std::nullopt;
        if (std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(line);
        std::string shown = type_display(entry.type);
        if (std::find(kinds.begin(), kinds.end(), shown) == kinds.end())
            kinds.push_back(shown);
    }
    std::string text = markdown_block(fmt::format("{}", fmt::join(lines, "\n")));
    if (lines.front().starts_with("def "))
        text = fmt::format("(method of {})\n{}", fmt::join(kinds, ", "), text);
    return text;
}

} // namespace

std::string markdown_block(std::string_view text) {
    return fmt::format("```kestal\n{}\n```", text);
}

const FuncDef *find_funcdef(const Program &program, std::string_view key) {
    std::size_t dot = key.find('.');
    if (dot != std::string_view::npos) {
        const ClassDef *cls = find_class(program, key.substr(0, dot));
        return cls ? own_method(*cls, key.substr(dot + 1)) : nullptr;
    }
    for (const FuncDef &function : program.functions)
        if (function.name == key)
            return &function;
    return nullptr;
}

const ClassDef *find_class(const Program &program, std::string_view name) {
    for (const ClassDef &cls : program.classes)
        if (cls.name == name)
            return &cls;
    return nullptr;
}

std::vector<const ClassDef *> class_and_ancestors(const Program &program, std::string_view name) {
    std::vector<const ClassDef *> chain;
    for (const ClassDef *cls = find_class(program, name); cls && !contains(chain, cls);) {
        chain.push_back(cls);
        if (!cls->base)
            break;
        cls = find_class(program, *cls->base);
    }
    return chain;
}

bool param_named(const FuncDef &function, std::string_view name) {
    return std::any_of(function.params.begin(), function.params.end(),
                       [&](const Param &param) { return param.name == name; });
}

std::optional<SourcePosition> find_assignment_in_target(std::string_view name, const Expr &target) {
    if (const Expr::Name *n = target.as<Expr::Name>())
        return n->name == name ? std::optional(SourcePosition{target.line, target.column})
                               : std::nullopt;
    const std::vector<Expr> *elements = nullptr;
    if (const Expr::Tuple *tuple = target.as<Expr::Tuple>())
        elements = &tuple->elements;
    else if (const Expr::List *list = target.as<Expr::List>())
        elements = &list->elements;
    if (elements)
        for (const Expr &element : *elements)
            if (std::optional<SourcePosition> site = find_assignment_in_target(name, element))
                return site;
    return std::nullopt;
}

// Statements are searched in source order, nested bodies included, so the
// first site is the first assignment a reader meets.
std::optional<SourcePosition> collect_assignment_sites(std::string_view name, const Stmt &stmt) {
    std::optional<SourcePosition> site;
    auto first = [&](std::optional<SourcePosition> found) {
        if (!site)
            site = found;
    };
    if (const auto *assign = stmt.as<Stmt::Assign>()) {
        first(find_assignment_in_target(name, assign->target));
    } else if (const auto *unpack = stmt.as<Stmt::Unpack>()) {
        for (const Expr &target : unpack->targets)
            first(find_assignment_in_target(name, target));
    } else if (const auto *aug = stmt.as<Stmt::AugAssign>()) {
        first(find_assignment_in_target(name, aug->target));
    } else if (const auto *if_stmt = stmt.as<Stmt::If>()) {
        for (const IfBranch &branch : if_stmt->branches)
            first(first_site_in(name, branch.body));
        first(first_site_in(name, if_stmt->else_body));
    } else if (const auto *while_stmt = stmt.as<Stmt::While>()) {
        first(first_site_in(name, while_stmt->body));
        first(first_site_in(name, while_stmt->else_body));
    } else if (const auto *for_stmt = stmt.as<Stmt::For>()) {
        first(find_assignment_in_target(name, for_stmt->target));
        first(first_site_in(name, for_stmt->body));
        first(first_site_in(name, for_stmt->else_body));
    } else if (const auto *with = stmt.as<Stmt::With>()) {
        for (const WithItem &item : with->items)
            if (item.target)
                first(find_assignment_in_target(name, *item.target));
        first(first_site_in(name, with->body));
    } else if (const auto *try_stmt = stmt.as<Stmt::Try>()) {
        first(first_site_in(name, try_stmt->body));
        for (const ExceptHandler &handler : try_stmt->handlers)
            first(first_site_in(name, handler.body));
        first(first_site_in(name, try_stmt->else_body));
        first(first_site_in(name, try_stmt->finally_body));
    }
    return site;
}

std::vector<LocalTypeEntry> local_types_of(const HoverContext &ctx, std::string_view name) {
    std::vector<LocalTypeEntry> entries;
    if (ctx.enclosing) {
        for (const InstanceSummary &instance : ctx.analysis.instances) {
            if (instance.name != *ctx.enclosing)
                continue;
            for (const auto &[local, type] : instance.locals) {
                if (local == name) {
                    entries.push_back(LocalTypeEntry{&instance, type});
                    break;
                }
            }
        }
        if (!entries.empty())
            return entries;
    }
    for (const auto &[variable, type] : ctx.analysis.variables)
        if (variable == name)
            entries.push_back(LocalTypeEntry{nullptr, type});
    return entries;
}

std::vector<const ClassDef *> receiver_class_name(const HoverContext &ctx,
                                                  const std::optional<std::string> &receiver) {
    std::vector<const ClassDef *> every;
    for (const ClassDef &cls : ctx.program.classes)
        every.push_back(&cls);
    if (!receiver)
        return every;
    std::vector<LocalTypeEntry> entries = local_types_of(ctx, *receiver);
    if (entries.empty() && find_class(ctx.program, *receiver))
        return class_and_ancestors(ctx.program, *receiver);
    std::optional<std::string> only;
    bool several = false;
    for (const LocalTypeEntry &entry : entries) {
        const Type *type = &entry.type;
        if (const Type::Optional *optional = type->as<Type::Optional>())
            type = &*optional->inner;
        const Type::Class *cls = type->as<Type::Class>();
        if (!cls)
            continue;
        if (only && *only != cls->name)
            several = true;
        only = cls->name;
    }
    if (only && !several)
        return class_and_ancestors(ctx.program, *only);
    return every;
}

std::string def_signature_text(const HoverContext &ctx, std::string_view key,
                               const InstanceSummary *instance) {
    std::string_view name = after_last_dot(key);
    const FuncDef *function = find_funcdef(ctx.program, key);
    if (!function)
        return fmt::format("def {}(...)", name);
    bool method = key.find('.') != std::string_view::npos;
    std::vector<std::string> params;
    for (std::size_t i = 0; i < function->params.size(); ++i) {
        const Param &param = function->params[i];
        std::optional<Type> type;
        if (i == 0 && method && param.name == "self")
            type = std::nullopt;
        else if (instance && instance->argument_types.size() > i)
            type = instance->argument_types[i];
        else
            type = param.annotation;
        params.push_back(type ? fmt::format("{}: {}", param.name, type_display(*type))
                              : param.name);
    }
    std::string returns;
    if (instance)
        returns = fmt::format(" -> {}", type_display(instance->return_type));
    else if (function->return_type)
        returns = fmt::format(" -> {}", type_display(*function->return_type));
    return fmt::format("def {}({}){}", name, fmt::join(params, ", "), returns);
}

std::string hover_function(const HoverContext &ctx, std::string_view key) {
    std::string text;
    std::size_t dot = key.find('.');
    if (dot != std::string_view::npos)
        text = fmt::format("(method of {})\n", key.substr(0, dot));
    std::vector<std::string> signatures;
    for (const InstanceSummary &instance : ctx.analysis.instances)
        if (instance.name == key)
            signatures.push_back(def_signature_text(ctx, key, &instance));
    if (signatures.empty())
        return text + markdown_block(def_signature_text(ctx, key, nullptr)) +
               "\n\nNot type-checked: it is never called (Kestal compiles a function once per set "
               "of argument types it is called with).";
    text += markdown_block(fmt::format("{}", fmt::join(signatures, "\n")));
    if (signatures.size() != 1)
        text +=
            fmt::format("\n\n{} instances, one per argument-type signature.", signatures.size());
    return text;
}

std::string hover_class(const Program &program, const DocumentAnalysis &analysis,
                        const ClassDef &cls) {
    std::vector<std::string> lines;
    lines.push_back(cls.base ? fmt::format("class {}({})", cls.name, *cls.base)
                             : fmt::format("class {}", cls.name));
    for (const ClassDef *each : class_and_ancestors(program, cls.name))
        if (const ClassSummary *entry = class_entry(analysis, each->name))
            for (const auto &[field, type] : entry->attributes)
                lines.push_back(fmt::format("    {}: {}", field, type_display(type)));
    std::string text = markdown_block(fmt::format("{}", fmt::join(lines, "\n")));
    if (cls.is_builtin)
        text += "\n\nBuilt-in exception.";
    return text;
}

std::string library_function_hover(std::string_view display_name, const LibraryFunction &function) {
    std::vector<std::string> params;
    for (const LibraryParam &param : function.params)
        params.push_back(param.default_value
                             ? fmt::format("{}: {} = {}", param.name, type_display(param.type),
                                           param.default_value->text)
                             : fmt::format("{}: {}", param.name, type_display(param.type)));
    std::string returns =
        function.returns.is<Type::NoValue>() ? "None" : type_display(function.returns);
    return fmt::format("def {}({}) -> {}", display_name, fmt::join(params, ", "), returns);
}

// Sections in order: a module member, then methods of the candidate
// classes (a subclass's method hides its bases'), then fields and class
// constants; several sections are joined by a rule.
std::optional<std::string> hover_member(const HoverContext &ctx,
                                        const std::optional<std::string> &receiver,
                                        std::string_view word) {
    if (receiver) {
        auto alias = ctx.program.aliases.find(*receiver);
        if (alias != ctx.program.aliases.end() && local_types_of(ctx, *receiver).empty()) {
            const std::string &module = alias->second;
            auto library = ctx.program.libraries.find(module);
            if (library != ctx.program.libraries.end()) {
                const Library &lib = library->second;
                auto function = lib.functions.find(std::string(word));
                if (function != lib.functions.end())
                    return fmt::format("{}\n\nLibrary {} {} ({}).",
                                       markdown_block(library_function_hover(
                                           fmt::format("{}.{}", lib.name, word), function->second)),
                                       lib.name, lib.version, lib.folder.string());
                auto constant = lib.constants.find(std::string(word));
                if (constant != lib.constants.end())
                    return markdown_block(fmt::format("{}.{}: {}", lib.name, word,
                                                      type_display(constant->second.type)));
            }
            return markdown_block(fmt::format("{}.{}", module, word));
        }
    }
    if (receiver)
        if (std::optional<std::string> builtin = builtin_member_hover(ctx, *receiver, word))
            return builtin;
    std::vector<const ClassDef *> candidates = receiver_class_name(ctx, receiver);
    std::vector<std::string> sections;
    std::vector<const ClassDef *> reported;
    for (const ClassDef *cls : candidates) {
        if (!own_method(*cls, word))
            continue;
        bool hidden = std::any_of(reported.begin(), reported.end(), [&](const ClassDef *done) {
            return contains(class_and_ancestors(ctx.program, done->name), cls);
        });
        if (hidden)
            continue;
        sections.push_back(hover_function(ctx, fmt::format("{}.{}", cls->name, word)));
        reported.push_back(cls);
    }
    for (const ClassDef *cls : candidates) {
        if (const ClassSummary *entry = class_entry(ctx.analysis, cls->name))
            if (const Type *type = entry_attribute(*entry, word))
                sections.push_back(markdown_block(
                    fmt::format("(field) {}.{}: {}", cls->name, word, type_display(*type))));
        for (const ClassConstant &constant : cls->constants) {
            if (constant.name == word) {
                sections.push_back(class_constant_text(ctx, *cls, constant));
                break;
            }
        }
    }
    if (sections.empty())
        return std::nullopt;
    return fmt::format("{}", fmt::join(sections, "\n\n---\n\n"));
}

// The cases in order of precedence; the first that applies decides.
std::optional<std::string> hover_text(const HoverContext &ctx, const CursorWord &word) {
    if (word.receiver != CursorWord::Receiver::None) {
        std::optional<std::string> receiver;
        if (word.receiver == CursorWord::Receiver::Name)
            receiver = word.receiver_name;
        return hover_member(ctx, receiver, word.word);
    }
    std::string_view line = ctx.lines[ctx.cursor_line];
    if (def_or_class_name(line, "def") == word.word)
        return ctx.enclosing ? std::optional(hover_function(ctx, *ctx.enclosing)) : std::nullopt;
    if (def_or_class_name(line, "class") == word.word) {
        const ClassDef *cls = find_class(ctx.program, word.word);
        return cls ? std::optional(hover_class(ctx.program, ctx.analysis, *cls)) : std::nullopt;
    }
    if (!ctx.enclosing && !is_blank_or_comment(line) && ctx.cursor_line > 0 &&
        indentation(line) > 0) {
        std::optional<std::size_t> outer = nearest_outer_line(ctx.lines, ctx.cursor_line);
        std::optional<std::string> cls =
            outer ? def_or_class_name(ctx.lines[*outer], "class") : std::nullopt;
        if (cls && trim_start(line).starts_with(word.word))
            return hover_member(ctx, cls, word.word);
    }
    std::vector<LocalTypeEntry> entries = local_types_of(ctx, word.word);
    if (!entries.empty()) {
        bool all_equal = std::all_of(entries.begin(), entries.end(), [&](const LocalTypeEntry &e) {
            return e.type == entries.front().type;
        });
        if (all_equal)
            return markdown_block(
                fmt::format("{}: {}", word.word, type_display(entries.front().type)));
        std::vector<std::string> lines;
        for (const LocalTypeEntry &entry : entries)
            lines.push_back(variable_entry_text(ctx, word.word, entry));
        return markdown_block(fmt::format("{}", fmt::join(lines, "\n")));
    }
    if (find_funcdef(ctx.program, word.word) && word.word.find('.') == std::string::npos)
        return hover_function(ctx, word.word);
    if (const ClassDef *cls = find_class(ctx.program, word.word))
        return hover_class(ctx.program, ctx.analysis, *cls);
    if (ctx.enclosing) {
        bool called = std::any_of(
            ctx.analysis.instances.begin(), ctx.analysis.instances.end(),
            [&](const InstanceSummary &instance) { return instance.name == *ctx.enclosing; });
        const FuncDef *function = find_funcdef(ctx.program, *ctx.enclosing);
        if (!called && function && assigns_in_function(*function, word.word))
            return fmt::format("{}\n\nType unknown: {}() is never called, so it isn't "
                               "type-checked.",
                               markdown_block(word.word), after_last_dot(*ctx.enclosing));
    }
    auto alias = ctx.program.aliases.find(word.word);
    if (alias != ctx.program.aliases.end())
        return markdown_block(fmt::format("(module) {}", alias->second));
    return std::nullopt;
}

} // namespace kestal::lsp
