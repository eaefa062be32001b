// Fuzz target over the JSON reader and the compact writer: any bytes give a
// value or an error text; a value read back from its own text is written
// the same way again.
#include "json/json.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char *>(data), size);
    kestal::JsonParseResult first = kestal::json_parse(text);
    if (!first.ok())
        return 0;
    std::string written = kestal::json_text(first.value());
    kestal::JsonParseResult second = kestal::json_parse(written);
    if (!second.ok() || kestal::json_text(second.value()) != written)
        std::abort();
    return 0;
}
