// The command-line driver. Commands are added as their subsystems land.
#include "main/driver.h"

#include "main/version.h"

#include <cstdio>
#include <string_view>

namespace kestal {

int run_main(int argc, char **argv) {
    std::string_view cmd = argc > 1 ? argv[1] : "";
    if (cmd == "version") {
        std::printf("kestal %s\n", kVersion);
        return 0;
    }
    std::fprintf(stderr, "kestal: unknown command '%.*s'\n", (int)cmd.size(), cmd.data());
    return 2;
}

} // namespace kestal
