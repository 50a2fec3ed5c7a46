// Logs the texts of its command line into one zone, pausing between them, then shuts the zone down: the
// program that the rotation-by-time scenarios run under faketime.
//
//     TimedLinesWriter CONFIG-DIR LOGS-DIR ZONE TEXT [SECONDS TEXT]...

#include <chrono>
#include <string>
#include <thread>

#include "ozr/logging/Log.h"

int main(int argc, char** argv)
{
    using namespace ozr::logging;
    constexpr int firstText = 4;
    if (argc <= firstText || (argc - firstText) % 2 == 0)
    {
        return 2;
    }
    SetLoggingConfigDirectoryPath(argv[1]);
    SetLoggingLogsDirectoryPath(argv[2]);
    const char* zone = argv[3];
    InitialiseLogging(zone);
    OZR_LOG_ERROR(zone, "%s", argv[firstText]);
    for (int pause = firstText + 1; pause + 1 < argc; pause += 2)
    {
        std::this_thread::sleep_for(std::chrono::duration<double>(std::stod(argv[pause])));
        OZR_LOG_ERROR(zone, "%s", argv[pause + 1]);
    }
    ShutdownLogging(zone);
    return 0;
}
