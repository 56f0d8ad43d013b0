// "lumivor effect": lists the transitions, composes one transition frame from two pictures, or
// renders a contact sheet of many transitions.
#pragma once

#include <string>
#include <vector>

namespace lumivor::cli {

// arguments are those after the sub-command's name. Returns the process exit status: 0 on success,
// 2 after one line on stderr naming the problem (nothing is written then). Standard output that
// cannot be written is the front end's to report.
int RunEffectCommand(const std::vector<std::string>& arguments);

}  // namespace lumivor::cli
