// Reading a library folder into a `Library`. The manifest is checked in a
// fixed order (name, version, link names, functions member by member,
// constants, then clashes between the two) and the first problem ends the
// load. A member whose value has another JSON kind than the one expected
// counts as absent, except where an absent member is itself an error.
//
// Every step returns its value or an error text; the wrapping of nested
// context ("function 'f': default of 'x': ...") happens on the way out.
#include "libraries/manifest.h"

#include "parser/expression_text.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "support/compile_error.h"
#include "support/text.h"
#include "json/json.h"

#include <fmt/format.h>

#include <utility>

namespace kestal {
namespace {

// No manifest or header comes near this size; the cap keeps a device or a
// runaway file in a library folder from exhausting the memory.
constexpr std::size_t kMaxLibraryFileBytes = std::size_t{32} << 20;

const std::string kTypeList = "int, float, bool, str, None, list[int], list[float], list[bool], "
                              "list[str]";

std::optional<Type> scalar_type(std::string_view text) {
    if (text == "int")
        return Type::int_();
    if (text == "float")
        return Type::float_();
    if (text == "bool")
        return Type::bool_();
    if (text == "str")
        return Type::str();
    return std::nullopt;
}

// Reads the file's text into `text`; returns the system's reason when it
// can't be read.
std::optional<std::string> read_text(const std::string &path, std::string &text) {
    platform::Result<std::string> bytes = platform::read_file(path, kMaxLibraryFileBytes);
    if (!bytes)
        return bytes.error().text;
    if (!platform::is_valid_utf8(*bytes))
        return std::string("stream did not contain valid UTF-8");
    text = std::move(*bytes);
    return std::nullopt;
}

bool is_link_name(const JsonValue &value) {
    const std::string *text = value.string_if();
    if (text == nullptr || text->empty())
        return false;
    for (char c : *text) {
        bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

// One element of "args", appended to `params` when it is sound.
std::optional<std::string> read_param(const JsonValue &element, std::vector<LibraryParam> &params) {
    const JsonArray *parts = element.array_if();
    if (parts == nullptr || parts->size() < 2 || (*parts)[0].string_if() == nullptr ||
        (*parts)[1].string_if() == nullptr)
        return std::string("each of \"args\" is [name, type] or [name, type, default]");
    const std::string &name = *(*parts)[0].string_if();
    LibraryResult<Type> type = parse_library_type(*(*parts)[1].string_if());
    if (auto *error = std::get_if<std::string>(&type))
        return *error;
    LibraryParam param{name, std::get<Type>(std::move(type)), std::nullopt};
    if (param.type.is<Type::NoValue>())
        return fmt::format("argument '{}' can't be None", name);
    if (parts->size() >= 3) {
        // A default of another kind reads as an empty text, which then fails
        // to parse and is reported like any other bad default.
        const std::string *text = (*parts)[2].string_if();
        std::string default_text = text != nullptr ? *text : std::string();
        LibraryResult<Expr> expr = check_default_literal(default_text, param.type);
        if (auto *error = std::get_if<std::string>(&expr))
            return fmt::format("default of '{}': {}", name, *error);
        param.default_value = LibraryDefault{default_text, std::get<Expr>(std::move(expr))};
    } else if (!params.empty() && params.back().default_value) {
        return fmt::format("argument '{}' has no default but comes after one that does", name);
    }
    if (params_contain_name(params, name))
        return fmt::format("argument '{}' is listed twice", name);
    params.push_back(std::move(param));
    return std::nullopt;
}

// One member of "functions"; its value need not be an object (a value of
// another kind simply has none of the keys).
LibraryResult<LibraryFunction> read_function(const JsonValue &value) {
    LibraryFunction function;
    const std::string *returns = json_get(value, "returns").string_if();
    LibraryResult<Type> type = parse_library_type(returns != nullptr ? *returns : "None");
    if (auto *error = std::get_if<std::string>(&type))
        return *error;
    function.returns = std::get<Type>(std::move(type));
    const std::string *c = json_get(value, "c").string_if();
    if (c == nullptr || !is_c_identifier(*c))
        return std::string("\"c\" must be the C function's name");
    function.c = *c;
    if (const JsonArray *args = json_get(value, "args").array_if()) {
        for (const JsonValue &element : *args) {
            if (auto error = read_param(element, function.params))
                return std::move(*error);
        }
    }
    function.thread_safe = json_get(value, "thread_safe").bool_if().value_or(false);
    return function;
}

std::optional<std::string> read_functions(const JsonValue &manifest, Library &library) {
    const JsonValue &functions = json_get(manifest, "functions");
    if (functions.is_null())
        return std::nullopt;
    const JsonObject *members = functions.object_if();
    if (members == nullptr)
        return std::string("\"functions\" must be an object");
    for (const JsonMember &member : *members) {
        LibraryResult<LibraryFunction> function = read_function(member.value);
        if (auto *error = std::get_if<std::string>(&function))
            return fmt::format("function '{}': {}", member.key, *error);
        // A name given twice: the later member wins.
        library.functions.insert_or_assign(member.key,
                                           std::get<LibraryFunction>(std::move(function)));
    }
    return std::nullopt;
}

std::optional<std::string> read_constants(const JsonValue &manifest, Library &library) {
    const JsonObject *members = json_get(manifest, "constants").object_if();
    if (members == nullptr)
        return std::nullopt;
    for (const JsonMember &member : *members) {
        const JsonArray *parts = member.value.array_if();
        if (parts == nullptr || parts->size() < 2 || (*parts)[0].string_if() == nullptr ||
            (*parts)[1].string_if() == nullptr)
            return fmt::format("constant '{}': expected [type, C expression]", member.key);
        LibraryResult<Type> type = parse_library_type(*(*parts)[0].string_if());
        if (auto *error = std::get_if<std::string>(&type))
            return fmt::format("constant '{}': {}", member.key, *error);
        library.constants.insert_or_assign(
            member.key, LibraryConstant{std::get<Type>(std::move(type)),
                                        fmt::format("({})", *(*parts)[1].string_if())});
    }
    return std::nullopt;
}

// Everything the manifest says, in the order the checks run; errors come
// back without the manifest-path prefix.
std::optional<std::string> read_manifest(std::string_view name, const JsonValue &manifest,
                                         Library &library) {
    if (manifest.object_if() == nullptr)
        return std::string("expected an object");
    const std::string *declared = json_get(manifest, "name").string_if();
    if (declared == nullptr)
        return std::string("\"name\" is missing");
    if (*declared != name)
        return fmt::format("\"name\" is '{}' but the folder is '{}'", *declared, name);
    const std::string *version = json_get(manifest, "version").string_if();
    if (version == nullptr)
        return std::string("\"version\" is missing");
    library.version = *version;
    if (const JsonArray *links = json_get(manifest, "link").array_if()) {
        for (const JsonValue &link : *links) {
            if (!is_link_name(link))
                return std::string("\"link\" must be a list of C library names");
            library.links.push_back(*link.string_if());
        }
    }
    if (auto error = read_functions(manifest, library))
        return error;
    if (auto error = read_constants(manifest, library))
        return error;
    if (auto clash = find_function_constant_clash(library.functions, library.constants))
        return fmt::format("'{}' is both a function and a constant", *clash);
    return std::nullopt;
}

// True when the expression is `-` applied to a literal of the kind K.
template <class K> bool is_negated(const Expr &expr) {
    const auto *unary = expr.as<Expr::Unary>();
    return unary != nullptr && unary->op == UnaryOp::Neg && unary->operand->is<K>();
}

bool is_literal_of(const Expr &expr, const Type &type) {
    bool is_int = expr.is<Expr::Int>() || is_negated<Expr::Int>(expr);
    bool is_float = expr.is<Expr::Float>() || is_negated<Expr::Float>(expr);
    switch (type.tag()) {
    case TypeKind::Int:
        return is_int;
    case TypeKind::Float:
        return is_int || is_float;
    case TypeKind::Str:
        return expr.is<Expr::Str>();
    case TypeKind::Bool:
        return expr.is<Expr::Bool>();
    case TypeKind::List: {
        const auto *list = expr.as<Expr::List>();
        return list != nullptr && list->elements.empty();
    }
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::Class:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    return false;
}

} // namespace

LibraryResult<Type> parse_library_type(std::string_view text) {
    std::string_view trimmed = trim(text);
    if (auto scalar = scalar_type(trimmed))
        return *scalar;
    if (trimmed == "None")
        return Type::no_value();
    constexpr std::string_view kList = "list[";
    if (trimmed.starts_with(kList) && trimmed.ends_with(']')) {
        std::string_view inner = trimmed.substr(kList.size(), trimmed.size() - kList.size() - 1);
        if (auto element = scalar_type(trim(inner)))
            return Type::list(*element);
    }
    return fmt::format("type '{}' isn't supported ({})", trimmed, kTypeList);
}

LibraryResult<Expr> check_default_literal(std::string_view text, const Type &type) {
    Expr expr;
    try {
        expr = parse_expression_text(text);
    } catch (const CompileError &error) {
        return error.message;
    }
    if (!is_literal_of(expr, type))
        return fmt::format("'{}' isn't a {} literal", text, type);
    return expr;
}

bool is_c_identifier(std::string_view text) {
    if (text.empty())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!letter && !(digit && i > 0))
            return false;
    }
    return true;
}

bool params_contain_name(const std::vector<LibraryParam> &params, std::string_view name) {
    for (const LibraryParam &param : params) {
        if (param.name == name)
            return true;
    }
    return false;
}

std::optional<std::string>
find_function_constant_clash(const std::map<std::string, LibraryFunction> &functions,
                             const std::map<std::string, LibraryConstant> &constants) {
    for (const auto &[name, function] : functions) {
        if (constants.contains(name))
            return name;
    }
    return std::nullopt;
}

LibraryResult<Library> load_library(std::string_view name, const std::filesystem::path &folder) {
    std::string manifest_path = (folder / "library.json").string();
    auto fail = [&](std::string_view message) {
        return LibraryResult<Library>(fmt::format("{}: {}", manifest_path, message));
    };
    std::string text;
    if (auto error = read_text(manifest_path, text))
        return fail(fmt::format("can't read it ({})", *error));
    JsonParseResult manifest = json_parse(text);
    if (!manifest)
        return fail(fmt::format("not valid JSON: {}", manifest.error()));

    Library library;
    if (auto error = read_manifest(name, manifest.value(), library))
        return fail(*error);

    std::string header_path = (folder / fmt::format("{}.h", name)).string();
    if (auto error = read_text(header_path, library.header))
        return fmt::format("{}: can't read it ({})", header_path, *error);
    library.name = std::string(name);
    library.folder = folder;
    return library;
}

} // namespace kestal
