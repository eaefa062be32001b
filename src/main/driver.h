// The command-line driver: dispatches on the first argument and returns the
// process exit status (0 success, 1 compile/file/tool failure, 2 usage error).
#pragma once

namespace kestal {
int run_main(int argc, char **argv);
}
