// Fuzz target over the library index reader: any bytes give entries or a
// message, never a crash, and every entry keeps the reader's promises (a
// valid name, a library.json among its files, every path inside the
// library's folder and every digest 64 lowercase hexadecimal digits).
#include "libraries/site.h"
#include "oracles.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool stays_inside(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/' ||
        path.find("//") != std::string_view::npos || path.find(':') != std::string_view::npos ||
        path.find('\\') != std::string_view::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t slash = path.find('/', start);
        std::string_view part = path.substr(start, slash - start);
        if (part == "." || part == "..")
            return false;
        if (slash == std::string_view::npos)
            return true;
        start = slash + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char *>(data), size);
    kestal::LibraryIndexResult result = kestal::read_library_index(body, "file:///i/index.json");
    if (!result.entries) {
        if (!result.error.starts_with("file:///i/index.json: "))
            std::abort();
        return 0;
    }
    for (const kestal::LibraryIndexEntry &entry : *result.entries) {
        if (!kestal::is_library_name(entry.name))
            std::abort();
        bool has_manifest = false;
        for (const kestal::IndexFile &file : entry.files) {
            if (!stays_inside(file.path) || !kestal::fuzz::is_lower_hex_digest(file.sha256))
                std::abort();
            has_manifest = has_manifest || file.path == "library.json";
        }
        if (!has_manifest)
            std::abort();
    }
    return 0;
}
