#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace ozr::demo
{

// Where the syslog collector given on the command line listens.
struct Collector
{
    std::string host;
    std::uint16_t port;
};

struct DemoOptions
{
    std::filesystem::path folder = "ostrel-demo";  // relative to the working directory
    std::optional<Collector> collector;
    bool showHelp = false;
};

// "host:port", "[v6-address]:port" or a bare host (port 514). Throws std::invalid_argument.
Collector ParseCollector(const std::string& text);

// Reads --folder PATH, --syslog HOST:PORT and --help. Throws std::invalid_argument on anything else,
// and for a folder inside /etc or /var: the demo writes only where a user expects scratch files.
DemoOptions ParseDemoOptions(int argc, const char* const argv[]);

const char* DemoUsage();

}  // namespace ozr::demo
