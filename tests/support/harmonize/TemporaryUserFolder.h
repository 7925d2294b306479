#pragma once
// A fresh user folder for the length of a test, set up as the game's start-up
// sets up its own: the process-wide home file system points into it and the
// process-wide user storage (and its worker) runs over it. Settings, the
// savegame and replays land there.

#include "quern/io/AsyncUserStorage.h"
#include "quern/io/HomeFileSystem.h"

#include "runtime/quern/platform/TemporaryDirectory.h"

#include <string>

namespace harmonize::testing {

class TemporaryUserFolder {
public:
    TemporaryUserFolder()
        : m_previous(quern::io::getHomeFileSystem().directory())
    {
        quern::io::startUserStorage(m_folder.path().c_str());
    }
    ~TemporaryUserFolder()
    {
        quern::io::stopUserStorage();
        quern::io::setUserDirectoryOverride(m_previous.c_str());
        quern::io::getHomeFileSystem().setAcceptExistingPaths(false);
    }
    TemporaryUserFolder(const TemporaryUserFolder&) = delete;
    TemporaryUserFolder& operator=(const TemporaryUserFolder&) = delete;

    const std::filesystem::path& path() const { return m_folder.path(); }

private:
    quern::testing::TemporaryDirectory m_folder;
    std::string m_previous;
};

} // namespace harmonize::testing
