// Process entry: hands the command line to the driver.
#include "main/driver.h"

int main(int argc, char **argv) { return kestal::run_main(argc, argv); }
