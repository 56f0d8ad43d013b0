// lumivor convert: one transcoding task from FFmpeg-style option texts, with a progress bar.
#pragma once

#include <string>
#include <vector>

namespace lumivor::cli {

// Exit status: 0 when the task finished, 1 when it ended with an error (or its report could not
// be written), 130 when it was stopped (Ctrl-C), 2 on usage errors.
int RunConvertCommand(const std::vector<std::string>& arguments);

}  // namespace lumivor::cli
