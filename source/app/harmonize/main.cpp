// The game's process: error handling, the first look at the command line,
// memory, the user's folder, logging and the asset handlers around one run of
// the game, and their teardown.

#include "harmonize/RunGame.h"
#include "harmonize/Settings.h"
#include "harmonize/Startup.h"
#include "quern/debug/Log.h"
#include "quern/debug/Logger.h"
#include "quern/settings/CommandLineParser.h"

#include <sstream>

namespace {

quern::i32 applyOption(void*, const char* key, const char* value)
{
    return harmonize::Settings::setFromCommandLine(key, value);
}

} // namespace

int main(int argc, char** argv)
{
    using namespace harmonize;

    installErrorHandlers();
    Settings::setStringAllocator(getSettingsBootstrapAllocator());
    quern::settings::parseCommandLine(argc, argv, applyOption);

    initAllocators();
    initUserStorage();

    applyErrorSettings();

    quern::debug::getLogger();
    auto* memoryLog = new std::ostringstream();
    quern::debug::Logger::attachStream(*memoryLog);
    QUERN_LOG(3) << "Minidumper installed" << std::endl;

    createAssetHandlerRegistry();

    const i32 result = runGame(argc, argv);

    if (result != 0 || Settings::Development.enabled || !Settings::Development.retail || Settings::Development.log)
        saveLog();
    if (quern::debug::Logger::memoryLog() == memoryLog)
        quern::debug::Logger::detachStream();
    delete memoryLog;

    destroyAssetHandlerRegistry();
    Settings::free();
    shutdownUserStorage();
    shutdownAllocators();
    return result;
}
