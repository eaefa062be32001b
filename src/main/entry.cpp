// Process entry: hands the command line to the driver. Nothing thrown may
// end the tool with an abort: an allocation that fails on the main thread
// (reading a huge file, holding the C text) is reported like one on the
// compile thread, and any other escaped exception is a fault of Kestal.
#include "main/driver.h"

#include <cstdio>
#include <exception>
#include <new>

int main(int argc, char **argv) {
    try {
        return kestal::run_main(argc, argv);
    } catch (const std::bad_alloc &) {
        std::fputs("kestal: out of memory\n", stderr);
    } catch (const std::exception &fault) {
        std::fprintf(stderr, "kestal: internal compiler error: %s\n", fault.what());
    }
    kestal::exit_with_pause(1);
}
