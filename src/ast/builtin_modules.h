// The built-in modules, listed once: the modules an import accepts without a
// library, and what the code generator may do with each name. No module
// object exists at run time; `module.member` compiles to C directly.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace kestal {

enum BuiltinModuleTrait : uint8_t {
    // `module.member` reaches members at compile time (typing and
    // dataclasses only supply names to import and have none to call).
    kModuleHasMembers = 1 << 0,
    // The plain name stands for the module even where no import binds it.
    kModuleNamedWithoutImport = 1 << 1,
};

struct BuiltinModule {
    // `os.path` is the only dotted name.
    std::string_view name;
    uint8_t traits;

    constexpr bool has(BuiltinModuleTrait trait) const { return (traits & trait) != 0; }
};

// In the order the import error lists them.
inline constexpr std::array<BuiltinModule, 9> kBuiltinModules = {{
    {"math", kModuleHasMembers | kModuleNamedWithoutImport},
    {"time", kModuleHasMembers | kModuleNamedWithoutImport},
    {"random", kModuleHasMembers | kModuleNamedWithoutImport},
    {"sys", kModuleHasMembers | kModuleNamedWithoutImport},
    {"os", kModuleHasMembers | kModuleNamedWithoutImport},
    {"os.path", kModuleHasMembers},
    {"typing", 0},
    {"dataclasses", 0},
    {"parallel", kModuleHasMembers},
}};

// The table row of a built-in module, or null for any other name.
constexpr const BuiltinModule *find_builtin_module(std::string_view name) {
    for (const BuiltinModule &m : kBuiltinModules)
        if (m.name == name)
            return &m;
    return nullptr;
}

constexpr bool builtin_module_has(std::string_view name, BuiltinModuleTrait trait) {
    const BuiltinModule *m = find_builtin_module(name);
    return m && m->has(trait);
}

} // namespace kestal
