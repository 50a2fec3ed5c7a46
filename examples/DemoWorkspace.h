#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace ozr::demo
{

// The demo's own folder: "config" holds working copies of the shipped settings files, "logs" the zones'
// log files. Only the main thread uses it, before logging starts and after it has stopped.
class DemoWorkspace
{
public:
    explicit DemoWorkspace(std::filesystem::path folder);

    // Creates the folders, copies every shipped settings file over its working copy and removes the log
    // files of `zones` left by an earlier run, so that every run starts from the shipped settings.
    void Prepare(const std::filesystem::path& shippedConfigDirectory,
                 const std::vector<std::string>& zones) const;
    // Writes the collector's address and port into the working copy of syslog.ini.
    void ConfigureSyslog(const std::string& host, std::uint16_t port) const;

    std::filesystem::path ConfigDirectory() const { return folder / "config"; }
    std::filesystem::path LogDirectory() const { return folder / "logs"; }
    std::filesystem::path ZoneConfigFile(const std::string& zone) const;

    // The first "key=value" line of `file` whose key is `key`, as written; empty when there is none.
    static std::string FindSettingLine(const std::filesystem::path& file, const std::string& key);
    // One line per regular file of `directory`, sorted by name: "  <name>  <size> bytes".
    static void ListFiles(std::ostream& out, const std::filesystem::path& directory);

private:
    std::filesystem::path folder;
};

// The directory of shipped settings files that the build puts next to the program.
std::filesystem::path ShippedConfigDirectory();

}  // namespace ozr::demo
