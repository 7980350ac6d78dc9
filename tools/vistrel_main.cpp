// vistrel: every OPC HDA operation from the shell. The work is done by vistrel::RunVistrel.
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/vistrel/vistrel.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    return vistrel::RunVistrel(args, {std::cin, std::cout, std::cerr, isatty(STDOUT_FILENO) == 1});
}
