#include "DemoWorkspace.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <regex>

#include "ozr/config/Ini.h"

namespace ozr::demo
{
namespace
{

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
    {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool SameKey(const std::string& left, const std::string& right)
{
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

// "<zone>.<two or more digits>.txt": the zone's log files and nothing else.
bool IsLogFileOf(const std::string& fileName, const std::string& zone)
{
    static const std::regex index(R"(\.[0-9]{2,}\.txt)");
    return fileName.size() > zone.size() && fileName.compare(0, zone.size(), zone) == 0 &&
           std::regex_match(fileName.substr(zone.size()), index);
}

void RemoveLogFiles(const std::filesystem::path& directory, const std::string& zone)
{
    for (const auto& entry : std::filesystem::directory_iterator(directory))
    {
        if (entry.is_regular_file() && IsLogFileOf(entry.path().filename().string(), zone))
        {
            std::filesystem::remove(entry.path());
        }
    }
}

}  // namespace

DemoWorkspace::DemoWorkspace(std::filesystem::path folder) : folder(std::move(folder)) {}

void DemoWorkspace::Prepare(const std::filesystem::path& shippedConfigDirectory,
                            const std::vector<std::string>& zones) const
{
    std::filesystem::create_directories(ConfigDirectory());
    std::filesystem::create_directories(LogDirectory());
    for (const auto& entry : std::filesystem::directory_iterator(shippedConfigDirectory))
    {
        if (entry.is_regular_file() && entry.path().extension() == ".ini")
        {
            std::filesystem::copy_file(entry.path(), ConfigDirectory() / entry.path().filename(),
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }
    for (const auto& zone : zones)
    {
        RemoveLogFiles(LogDirectory(), zone);
    }
}

void DemoWorkspace::ConfigureSyslog(const std::string& host, std::uint16_t port) const
{
    const std::string file = (ConfigDirectory() / "syslog.ini").string();
    ozr::config::ini::WriteString("Syslog", "Address", host, file);
    ozr::config::ini::WriteString("Syslog", "Port", std::to_string(port), file);
}

std::filesystem::path DemoWorkspace::ZoneConfigFile(const std::string& zone) const
{
    return ConfigDirectory() / (zone + ".Logging.ini");
}

std::string DemoWorkspace::FindSettingLine(const std::filesystem::path& file, const std::string& key)
{
    std::ifstream stream(file);
    for (std::string line; std::getline(stream, line);)
    {
        const auto equals = line.find('=');
        const auto trimmed = Trim(line);
        const bool comment = !trimmed.empty() && (trimmed.front() == ';' || trimmed.front() == '#');
        if (!comment && equals != std::string::npos && SameKey(Trim(line.substr(0, equals)), key))
        {
            return trimmed;
        }
    }
    return {};
}

void DemoWorkspace::ListFiles(std::ostream& out, const std::filesystem::path& directory)
{
    std::vector<std::filesystem::directory_entry> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
    {
        if (entry.is_regular_file())
        {
            files.push_back(entry);
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : files)
    {
        out << "  " << file.path().filename().string() << "  " << file.file_size() << " bytes\n";
    }
}

std::filesystem::path ShippedConfigDirectory()
{
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path("config") : program.parent_path() / "config";
}

}  // namespace ozr::demo
