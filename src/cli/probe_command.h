// lumivor probe FILE...: the report the audio page writes for a file, for any number of files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumivor {

// Reports go to out, failures to err. Exit status 0 when every file was reported, 1 otherwise.
int RunProbe(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

}  // namespace lumivor
