#pragma once
// A file's whole contents as text, "" when it cannot be read.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quern::testing {

inline std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace quern::testing
