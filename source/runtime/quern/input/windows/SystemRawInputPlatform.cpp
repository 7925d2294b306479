// Raw input on this system. There is no raw-input interface here, so the
// device queries fail (a machine without raw-input devices answers the same),
// no message ever arrives and the cursor calls change nothing. The HID parser
// library is looked up for real and is not found.

#include "quern/input/windows/RawInputPlatform.h"

#include "quern/platform/DynamicLibrary.h"

#include <algorithm>
#include <cerrno>

namespace quern::input {

namespace {

// The HID entry points, over this layer's own records.
using HidGetCapsFunction = u32 (*)(const u8* preparsed, u64 size, HidCaps* caps);
using HidGetButtonCapsFunction = u32 (*)(const u8* preparsed, u64 size, HidButtonCaps* caps, u16* count);
using HidGetValueCapsFunction = u32 (*)(const u8* preparsed, u64 size, HidValueCaps* caps, u16* count);
using HidGetUsagesFunction
    = u32 (*)(u16 page, u16* usages, u32* count, const u8* preparsed, u64 size, const u8* report, u32 length);
using HidGetUsageValueFunction
    = u32 (*)(u16 page, u16 usage, u32* value, const u8* preparsed, u64 size, const u8* report, u32 length);
using HidGetScaledUsageValueFunction
    = u32 (*)(u16 page, u16 usage, i32* value, const u8* preparsed, u64 size, const u8* report, u32 length);

class SystemRawInputPlatform final : public RawInputPlatform {
public:
    bool getDeviceCount(u32& count) override
    {
        count = 0;
        return fail();
    }
    bool getDeviceList(std::vector<RawInputDeviceEntry>& devices) override
    {
        devices.clear();
        return fail();
    }
    bool getDeviceName(RawInputHandle, std::string&) override { return fail(); }
    bool getDeviceInfo(RawInputHandle, RawInputDeviceInfo&) override { return fail(); }
    bool getPreparsedData(RawInputHandle, std::vector<u8>&) override { return fail(); }
    u32 lastError() override { return ENOSYS; }

    u32 getRawInputSize(u64) override { return 0; }
    bool readRawInput(u64, void*, u32) override { return fail(); }

    bool peekMessage(WindowHandle, PlatformMessage&) override { return false; }
    void translateAndDispatch(const PlatformMessage&) override { }
    bool registerRawInputDevices(const RawInputRegistration*, u32) override { return fail(); }
    WindowHandle getFocus() override { return 0; }

    CursorHandle getCursor() override { return 0; }
    void setCursor(CursorHandle) override { }
    void setClassCursor(WindowHandle, CursorHandle) override { }
    void clientToScreen(WindowHandle, i32&, i32&) override { }
    void setCursorPosition(i32, i32) override { }

    bool loadHidLibrary() override
    {
        const platform::LibraryResult library = platform::loadDynamicLibrary("hid.dll");
        if (!library.handle)
            return false;
        m_getCaps = reinterpret_cast<HidGetCapsFunction>(platform::getLibrarySymbol(library.handle, "HidP_GetCaps"));
        m_getButtonCaps = reinterpret_cast<HidGetButtonCapsFunction>(
            platform::getLibrarySymbol(library.handle, "HidP_GetButtonCaps"));
        m_getValueCaps = reinterpret_cast<HidGetValueCapsFunction>(
            platform::getLibrarySymbol(library.handle, "HidP_GetValueCaps"));
        m_getUsages
            = reinterpret_cast<HidGetUsagesFunction>(platform::getLibrarySymbol(library.handle, "HidP_GetUsages"));
        m_getUsageValue = reinterpret_cast<HidGetUsageValueFunction>(
            platform::getLibrarySymbol(library.handle, "HidP_GetUsageValue"));
        m_getScaledUsageValue = reinterpret_cast<HidGetScaledUsageValueFunction>(
            platform::getLibrarySymbol(library.handle, "HidP_GetScaledUsageValue"));
        if (m_getCaps && m_getButtonCaps && m_getValueCaps && m_getUsages && m_getUsageValue && m_getScaledUsageValue)
            return true;
        platform::unloadDynamicLibrary(library.handle);
        return false;
    }

    u32 hidGetCaps(const std::vector<u8>& preparsed, HidCaps& caps) override
    {
        return m_getCaps(preparsed.data(), preparsed.size(), &caps);
    }
    u32 hidGetButtonCaps(const std::vector<u8>& preparsed, std::vector<HidButtonCaps>& caps) override
    {
        u16 count = static_cast<u16>(caps.size());
        const u32 status = m_getButtonCaps(preparsed.data(), preparsed.size(), caps.data(), &count);
        caps.resize(std::min<u64>(count, caps.size()));
        return status;
    }
    u32 hidGetValueCaps(const std::vector<u8>& preparsed, std::vector<HidValueCaps>& caps) override
    {
        u16 count = static_cast<u16>(caps.size());
        const u32 status = m_getValueCaps(preparsed.data(), preparsed.size(), caps.data(), &count);
        caps.resize(std::min<u64>(count, caps.size()));
        return status;
    }
    u32 hidGetUsages(
        u16 page, std::vector<u16>& usages, const std::vector<u8>& preparsed, const u8* report, u32 length) override
    {
        u32 count = static_cast<u32>(usages.size());
        const u32 status = m_getUsages(page, usages.data(), &count, preparsed.data(), preparsed.size(), report, length);
        usages.resize(std::min<u64>(count, usages.size()));
        return status;
    }
    u32 hidGetUsageValue(
        u16 page, u16 usage, u32& value, const std::vector<u8>& preparsed, const u8* report, u32 length) override
    {
        return m_getUsageValue(page, usage, &value, preparsed.data(), preparsed.size(), report, length);
    }
    u32 hidGetScaledUsageValue(
        u16 page, u16 usage, i32& value, const std::vector<u8>& preparsed, const u8* report, u32 length) override
    {
        return m_getScaledUsageValue(page, usage, &value, preparsed.data(), preparsed.size(), report, length);
    }

private:
    static bool fail() { return false; }

    HidGetCapsFunction m_getCaps = nullptr;
    HidGetButtonCapsFunction m_getButtonCaps = nullptr;
    HidGetValueCapsFunction m_getValueCaps = nullptr;
    HidGetUsagesFunction m_getUsages = nullptr;
    HidGetUsageValueFunction m_getUsageValue = nullptr;
    HidGetScaledUsageValueFunction m_getScaledUsageValue = nullptr;
};

} // namespace

RawInputPlatform& systemRawInputPlatform()
{
    static SystemRawInputPlatform platform;
    return platform;
}

} // namespace quern::input
