#pragma once
// A cached resource whose content is program source text: the base of the
// shader programs. Loading reads the asset's whole text and hands it to the
// subclass to build its device program; the text stays, so the program can
// be built again after the graphics device was reset.

#include "quern/assets/Resource.h"

#include <string>

namespace quern::assets {

class CodeResource : public Resource {
public:
    CodeResource() = default;
    CodeResource(const CodeResource& other) = default;

    // Bytes of the stored text (not of the device program).
    u64 getMemorySize() override { return m_text.size(); }
    // The entry's name, "CodeResource" without one.
    const char* getName() const override;
    // Reads the entry's byte count from the stream and installs it as the
    // code; a stream that fails is fatal "Error reading from file".
    void loadImpl(AssetStream& stream) override;

    // Builds the device program from the text.
    virtual void loadCodeImpl(const char* text, u64 length, const char* name) = 0;
    // Called after every new text was built; `success` is always true here.
    virtual void onLoaded(bool success) { (void)success; }

    // Installs new source: suspends, builds it, then keeps the text, takes a
    // new stamp and becomes loaded.
    void setCode(const char* text, u64 length, const char* name);

    // The name of the file the entry was built from, "" without an entry.
    const char* getSourceName() const;
    const std::string& text() const { return m_text; }

private:
    std::string m_text;
};

} // namespace quern::assets
