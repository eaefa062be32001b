// Fuzz target over the whole `check` road: arbitrary bytes through the
// lexer, the parser and the code generator, on a big stack as the driver
// runs them. A CompileError is a normal end; anything else escaping, a
// crash, a leak or undefined behaviour is a finding.
//
// With KESTAL_FUZZ_SYNTAX_EVERY=N set, every N-th accepted input also has
// its C text checked by `gcc -fsyntax-only` and `clang -fsyntax-only`: C
// our compiler rejects is a finding too (slow: the CI pass asks for a
// sample of the accepted inputs).
#include "codegen/codegen.h"
#include "parser/parser.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/utf8.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The C text for the source, or nothing when it is rejected.
std::optional<std::string> check(const std::string &source) {
    try {
        kestal::Program program = kestal::parse_module(source);
        return kestal::compile_to_c(program, kestal::CodegenOptions{"fuzz.ktl", false});
    } catch (const kestal::CompileError &) {
        return std::nullopt;
    }
}

unsigned long syntax_every() {
    const char *text = std::getenv("KESTAL_FUZZ_SYNTAX_EVERY");
    return text ? std::strtoul(text, nullptr, 10) : 0;
}

void check_c_syntax(const std::string &c_text) {
    std::string path = fmt::format("/tmp/kestal-fuzz-{}.c", ::getpid());
    if (!kestal::platform::write_file(path, c_text, 0600))
        return;
    // clang's bracket depth is raised as the driver raises it.
    const std::vector<std::vector<std::string>> compilers = {
        {"gcc", "-fsyntax-only", "-std=gnu11", "-w", path},
        {"clang", "-fsyntax-only", "-std=gnu11", "-w", "-fbracket-depth=10000", path}};
    for (const auto &argv : compilers) {
        kestal::platform::Result<kestal::platform::CapturedRun> run =
            kestal::platform::run_captured(argv);
        if (run && !run->status.success()) {
            std::fprintf(stderr, "generated C rejected by %s (kept at %s):\n%s\n", argv[0].c_str(),
                         path.c_str(), run->err.c_str());
            std::abort();
        }
    }
    (void)kestal::platform::remove_file(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    std::string source(reinterpret_cast<const char *>(data), size);
    // The driver refuses text that is not UTF-8 before the front end sees it.
    if (!kestal::platform::is_valid_utf8(source))
        return -1;
    static const unsigned long every = syntax_every();
    static unsigned long accepted = 0;
    auto generated = kestal::platform::run_on_thread(kestal::platform::kBigStackBytes,
                                                     [&] { return check(source); });
    if (!generated)
        std::abort();
    if (*generated && every != 0 && ++accepted % every == 0)
        check_c_syntax(**generated);
    return 0;
}
