// Runs tavelin-report as a user does, from the suites.
#pragma once

#include <string>

namespace clirun {

struct Outcome {
    int status;
    std::string out;  // standard output, and standard error unless split
    std::string err;  // standard error when split
};

std::string quote(const std::string& s);

// `args` after the program's path, standard error mixed into standard output.
Outcome run(const std::string& args);
// The same with standard error apart, passed through the file `errFile`.
Outcome runSplit(const std::string& args, const std::string& errFile);

}  // namespace clirun
