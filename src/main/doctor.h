// `kestal doctor`: a report on standard output of where the tool is, which
// C compiler it uses and its version, where the build cache lives, and
// whether a one-line C program compiles, links and runs with the flags
// every program gets. Hints name the remedy for the two usual problems: no
// C compiler at all, and a compiler without a linker or C library.
#pragma once

namespace kestal {

// Prints the report; 0 when everything works, 1 otherwise.
int doctor_command();

} // namespace kestal
