// Go to definition: where, in the same document, the identifier under the
// cursor is defined. Functions, classes, methods and statements come from
// the kept Program; what the tree does not keep (a parameter's position, a
// name on its header line, attributes assigned through self or declared in
// a class body) is found in the current text. Other files, modules and
// libraries are never searched.
#pragma once

#include "lsp/hover.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace kestal::lsp {

// A line index and a character index, both from 0.
struct Site {
    std::size_t line = 0;
    std::size_t character = 0;
    friend bool operator==(const Site &, const Site &) = default;
};

// The site of the name a `def` or `class` header declares on the 1-based
// line, or none when the line is missing or declares nothing.
std::optional<Site> find_def_line(const std::vector<std::string_view> &lines,
                                  std::uint64_t line_number, std::string_view keyword);

// The definition sites of the word under the cursor, in answer order.
std::vector<Site> definition_sites(const HoverContext &ctx, const CursorWord &word);

} // namespace kestal::lsp
