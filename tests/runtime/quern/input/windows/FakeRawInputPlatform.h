#pragma once
// A scripted raw-input system: injected devices, messages and records, and
// HID parser answers given as the pressed usages and value readings each
// report stands for (a report's first byte picks its reading).

#include "quern/input/windows/RawInputPlatform.h"

#include <cstring>
#include <deque>
#include <map>

namespace quern::testing {

struct FakeHidValue {
    u32 scaledStatus = input::kHidSuccess;
    i32 scaled = 0;
    u32 rawStatus = input::kHidSuccess;
    u32 raw = 0;
};

struct FakeHidReading {
    std::vector<u16> pressed;
    std::map<u16, FakeHidValue> values; // by usage
};

struct FakeRawDevice {
    input::RawInputHandle handle = 0;
    u32 type = input::kRawInputMouse;
    std::string name;
    bool nameFails = false;
    input::RawInputDeviceInfo info;
    u32 capsStatus = input::kHidSuccess;
    input::HidCaps caps;
    std::vector<input::HidButtonCaps> buttonCaps;
    std::vector<input::HidValueCaps> valueCaps;
};

class FakeRawInputPlatform final : public input::RawInputPlatform {
public:
    bool getDeviceCount(u32& count) override
    {
        count = static_cast<u32>(devices.size());
        return !countFails;
    }
    bool getDeviceList(std::vector<input::RawInputDeviceEntry>& list) override
    {
        if (listFails)
            return false;
        list.clear();
        for (const FakeRawDevice& d : devices)
            list.push_back({ d.handle, d.type });
        return true;
    }
    bool getDeviceName(input::RawInputHandle handle, std::string& name) override
    {
        const FakeRawDevice* d = find(handle);
        if (!d || d->nameFails)
            return false;
        name = d->name;
        return true;
    }
    bool getDeviceInfo(input::RawInputHandle handle, input::RawInputDeviceInfo& info) override
    {
        const FakeRawDevice* d = find(handle);
        if (!d)
            return false;
        info = d->info;
        return true;
    }
    bool getPreparsedData(input::RawInputHandle handle, std::vector<u8>& data) override
    {
        ++preparsedReads;
        const FakeRawDevice* d = find(handle);
        if (!d)
            return false;
        data.assign(8, static_cast<u8>(handle)); // opaque to the back end
        return true;
    }
    u32 lastError() override { return 5; }

    u32 getRawInputSize(u64 record) override
    {
        const auto it = records.find(record);
        return it == records.end() ? 0 : static_cast<u32>(it->second.size());
    }
    bool readRawInput(u64 record, void* buffer, u32 size) override
    {
        const auto it = records.find(record);
        if (it == records.end() || size != it->second.size())
            return false;
        std::memcpy(buffer, it->second.data(), size);
        return true;
    }

    bool peekMessage(input::WindowHandle window, input::PlatformMessage& message) override
    {
        for (auto it = messages.begin(); it != messages.end(); ++it) {
            if (window == 0 || it->window == window) {
                message = *it;
                messages.erase(it);
                return true;
            }
        }
        return false;
    }
    void translateAndDispatch(const input::PlatformMessage&) override { ++dispatched; }
    bool registerRawInputDevices(const input::RawInputRegistration* entries, u32 count) override
    {
        registrations.push_back(std::vector<input::RawInputRegistration>(entries, entries + count));
        if (count == 4 && refuseJoysticks)
            return false;
        return !registrationFails;
    }
    input::WindowHandle getFocus() override { return focus; }

    input::CursorHandle getCursor() override { return cursor; }
    void setCursor(input::CursorHandle c) override { cursor = c; }
    void setClassCursor(input::WindowHandle, input::CursorHandle c) override { classCursor = c; }
    void clientToScreen(input::WindowHandle, i32& x, i32& y) override
    {
        x += 100;
        y += 200;
    }
    void setCursorPosition(i32 x, i32 y) override
    {
        cursorX = x;
        cursorY = y;
    }

    bool loadHidLibrary() override
    {
        ++hidLoads;
        return hidAvailable;
    }
    u32 hidGetCaps(const std::vector<u8>& preparsed, input::HidCaps& caps) override
    {
        const FakeRawDevice* d = find(preparsed.at(0));
        caps = d->caps;
        return d->capsStatus;
    }
    u32 hidGetButtonCaps(const std::vector<u8>& preparsed, std::vector<input::HidButtonCaps>& caps) override
    {
        caps = find(preparsed.at(0))->buttonCaps;
        return input::kHidSuccess;
    }
    u32 hidGetValueCaps(const std::vector<u8>& preparsed, std::vector<input::HidValueCaps>& caps) override
    {
        caps = find(preparsed.at(0))->valueCaps;
        return input::kHidSuccess;
    }
    u32 hidGetUsages(u16 page, std::vector<u16>& usages, const std::vector<u8>&, const u8* report, u32) override
    {
        if (page != input::kHidUsagePageButton)
            return input::kHidUsageNotFound;
        const FakeHidReading& reading = readings.at(report[0]);
        if (reading.pressed.size() > usages.size())
            return input::kHidBufferTooSmall;
        usages = reading.pressed;
        return input::kHidSuccess;
    }
    u32 hidGetUsageValue(u16, u16 usage, u32& value, const std::vector<u8>&, const u8* report, u32) override
    {
        const FakeHidValue& v = readings.at(report[0]).values.at(usage);
        value = v.raw;
        return v.rawStatus;
    }
    u32 hidGetScaledUsageValue(u16, u16 usage, i32& value, const std::vector<u8>&, const u8* report, u32) override
    {
        const FakeHidValue& v = readings.at(report[0]).values.at(usage);
        value = v.scaled;
        return v.scaledStatus;
    }

    const FakeRawDevice* find(u64 handle) const
    {
        for (const FakeRawDevice& d : devices) {
            if (d.handle == handle)
                return &d;
        }
        return nullptr;
    }

    std::vector<FakeRawDevice> devices;
    bool countFails = false;
    bool listFails = false;
    std::map<u64, std::vector<u8>> records;
    std::deque<input::PlatformMessage> messages;
    std::vector<std::vector<input::RawInputRegistration>> registrations;
    bool refuseJoysticks = false;
    bool registrationFails = false;
    input::WindowHandle focus = 0;
    input::CursorHandle cursor = 77;
    input::CursorHandle classCursor = 77;
    i32 cursorX = 0;
    i32 cursorY = 0;
    bool hidAvailable = true;
    int hidLoads = 0;
    int dispatched = 0;
    int preparsedReads = 0;
    std::vector<FakeHidReading> readings;
};

} // namespace quern::testing
