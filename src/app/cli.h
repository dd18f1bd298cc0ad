#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace pasarela {

// Exit statuses of pasarela-cli, for scripts.
enum CliStatus : int {
    kCliOk = 0,
    kCliError = 1,
    kCliMissingInput = 2,  // the DASTENO file (or SOLUC.DBF) is not there
    kCliUsage = 64,        // as sysexits' EX_USAGE
};

// Runs the command line `args` (without the program name), writing results to `out`
// and messages to `err`. Every error ends here, as a message and a status.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace pasarela
