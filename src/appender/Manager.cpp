#include "ozr/logging/appender/Manager.h"

#include "ozr/logging/appender/console/Appender.h"
#include "ozr/logging/appender/console/ConfigProvider.h"
#include "ozr/logging/appender/file/Appender.h"
#include "ozr/logging/appender/file/ConfigProvider.h"
#include "ozr/logging/appender/syslog/Appender.h"
#include "ozr/logging/appender/syslog/ConfigProvider.h"

namespace ozr::logging::appender
{

namespace
{
const std::string SyslogConfigName = "syslog";
const std::string ConsoleConfigName = "console";
}  // namespace

Manager::Manager(boost::asio::io_context& context, const IApplicationInfoProvider& applicationInfo,
                 const IConfigLocator& locator)
    : ioContext(context),
      formatter(std::make_unique<MessageFormatter>()),
      applicationInfoProvider(applicationInfo),
      configLocator(locator)
{
}

// The global list is declared last, so it is emptied before the formatter is deleted.
Manager::~Manager() = default;

void Manager::LoadGlobalAppenders()
{
    ShutdownGlobalAppenders();
    const syslog::ConfigProvider syslogConfigProvider(
        configLocator.GetGlobalConfigFilePath(SyslogConfigName));
    syslog::Config syslogConfig = syslogConfigProvider.GetConfig();
    if (!syslogConfig.host.empty())
    {
        globalAppenders.push_front(
            std::make_shared<syslog::Appender>(ioContext, applicationInfoProvider, std::move(syslogConfig)));
    }
    const console::Config consoleConfig =
        console::ConfigProvider(configLocator.GetGlobalConfigFilePath(ConsoleConfigName)).GetConfig();
    if (consoleConfig.enabled)
    {
        globalAppenders.push_front(std::make_shared<console::Appender>(ioContext, *formatter, consoleConfig,
                                                                       applicationInfoProvider));
    }
}

// The console and the syslog appender learn that the drain to come must not wait for a full standard
// output or an absent collector for ever.
void Manager::ShutdownGlobalAppenders()
{
    for (const auto& appender : globalAppenders)
    {
        if (const auto console = std::dynamic_pointer_cast<console::Appender>(appender))
        {
            console->Close();
        }
        else if (const auto syslog = std::dynamic_pointer_cast<syslog::Appender>(appender))
        {
            syslog->Close();
        }
    }
    globalAppenders.clear();
}

AppenderList Manager::GetAppenders(char const* zone) const
{
    AppenderList appenders = globalAppenders;
    const file::ConfigProvider fileConfigProvider(applicationInfoProvider, zone,
                                                  configLocator.GetZoneConfigFilePath(zone));
    appenders.push_front(std::make_shared<file::Appender>(
        ioContext, *formatter, fileConfigProvider.GetConfig(), applicationInfoProvider));
    return appenders;
}

}  // namespace ozr::logging::appender
