#pragma once

#include <string>
#include <vector>

namespace ozr::demo
{

// Runs a program in a process of its own, as an operator's shell would, and waits for it. `command`
// holds the program's path and its arguments. Returns its exit status, or -1 when it could not be
// started or did not exit normally.
int RunSecondProcess(const std::vector<std::string>& command);

// The command as an operator would type it, for the demo's narration.
std::string ShowCommand(const std::vector<std::string>& command);

}  // namespace ozr::demo
