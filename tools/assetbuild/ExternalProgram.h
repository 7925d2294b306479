#pragma once
// Runs the Debian tools that turn some sources into assets (sox, oggenc,
// msgfmt): no shell is involved, so no source text can become a command.

#include <filesystem>
#include <string>
#include <vector>

namespace quern::assetbuild {

// Runs the program with the arguments; true on exit status 0.
bool runProgram(const std::vector<std::string>& arguments);

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // False when the folder could not be made.
    bool made() const { return !m_path.empty(); }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

} // namespace quern::assetbuild
