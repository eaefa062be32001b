// The transport and the main loop. The reader thread is detached and never
// joined: it may sit in a blocking read of standard input when the main loop
// returns, and the process then ends around it. It owns the source and the
// sending side of the channel through shared pointers, so nothing it uses
// is freed under it.
#include "lsp/server.h"

#include "platform/channel.h"

#include <csignal>
#include <cstdio>
#include <fmt/format.h>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace kestal::lsp {

namespace {

using Item = std::variant<JsonValue, LspInputError>;

void lsp_reader_thread(std::shared_ptr<ByteSource> input,
                       std::shared_ptr<platform::Channel<Item>> channel) {
    FrameReader reader(*input);
    for (;;) {
        LspInput next = read_lsp_message(reader);
        if (std::holds_alternative<LspInputEnd>(next))
            break;
        Item item = std::holds_alternative<JsonValue>(next)
                        ? Item(std::move(std::get<JsonValue>(next)))
                        : Item(std::move(std::get<LspInputError>(next)));
        if (!channel->send(std::move(item)))
            break;
    }
    channel->close();
}

} // namespace

LspInput read_lsp_message(FrameReader &reader) {
    Frame frame = read_frame(reader);
    if (auto *error = std::get_if<FrameError>(&frame))
        return LspInputError{std::move(error->text)};
    auto *body = std::get_if<FrameBody>(&frame);
    if (!body)
        return LspInputEnd{};
    JsonParseResult parsed = json_parse(body->bytes);
    if (!parsed)
        return LspInputError{parsed.error()};
    return std::move(parsed.value());
}

void write_lsp_message(const JsonValue &message) {
    static std::mutex stdout_lock;
    std::string framed = frame_message(json_text(message));
    std::lock_guard lock(stdout_lock);
    std::fwrite(framed.data(), 1, framed.size(), stdout);
    std::fflush(stdout);
}

// Waits for one item, takes every item queued behind it as the batch,
// handles the batch in order and then checks the changed documents.
int serve_lsp(std::shared_ptr<ByteSource> input, std::function<void(const JsonValue &)> send,
              std::function<void(std::string_view)> report) {
    auto channel = std::make_shared<platform::Channel<Item>>();
    try {
        std::thread(lsp_reader_thread, std::move(input), channel).detach();
    } catch (const std::system_error &) {
        report("kestal lsp: can't start the reader thread\n");
        return 1;
    }
    LspServer server;
    server.send = std::move(send);
    for (;;) {
        std::optional<Item> first = channel->receive();
        if (!first)
            break;
        std::vector<Item> batch;
        batch.push_back(std::move(*first));
        for (Item &more : channel->take_queued())
            batch.push_back(std::move(more));
        for (const Item &item : batch) {
            if (const auto *error = std::get_if<LspInputError>(&item)) {
                report(fmt::format("kestal lsp: {}\n", error->text));
                continue;
            }
            if (std::optional<int> code = dispatch_lsp_message(server, std::get<JsonValue>(item))) {
                channel->hang_up();
                return *code;
            }
        }
        std::vector<std::string> uris;
        for (const auto &[uri, doc] : server.documents)
            uris.push_back(uri);
        for (const std::string &uri : uris)
            check_document(server, uri);
    }
    return server.shutdown ? 0 : 1;
}

int run_lsp_server() {
    // A client that goes away must not kill the server in the middle of a
    // write: the write fails and the message is lost, as for any other
    // output error.
    std::signal(SIGPIPE, SIG_IGN);
    return serve_lsp(
        std::make_shared<FdSource>(STDIN_FILENO), [](const JsonValue &m) { write_lsp_message(m); },
        [](std::string_view text) {
            std::fwrite(text.data(), 1, text.size(), stderr);
            std::fflush(stderr);
        });
}

} // namespace kestal::lsp
