#pragma once
// Handlers and fixtures for the loading tests: a handler that records its
// stages and creates counting resources, over a blob depot built by the
// content tool.

#include "DepotTestContent.h"
#include "ResourceTestSupport.h"

#include "quern/assets/AssetHandlerRegistry.h"
#include "quern/assets/BlobDepot.h"
#include "quern/assets/DefaultAssetLoaderContext.h"
#include "quern/assets/DefaultResourceCache.h"
#include "quern/io/ByteSource.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quern::test {

inline constexpr u64 kTestType = 0x5e5e5e5e12345678ull;

struct HandlerLog {
    std::mutex mutex;
    std::vector<std::string> stages;
    std::vector<std::string> loadedBytes;
    std::vector<u32> extraHandles; // handles of resources beyond the first
    int created = 0;
    int loads = 0;
    bool scratchWasZero = true;
    std::vector<const void*> scratchBlocks; // the scratch memory each load saw
};

struct HandlerSetup {
    const char* name = "handler";
    u64 typeId = kTestType;
    const char* format = assets::kNativeAssetFormat;
    u64 scratchBytes = 0;
    std::vector<u32> subIndices = { 0 }; // resources the load creates
};

class RecordingHandler : public assets::AssetHandler {
public:
    RecordingHandler(HandlerLog& log, HandlerSetup setup)
        : m_log(log)
        , m_setup(std::move(setup))
    {
    }

    void prepare(ByteSource&, assets::AssetLoaderContext&) override { record("prepare"); }
    void preload(assets::AssetLoaderContext&) override { record("preload"); }
    void load(ByteSource& source, assets::AssetLoaderContext& context) override
    {
        record("load");
        std::string bytes(source.size(), '\0');
        source.read(bytes.data(), bytes.size());
        auto& loader = static_cast<assets::DefaultAssetLoaderContext&>(context);
        bool zero = loader.scratchSize() == m_setup.scratchBytes;
        for (u64 i = 0; i < loader.scratchSize(); ++i)
            zero = zero && static_cast<const u8*>(loader.scratch())[i] == 0;
        if (loader.scratch())
            static_cast<u8*>(loader.scratch())[0] = 0xff; // the next load must get it zeroed again

        std::lock_guard<std::mutex> lock(m_log.mutex);
        ++m_log.loads;
        m_log.scratchWasZero = m_log.scratchWasZero && zero;
        m_log.scratchBlocks.push_back(loader.scratch());
        m_log.loadedBytes.push_back(bytes);
        for (size_t i = 0; i < m_setup.subIndices.size(); ++i) {
            assets::ResourceRecord record;
            bool created = false;
            context.createResourceObject<CountingResource>(
                m_setup.typeId, m_setup.subIndices[i], record, created, nullptr, m_setup.subIndices[i]);
            m_log.created += created ? 1 : 0;
            if (i > 0)
                m_log.extraHandles.push_back(record.handle);
        }
    }
    void finalize(assets::AssetLoaderContext&) override { record("finalize"); }
    void link(assets::AssetLoaderContext&) override { record("link"); }
    void describe(assets::AssetHandlerInfo& info) override
    {
        info.format = m_setup.format;
        info.typeId = m_setup.typeId;
        info.scratchBytes = m_setup.scratchBytes;
    }

    const char* name() const { return m_setup.name; }

private:
    void record(const char* stage)
    {
        std::lock_guard<std::mutex> lock(m_log.mutex);
        m_log.stages.push_back(std::string(m_setup.name) + ":" + stage);
    }

    HandlerLog& m_log;
    HandlerSetup m_setup;
};

// A registry installed as the process registry for one test, a blob depot
// over the given assets and a cache.
class LoadingFixture : public ::testing::Test {
protected:
    void SetUp() override { assets::AssetHandlerRegistry::setInstance(&registry); }
    void TearDown() override
    {
        for (u32 handle : log.extraHandles)
            cache.release(handle);
        assets::AssetHandlerRegistry::setInstance(nullptr);
    }

    void buildDepot(const std::vector<ContentAsset>& assets)
    {
        content.build(assets);
        depot = std::make_unique<assets::BlobDepot>();
        depot->openIndex(content.out().c_str());
    }

    RecordingHandler* addHandler(HandlerSetup setup = {})
    {
        return registry.create<RecordingHandler>(log, std::move(setup));
    }

    HandlerLog log;
    assets::AssetHandlerRegistry registry;
    DepotContent content;
    std::unique_ptr<assets::BlobDepot> depot;
    assets::DefaultResourceCache cache;
};

} // namespace quern::test
