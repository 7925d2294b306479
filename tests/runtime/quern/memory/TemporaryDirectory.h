#pragma once
// A fresh directory under the system's temporary folder, removed with its
// contents when the test ends.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace quern::memory::testing {

class TemporaryDirectory {
public:
    TemporaryDirectory()
    {
        std::random_device random;
        for (;;) {
            m_path = std::filesystem::temp_directory_path() / ("quern-memory-" + std::to_string(random()));
            if (std::filesystem::create_directory(m_path))
                break;
        }
    }
    ~TemporaryDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(const char* name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

inline std::string readWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace quern::memory::testing
