// lumivor play FILE: plays a media file through the player component, printing its state changes
// and position; space pauses and resumes, q stops (with a terminal), and so do SIGINT and SIGTERM.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace lumivor {

// Exit status 0 after the end of the file or a stop, 1 (the reason on err) when the file cannot be
// played, 2 for arguments that make no sense.
int RunPlay(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace lumivor
