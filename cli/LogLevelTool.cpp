// ostrel-loglevel [--config-dir DIR] ZONE [LEVEL]: prints the LogLevel of a zone's settings file, or sets
// it. The file is found as the library finds it and written through the settings library, so the change
// is atomic and keeps the file's comments and other settings.

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "ozr/logging/ApplicationInfoProvider.h"
#include "ozr/logging/ConfigLocator.h"
#include "ozr/logging/LoggerConfigProvider.h"
#include "ozr/logging/Severity.h"

namespace
{

using ozr::logging::Severity;

constexpr int ExitFileError = 1;
constexpr int ExitUsageError = 2;

constexpr const char* Usage =
    "Usage: ostrel-loglevel [--config-dir DIR] ZONE [LEVEL]\n"
    "Prints the LogLevel of ZONE's settings file, DIR/ZONE.Logging.ini, or sets it to LEVEL.\n"
    "\n"
    "  --config-dir DIR  directory of the settings files (default /etc/ostrel/config)\n"
    "  -h, --help        print this help\n"
    "\n"
    "LEVEL: Error, Print, Warning, Message, Info or Trace, in any letter case (Warn, Msg and All too).\n"
    "The file is replaced atomically; its comments and other settings stay. A running process applies\n"
    "the new level within a second when the zone's file holds WatchSettings=1, otherwise at its next\n"
    "start. A missing file is created.\n"
    "\n"
    "ZONE may not contain '/' or \"..\": its file must lie in DIR.\n"
    "\n"
    "Exit status: 0 done, 1 the settings file cannot be read or written, 2 bad usage, unknown level or a\n"
    "zone name that cannot name a file in DIR.\n";

// Thrown for a command line that cannot be followed; the text says why.
struct UsageError
{
    std::string text;
};

struct Options
{
    std::optional<std::filesystem::path> configDirectory;
    std::string zone;
    std::optional<std::string> level;
    bool showHelp = false;
};

Options ParseOptions(const std::vector<std::string_view>& arguments)
{
    Options options;
    std::vector<std::string_view> operands;
    for (std::size_t index = 0; index < arguments.size(); ++index)
    {
        const std::string_view argument = arguments[index];
        if (argument == "-h" || argument == "--help")
        {
            options.showHelp = true;
        }
        else if (argument == "--config-dir")
        {
            if (++index == arguments.size() || arguments[index].empty())
            {
                throw UsageError{"--config-dir needs a directory"};
            }
            options.configDirectory = std::filesystem::path(arguments[index]);
        }
        else if (argument.size() > 1 && argument.front() == '-')
        {
            throw UsageError{"unknown option '" + std::string(argument) + "'"};
        }
        else
        {
            operands.push_back(argument);
        }
    }
    if (options.showHelp)
    {
        return options;
    }
    if (operands.empty() || operands.size() > 2 || operands.front().empty())
    {
        throw UsageError{"expected a zone and, to set it, a level"};
    }
    options.zone = operands.front();
    if (operands.size() == 2)
    {
        options.level = operands.back();
    }
    return options;
}

// The zone's settings file, as the library would find it.
std::string ZoneConfigFile(const Options& options)
{
    const ozr::logging::ApplicationInfoProvider applicationInfo;
    ozr::logging::ConfigLocator locator(applicationInfo);
    if (options.configDirectory)
    {
        locator.SetConfigDirectoryPath(*options.configDirectory);
    }
    return locator.GetZoneConfigFilePath(options.zone.c_str());
}

// The settings library reads an unreadable file as a missing one; an operator must hear about it.
void CheckReadable(const std::string& file)
{
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    {
        throw std::runtime_error("cannot read " + file + ": not a regular file");
    }
    if (std::filesystem::exists(status) && ::access(file.c_str(), R_OK) != 0)
    {
        throw std::system_error(errno, std::generic_category(), "cannot read " + file);
    }
}

int PrintLevel(const std::string& file)
{
    CheckReadable(file);
    // A missing or unknown level reads as Warning, as it does for the library.
    const Severity level =
        ozr::logging::LoggerConfigProvider(file).ReadLogLevel().value_or(Severity::Warning);
    std::cout << ozr::logging::SeverityToString(level) << '\n';
    return 0;
}

int SetLevel(const std::string& file, const std::string& text)
{
    const std::optional<Severity> level = ozr::logging::ParseSeverity(text.c_str());
    if (!level)
    {
        std::cerr << "ostrel-loglevel: unknown level '" << text
                  << "': use Error, Print, Warning, Message, Info or Trace\n";
        return ExitUsageError;
    }
    ozr::logging::LoggerConfig config{};
    config.verbosity = *level;
    try
    {
        ozr::logging::LoggerConfigProvider(file).SetConfig(config);
    }
    catch (const std::exception& error)
    {
        throw std::runtime_error("cannot write " + file + ": " + error.what());
    }
    return 0;
}

int Run(const std::vector<std::string_view>& arguments)
{
    const Options options = ParseOptions(arguments);
    if (options.showHelp)
    {
        std::cout << Usage;
        return 0;
    }
    const std::string file = ZoneConfigFile(options);
    if (file.empty())
    {
        throw UsageError{"zone '" + options.zone +
                         "' cannot name a settings file: '/' and \"..\" are refused"};
    }
    return options.level ? SetLevel(file, *options.level) : PrintLevel(file);
}

}  // namespace

int main(int argc, char* argv[])
{
    try
    {
        return Run(std::vector<std::string_view>(argv + 1, argv + argc));
    }
    catch (const UsageError& error)
    {
        std::cerr << "ostrel-loglevel: " << error.text << "\nTry 'ostrel-loglevel --help'.\n";
        return ExitUsageError;
    }
    catch (const std::exception& error)
    {
        std::cerr << "ostrel-loglevel: " << error.what() << '\n';
        return ExitFileError;
    }
}
