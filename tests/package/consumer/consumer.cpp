// A tiny application built against the installed package: it logs one message through the entry points
// into a directory given on the command line and prints the zone's log file.

#include <fstream>
#include <iostream>
#include <string>

#include <ozr/logging/Logging.h>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        return 2;
    }
    const std::string directory = argv[1];
    ozr::logging::SetLoggingConfigDirectoryPath(directory.c_str());
    ozr::logging::SetLoggingLogsDirectoryPath(directory.c_str());
    ozr::logging::InitialiseLogging("Consumer");
    ozr::logging::ToLog("Consumer", ozr::logging::Severity::Error, __FILE__, __LINE__, 7,
                        "installed package %s", "works");
    ozr::logging::ShutdownLogging("Consumer");

    std::ifstream file(directory + "/Consumer.00.txt");
    std::cout << file.rdbuf();
    return file ? 0 : 1;
}
