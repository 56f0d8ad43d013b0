// lumivor samples: photos and an audio track made by the program, to try `lumivor make` with.
#pragma once

#include <string>
#include <vector>

namespace lumivor::cli {

// Exit status: 0 when everything was written, 1 when a file could not be, 2 on usage errors.
int RunSamplesCommand(const std::vector<std::string>& arguments);

}  // namespace lumivor::cli
