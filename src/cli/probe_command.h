// lumivor probe FILE...: the report the audio page writes for a file, for any number of files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumivor {

// argv[0] is "probe". Exit status 0 when every file was reported, 1 otherwise.
int RunProbeCommand(int argc, char** argv);

// The same with the streams given: reports go to out, failures to err.
int RunProbe(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

}  // namespace lumivor
