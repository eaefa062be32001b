// The checks of `kestal doctor`, each printed as one line of the report as
// soon as it is known.
#include "main/doctor.h"

#include "main/build_cache.h"
#include "main/c_compiler.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/utf8.h"
#include "support/version.h"

#include <cstdio>
#include <fmt/format.h>

namespace kestal {
namespace {

constexpr std::string_view kTestProgram =
    "#include <stdio.h>\nint main(void) { printf(\"hello from C\\n\"); return 0; }\n";

// Every line of the report goes out at once, so a check that hangs still
// shows what came before it.
void line(std::string_view text) {
    fmt::print("{}\n", text);
    std::fflush(stdout);
}

std::string trim(std::string_view text, bool front) {
    constexpr std::string_view kSpace = " \t\n\r\f\v";
    std::size_t end = text.find_last_not_of(kSpace);
    if (end == std::string_view::npos)
        return "";
    std::size_t start = front ? text.find_first_not_of(kSpace) : 0;
    return std::string(text.substr(start, end + 1 - start));
}

// The first line of the compiler's --version output, without its line
// ending; empty when it wrote nothing there or could not be started.
std::string compiler_version(const std::string &compiler) {
    platform::Result<platform::CapturedRun> run = platform::run_captured({compiler, "--version"});
    if (!run)
        return "";
    std::string_view out = run->out;
    out = out.substr(0, out.find('\n'));
    if (!out.empty() && out.back() == '\r')
        out.remove_suffix(1);
    return platform::decode_utf8_lossy(out);
}

// A failed link names the linker: clang says "linker command failed",
// gcc's link step runs through collect2.
bool link_step_failed(std::string_view output) {
    return output.find("link") != std::string_view::npos ||
           output.find("collect2") != std::string_view::npos;
}

// Compiles, links and runs the test program in the work folder; prints the
// test-build line (and what explains a failure) and returns whether it
// worked.
bool test_build(const std::string &compiler, const std::string &work) {
    std::int64_t pid = platform::process_id();
    std::string c_file = fmt::format("{}/doctor-{}.c", work, pid);
    std::string exe = fmt::format("{}/doctor-{}", work, pid);
    if (platform::Result<void> written = platform::write_file(c_file, kTestProgram, 0600);
        !written) {
        (void)platform::remove_file(c_file);
        line(fmt::format("  test build:  can't write {}: {}", c_file, written.error().text));
        return false;
    }
    std::vector<std::string> argv = {compiler};
    argv.insert(argv.end(), kFixedFlags.begin(), kFixedFlags.end());
    argv.insert(argv.end(), {c_file, "-o", exe});
    platform::Result<platform::CapturedRun> compiled = platform::run_captured(argv);
    (void)platform::remove_file(c_file);
    if (!compiled) {
        line(fmt::format("  test build:  can't run {}: {}", compiler, compiled.error().text));
        return false;
    }
    if (!compiled->status.success()) {
        (void)platform::remove_file(exe);
        std::string output = trim(platform::decode_utf8_lossy(compiled->err) +
                                      platform::decode_utf8_lossy(compiled->out),
                                  false);
        line("  test build:  FAILED");
        line(output);
        if (link_step_failed(output)) {
            line("");
            line("The C compiler needs the linker and the C library to link programs:");
            line("install them with `apt-get install binutils libc6-dev`.");
        }
        return false;
    }
    platform::Result<platform::CapturedRun> ran = platform::run_captured({exe});
    (void)platform::remove_file(exe);
    if (ran && ran->status.success() && trim(ran->out, true) == "hello from C") {
        line("  test build:  ok (compiled, linked and ran a C program)");
        return true;
    }
    line("  test build:  the test program was built but didn't run correctly");
    return false;
}

} // namespace

int doctor_command() {
    line(fmt::format("kestal {}", kVersion));
    if (std::optional<std::string> self = platform::self_exe_path())
        line(fmt::format("  kestal:      {}", *self));
    std::string compiler = choose_c_compiler();
    std::string note = platform::env_var("KESTAL_CC") ? " (from KESTAL_CC)" : "";
    std::optional<std::string> found = find_on_path(compiler);
    if (!found) {
        line(fmt::format("  C compiler:  not found ('{}'{})", compiler, note));
        line("");
        line("Install clang (`apt-get install clang`), or set KESTAL_CC to a clang or gcc "
             "executable.");
        return 1;
    }
    line(fmt::format("  C compiler:  {}{}", *found, note));
    line(fmt::format("               {}", compiler_version(*found)));
    bool good = false;
    platform::Result<std::string> work = work_dir();
    if (work) {
        line(fmt::format("  cache:       {}", cache_dir(*work)));
        good = test_build(*found, *work);
    } else {
        // Without the work folder there is neither cache nor test build.
        line(fmt::format("  cache:       {}", work.error().text));
        line("  test build:  not done (no work folder)");
    }
    line("");
    line(good ? "all good" : "something's missing (see above)");
    return good ? 0 : 1;
}

} // namespace kestal
