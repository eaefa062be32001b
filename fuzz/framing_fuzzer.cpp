// Fuzz target over the language server's message framing: the first byte
// picks how many bytes each read hands out, the rest is the input. Reading
// must end (no endless loop on any input); every body must be at most the
// input's size; and a body framed again reads back unchanged.
#include "lsp/framing.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace kestal::lsp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t chunk = data[0] % 16 + 1;
    std::string input(reinterpret_cast<const char *>(data) + 1, size - 1);
    StringSource source(input, chunk);
    FrameReader reader(source);
    for (std::size_t frames = 0;; ++frames) {
        if (frames > input.size() + 1)
            std::abort();
        Frame frame = read_frame(reader);
        if (std::holds_alternative<FrameEnd>(frame))
            break;
        if (const FrameBody *body = std::get_if<FrameBody>(&frame)) {
            if (body->bytes.size() > input.size())
                std::abort();
            StringSource again_source(frame_message(body->bytes), chunk);
            FrameReader again(again_source);
            Frame reread = read_frame(again);
            const FrameBody *same = std::get_if<FrameBody>(&reread);
            if (!same || same->bytes != body->bytes)
                std::abort();
        }
    }
    return 0;
}
