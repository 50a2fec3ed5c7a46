#include "SecondProcess.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace ozr::demo
{

int RunSecondProcess(const std::vector<std::string>& command)
{
    if (command.empty())
    {
        return -1;
    }
    std::vector<char*> argv;
    for (const auto& argument : command)
    {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv.front(), nullptr, nullptr, argv.data(), environ) != 0)
    {
        return -1;
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
    {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string ShowCommand(const std::vector<std::string>& command)
{
    std::string text;
    for (const auto& argument : command)
    {
        const bool quote = argument.empty() || argument.find_first_of(" \t'\"$\\") != std::string::npos;
        text += (text.empty() ? "" : " ") + (quote ? "'" + argument + "'" : argument);
    }
    return text;
}

}  // namespace ozr::demo
