#include "DemoOptions.h"

#include <stdexcept>
#include <string_view>

namespace ozr::demo
{
namespace
{

constexpr std::uint16_t DefaultSyslogPort = 514;

std::uint16_t ParsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos)
    {
        throw std::invalid_argument("not a UDP port: '" + text + "'");
    }
    const unsigned long port = std::stoul(text);
    if (port == 0 || port > 65535)
    {
        throw std::invalid_argument("not a UDP port: '" + text + "'");
    }
    return static_cast<std::uint16_t>(port);
}

bool IsInside(const std::filesystem::path& path, const std::filesystem::path& directory)
{
    const auto relative = path.lexically_relative(directory);
    return !relative.empty() && *relative.begin() != "..";
}

void CheckFolder(const std::filesystem::path& folder)
{
    const auto absolute = std::filesystem::weakly_canonical(std::filesystem::absolute(folder));
    for (const char* system : {"/etc", "/var"})
    {
        if (IsInside(absolute, system))
        {
            throw std::invalid_argument("the demo does not write into " + std::string(system) +
                                        ": choose another --folder");
        }
    }
}

// The argument after option `index`, or an error naming the option.
std::string ValueOf(int argc, const char* const argv[], int index)
{
    if (index + 1 >= argc)
    {
        throw std::invalid_argument(std::string(argv[index]) + " needs a value");
    }
    return argv[index + 1];
}

}  // namespace

Collector ParseCollector(const std::string& text)
{
    if (!text.empty() && text.front() == '[')
    {
        const auto close = text.find(']');
        if (close == std::string::npos || close == 1)
        {
            throw std::invalid_argument("bad collector address: '" + text + "'");
        }
        const auto rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':')
        {
            throw std::invalid_argument("bad collector address: '" + text + "'");
        }
        return {text.substr(1, close - 1), rest.empty() ? DefaultSyslogPort : ParsePort(rest.substr(1))};
    }
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || text.find(':') != colon)  // a bare host, or a bare IPv6 address
    {
        if (text.empty())
        {
            throw std::invalid_argument("empty collector address");
        }
        return {text, DefaultSyslogPort};
    }
    if (colon == 0)
    {
        throw std::invalid_argument("bad collector address: '" + text + "'");
    }
    return {text.substr(0, colon), ParsePort(text.substr(colon + 1))};
}

DemoOptions ParseDemoOptions(int argc, const char* const argv[])
{
    DemoOptions options;
    for (int index = 1; index < argc; ++index)
    {
        const std::string_view option = argv[index];
        if (option == "--help" || option == "-h")
        {
            options.showHelp = true;
        }
        else if (option == "--folder")
        {
            options.folder = ValueOf(argc, argv, index++);
        }
        else if (option == "--syslog")
        {
            options.collector = ParseCollector(ValueOf(argc, argv, index++));
        }
        else
        {
            throw std::invalid_argument("unknown option '" + std::string(option) + "'");
        }
    }
    CheckFolder(options.folder);
    return options;
}

const char* DemoUsage()
{
    return "Usage: ostrel-logging-demo [--folder PATH] [--syslog HOST:PORT]\n"
           "  --folder PATH       where the demo keeps its settings and log files (default ./ostrel-demo)\n"
           "  --syslog HOST:PORT  also forward every message to this syslog collector over UDP,\n"
           "                      e.g. 127.0.0.1:5514 or [::1]:5514\n";
}

}  // namespace ozr::demo
