// The command-line client: one function that runs a whole command line, so that the executable and
// the tests share it.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace vistrel {

enum ExitCode : int {
    kExitOk = 0,
    kExitItemFailed = 1,  // the call succeeded, some item or entry failed
    kExitUsage = 2,
    kExitFailure = 3,  // connection or call failure
};

struct Streams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool outIsTerminal = false;  // the default format: table on a terminal, CSV otherwise
};

// Runs `vistrel ARGS...` (args without the program name) and returns its exit code. Joins COM and
// leaves it again; the process's COM security is fixed on the first run.
int RunVistrel(const std::vector<std::string>& args, Streams io);

}  // namespace vistrel
