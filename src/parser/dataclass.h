// Method synthesis for `@dataclass` classes: the module parser hands over a
// class's merged field list at the end of its body and gets `__init__`,
// `__repr__`, `__eq__` and, with `order=True`, `__lt__`/`__le__`/`__gt__`/
// `__ge__` appended to the class's methods as ordinary syntax trees. From
// then on only FuncDef::guards_repr, set on the synthesized `__repr__`,
// tells them apart from written methods.
#pragma once

#include "ast/program.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestal {

// Appends the synthesized methods to `methods` (the class's own written
// methods; a name already defined there is never synthesized) and returns the
// names of the synthesized comparison methods, in the order `__eq__`,
// `__lt__`, `__le__`, `__gt__`, `__ge__`, for `ClassDef::synthesized_comparisons`.
// `fields` is the merged field list, inherited fields first. `post_init`
// says the class or a base defines `__post_init__`, which the synthesized
// `__init__` then calls last. Every new node stands at `line`:`column` (the
// `class` keyword); copied field annotations and defaults keep their own
// positions. Never fails.
std::vector<std::string> synthesize_dataclass_methods(const std::string &class_name,
                                                      const std::vector<Param> &fields, bool order,
                                                      bool post_init, std::vector<FuncDef> &methods,
                                                      uint64_t line, uint64_t column);

} // namespace kestal
