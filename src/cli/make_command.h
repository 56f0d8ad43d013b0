// lumivor make: the slideshow from the command line, on the same conversion job as the window.
#pragma once

#include <string>
#include <vector>

#include "app/run/run_request.h"

namespace lumivor::cli {

// The run the make arguments (without "make") describe, every default filled in, as the command
// hands it to the job; false with the reason for arguments the command would refuse.
bool MakeRunRequest(const std::vector<std::string>& arguments, RunRequest& request, std::string& errorText);

// Exit status: 0 when the video was written, 1 when the run failed (the reason on stderr), 130
// when Ctrl-C stopped it (the video so far is kept), 2 on usage errors.
int RunMakeCommand(const std::vector<std::string>& arguments);

}  // namespace lumivor::cli
