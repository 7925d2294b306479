#pragma once
// The user directory's file system: reads, writes, sizes and deletes files there at
// once and answers every call with a result record instead of failing.

#include "quern/io/FilePath.h"
#include "quern/io/UserStorage.h"
#include "quern/strings/String.h"

namespace quern::io {

// Joined to the user data folder for the default directory.
inline constexpr const char* kProductTitle = "Tin Lantern Run";

class HomeFileSystem : public UserStorage {
public:
    // The user data folder joined with the product title.
    void initDefaultDirectory();
    void setDirectory(const char* path);
    const char* directory() const { return m_directory.c_str(); }

    // When set, reads, sizes and deletes take an absolute name of an existing file
    // unchanged instead of joining it to the directory.
    void setAcceptExistingPaths(bool accept) { m_acceptExistingPaths = accept; }
    bool acceptsExistingPaths() const { return m_acceptExistingPaths; }
    // When set, reads and writes are not logged.
    void setQuiet(bool quiet) { m_quiet = quiet; }
    bool isQuiet() const { return m_quiet; }

    // The directory with the name appended; with `acceptExisting`, an absolute name
    // of an existing file stays as it is. Relative names always resolve in the
    // directory, never in the current directory.
    static FilePath makePath(const char* name, const char* directory, bool acceptExisting);

    // The listener is not used: the result is returned at once.
    UserStorageResult fileSize(const char* name, UserStorageListener* listener = nullptr) override;
    UserStorageResult read(const char* name, void* buffer, u64 size, UserStorageListener* listener = nullptr) override;
    // Creates the last level of the directory when it is missing. The data goes to a
    // temporary file beside the target, renamed over it when complete, so a failure
    // or crash part-way leaves the old file whole. The flag is not used here.
    UserStorageResult write(const char* name, const void* data, u64 size, i32 flag = 0,
                            UserStorageListener* listener = nullptr) override;
    UserStorageResult remove(const char* name, UserStorageListener* listener = nullptr) override;

private:
    strings::String m_directory;
    bool m_acceptExistingPaths = false;
    bool m_quiet = false;
};

// The process-wide home file system.
HomeFileSystem& getHomeFileSystem();

// Sets the directory of the process-wide home file system.
void setUserDirectoryOverride(const char* path);

// The user directory for the "userFilePath" setting: an absolute path as it is,
// a relative one below the current directory.
FilePath resolveUserDirectory(const char* userFilePath);

} // namespace quern::io
