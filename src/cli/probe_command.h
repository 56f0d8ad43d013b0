// lumivor probe [--allow-protocols] FILE...: the report the audio page writes for a file, for any
// number of files.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumivor {

// arguments are those after the sub-command's name. Reports go to out, failures to err, each
// escaped for a terminal when that stream is one. Exit status 0 when every file was reported, 1
// when some could not be, 2 on a usage error (nothing is probed then).
int RunProbe(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
             bool outIsTerminal = false, bool errIsTerminal = false);

}  // namespace lumivor
