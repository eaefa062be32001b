// The forced-variable retry shared by function instances and the main body.
// Each repetition grows the forced map by one name (or gives a name a wider
// Type than before), and Types only widen, so the loop ends; the limit
// bounds how often one body is compiled again.
#include "codegen/core/widening.h"

#include <fmt/format.h>

namespace kestal {

WideningRequest variable_widening(const std::string &name, const Type &wider, uint64_t line,
                                  uint64_t column) {
    return WideningRequest{WideningRequest::Kind::Variable, name, wider, line, column};
}

WideningRequest return_widening(const Type &wider, uint64_t line, uint64_t column) {
    return WideningRequest{WideningRequest::Kind::Return, "", wider, line, column};
}

WideningRequest field_widening(const std::string &owner, const std::string &field, uint64_t line,
                               uint64_t column) {
    return WideningRequest{
        WideningRequest::Kind::Field, field, Type::float_(), line, column, owner};
}

WideningRequest early_field(const std::string &owner, const std::string &field, const Type &type,
                            uint64_t line, uint64_t column) {
    return WideningRequest{WideningRequest::Kind::EarlyField, field, type, line, column, owner};
}

FunctionFrame
compile_with_forced_variables(const std::function<FunctionFrame(const ForcedTypes &)> &attempt,
                              const std::function<void()> &undo) {
    ForcedTypes forced;
    for (;;) {
        try {
            return attempt(forced);
        } catch (WideningRequest &request) {
            if (request.kind != WideningRequest::Kind::Variable)
                throw;
            auto it = forced.find(request.name);
            if (it != forced.end() && it->second == request.wider)
                internal_fault("a forced variable Type was not applied");
            if (it == forced.end() && forced.size() >= kMaxForcedVariables)
                throw_error(
                    fmt::format("more than {} variables here need a wider type than their first "
                                "value gives; declare '{}' as {} at its first assignment",
                                kMaxForcedVariables, request.name, request.wider),
                    request.line, request.column);
            forced[request.name] = request.wider;
            undo();
        }
    }
}

} // namespace kestal
