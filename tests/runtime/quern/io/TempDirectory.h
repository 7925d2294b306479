#pragma once
// A fresh directory per test, removed with everything in it afterwards.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace quern::test {

class TempDirectory {
public:
    TempDirectory()
    {
        std::random_device random;
        m_path = std::filesystem::temp_directory_path() /
                 ("quern-io-" + std::to_string(random()) + "-" + std::to_string(random()));
        std::filesystem::create_directories(m_path);
    }
    ~TempDirectory()
    {
        std::error_code ignored;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const std::string& name) const { return (m_path / name).string(); }

    void writeFile(const std::string& name, const std::string& contents) const
    {
        std::ofstream(m_path / name, std::ios::binary) << contents;
    }
    std::string readFile(const std::string& name) const
    {
        std::ifstream in(m_path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::filesystem::path m_path;
};

} // namespace quern::test
