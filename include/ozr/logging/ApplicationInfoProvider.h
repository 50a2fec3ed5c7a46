#pragma once

#include <filesystem>
#include <string>

#include "ozr/logging/Export.h"

namespace ozr::logging
{

// Which program the library runs in. Stateless: every call reads /proc/self/exe afresh, from any thread.
class OZR_LOGGING_API IApplicationInfoProvider
{
public:
    virtual ~IApplicationInfoProvider() = default;
    // File name of the running executable, extension included; empty when it cannot be read.
    virtual std::string GetApplicationName() const = 0;
    // Directory of the running executable; empty when it cannot be read.
    virtual std::filesystem::path GetApplicationExecutableDirectoryPath() const = 0;
};

class OZR_LOGGING_API ApplicationInfoProvider final : public IApplicationInfoProvider
{
public:
    std::string GetApplicationName() const override;
    std::filesystem::path GetApplicationExecutableDirectoryPath() const override;
};

}  // namespace ozr::logging
