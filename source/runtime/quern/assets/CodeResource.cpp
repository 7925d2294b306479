#include "quern/assets/CodeResource.h"

#include "quern/language/Exception.h"
#include "quern/memory/DefaultAllocator.h"
#include "quern/platform/ErrorReporting.h"

#include <istream>
#include <iterator>

namespace quern::assets {

const char* CodeResource::getName() const
{
    const char* name = Resource::getName();
    return name[0] != '\0' ? name : "CodeResource";
}

const char* CodeResource::getSourceName() const
{
    const ResourceEntry* entry = entryObject();
    return entry ? entry->sourceName().c_str() : "";
}

void CodeResource::loadImpl(AssetStream& stream)
{
    const char* sourceName = stream.entry ? stream.entry->sourceName().c_str() : "";
    if (!stream.buffer)
        QUERN_RAISE(IOException, FileReadException::kMessage, sourceName);
    std::istream input(stream.buffer);
    if (!stream.entry) {
        // Without an entry the stream's whole content is the text.
        const std::string text((std::istreambuf_iterator<char>(input)), std::istreambuf_iterator<char>());
        setCode(text.data(), text.size(), sourceName);
        return;
    }

    const u64 size = stream.entry->size();
    memory::Allocator& allocator = *memory::getDefaultAllocator();
    char* bytes = static_cast<char*>(allocator.allocate(size ? size : 1, 4));
    if (!bytes)
        QUERN_OUT_OF_MEMORY();
    input.read(bytes, static_cast<std::streamsize>(size));
    if (!input.good()) {
        allocator.free(bytes);
        QUERN_RAISE(IOException, FileReadException::kMessage, sourceName);
    }
    setCode(bytes, size, sourceName);
    allocator.free(bytes);
}

void CodeResource::setCode(const char* text, u64 length, const char* name)
{
    suspend();
    loadCodeImpl(text, length, name ? name : "");
    onLoaded(true);
    m_text.assign(text, length);
    touch();
    setState(Loaded);
}

} // namespace quern::assets
