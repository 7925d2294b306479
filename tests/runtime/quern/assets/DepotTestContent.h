#pragma once
// Depot fixtures made with the content tool's library: a temporary folder
// holding the source files, the manifest, the built depot and "assets.db".

#include "../io/TempDirectory.h"

#include "ContentBuilder.h"
#include "RunLengthCodec.h"

#include "quern/assets/BlobDepot.h"
#include "quern/assets/FileSystemDepot.h"
#include "quern/io/Decompressor.h"
#include "quern/strings/Hashes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quern::test {

struct ContentAsset {
    std::string name;
    std::string bytes;
    std::string options = {}; // manifest words after the type ("blob=b codec=rle")
    std::string type = "data"; // the type word
};

inline u64 assetId(const std::string& name) { return strings::murmurHash64A(name.data(), name.size(), 0); }

// Bytes with long runs and varied values, so run-length entries differ in size.
inline std::string patternBytes(size_t size, unsigned seed = 1)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i / 7 + seed * 31) % 251);
    return text;
}

class DepotContent {
public:
    // Writes the sources and the manifest, then builds the depot of `kind`
    // ("blob" or "files") into out().
    void build(
        const std::vector<ContentAsset>& assets, const std::string& kind = "blob", const std::string& databaseName = "")
    {
        const std::string error = tryBuild(assets, kind, databaseName);
        ASSERT_TRUE(error.empty()) << error;
    }

    // The same, for sources the tool may refuse: its message, "" when it built them.
    std::string tryBuild(const std::vector<ContentAsset>& assets, const std::string& kind = "blob",
                         const std::string& databaseName = "")
    {
        std::filesystem::create_directories(m_directory.path() / "src");
        std::string manifest;
        for (const ContentAsset& asset : assets) {
            std::ofstream(m_directory.path() / "src" / asset.name, std::ios::binary) << asset.bytes;
            manifest += asset.name + " " + asset.type + " " + asset.options + "\n";
        }
        m_directory.writeFile("manifest.txt", manifest);
        assetbuild::BuildOptions options;
        options.manifestPath = m_directory.file("manifest.txt");
        options.sourceDirectory = m_directory.file("src");
        options.outDirectory = out();
        options.depotKind = kind;
        options.databaseName = databaseName;
        std::string error;
        if (!assetbuild::buildContent(options, error) && error.empty())
            error = "the content tool failed without a message";
        return error;
    }

    // The built depot: the blob index for "blob", the folder tree for "files".
    std::unique_ptr<assets::Depot> openDepot(const std::string& kind) const
    {
        if (kind == "files")
            return std::make_unique<assets::FileSystemDepot>(out().c_str());
        auto blob = std::make_unique<assets::BlobDepot>();
        blob->openIndex(out().c_str());
        return blob;
    }

    std::string out() const { return m_directory.file("out"); }
    std::string outFile(const std::string& name) const { return out() + "/" + name; }
    const TempDirectory& directory() const { return m_directory; }

    // Overwrites bytes of a built file in place.
    void patch(const std::string& name, std::streamoff offset, const void* bytes, size_t count) const
    {
        std::fstream file(outFile(name), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(offset);
        file.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
    }
    // Patches one field of the index entry at `entry`.
    template <class T> void patchIndex(u64 entry, u64 fieldOffset, T value) const
    {
        patch("assets.index", static_cast<std::streamoff>(12 + entry * 56 + fieldOffset), &value, sizeof value);
    }

private:
    TempDirectory m_directory;
};

// Expands the content tool's run-length entries; counts its calls and can run
// a hook in the middle of one (where another thread could act).
class RunLengthDecompressor : public io::Decompressor {
public:
    void init() override { }
    u32 formatTag() const override { return assetbuild::kRunLengthTag; }
    u32 decompress(containers::Array& output, const void* input, u64 inputLength) override
    {
        io::DecompressReport ignored;
        return decompressWithReport(output, input, inputLength, ignored);
    }
    u32 decompressWithReport(
        containers::Array& output, const void* input, u64 inputLength, io::DecompressReport& report) override
    {
        ++calls;
        if (duringDecompress)
            duringDecompress();
        u64 written = 0;
        report.succeeded = assetbuild::runLengthDecode(
            static_cast<const u8*>(input), inputLength, static_cast<u8*>(output.data()), output.count(), written);
        report.codecStatus = report.succeeded ? 0 : -1;
        report.outputSize = written;
        return checksum(output.data(), output.count());
    }

    std::atomic<int> calls { 0 };
    std::function<void()> duringDecompress;
};

} // namespace quern::test
