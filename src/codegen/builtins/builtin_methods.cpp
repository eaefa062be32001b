// The result-type rules of the method table, and the signature text the
// language server shows for a built-in method.
#include "codegen/builtins/builtin_methods.h"

#include <fmt/format.h>

namespace kestal {

std::optional<MethodReceiver> method_receiver_of(const Type &t) {
    if (t.is<Type::Str>())
        return MethodReceiver::Str;
    if (t.is<Type::List>())
        return MethodReceiver::List;
    if (t.is<Type::Dict>())
        return MethodReceiver::Dict;
    if (t.is<Type::Set>())
        return MethodReceiver::Set;
    if (t.is<Type::File>())
        return MethodReceiver::File;
    return std::nullopt;
}

namespace {

// A list's or a set's element.
Type element_of(const Type &receiver) {
    if (const auto *list = receiver.as<Type::List>())
        return *list->element;
    if (const auto *set = receiver.as<Type::Set>())
        return *set->element;
    return Type::no_value();
}

Type dict_key(const Type &receiver) {
    const auto *dict = receiver.as<Type::Dict>();
    return dict ? *dict->key : Type::no_value();
}

Type dict_value(const Type &receiver) {
    const auto *dict = receiver.as<Type::Dict>();
    return dict ? *dict->value : Type::no_value();
}

} // namespace

Type method_result_type(MethodResult rule, const Type &receiver) {
    switch (rule) {
    case MethodResult::NoValue:
        return Type::no_value();
    case MethodResult::Str:
        return Type::str();
    case MethodResult::Bool:
        return Type::bool_();
    case MethodResult::Int:
        return Type::int_();
    case MethodResult::StrList:
        return Type::list(Type::str());
    case MethodResult::StrTriple:
        return Type::tuple({Type::str(), Type::str(), Type::str()});
    case MethodResult::Item:
        return element_of(receiver);
    case MethodResult::Value:
        return dict_value(receiver);
    case MethodResult::OptionalValue:
        return make_optional(dict_value(receiver));
    case MethodResult::Receiver:
        return receiver;
    case MethodResult::KeyList:
        return Type::list(dict_key(receiver));
    case MethodResult::ValueList:
        return Type::list(dict_value(receiver));
    case MethodResult::ItemList:
        return Type::list(Type::tuple({dict_key(receiver), dict_value(receiver)}));
    }
    return Type::no_value();
}

std::string builtin_method_signature(const BuiltinMethod &method, const Type &receiver) {
    Type result = method_result_type(method.result, receiver);
    return fmt::format("def {}({}) -> {}", method.name, method.params,
                       result.is<Type::NoValue>() ? "None" : type_display(result));
}

} // namespace kestal
