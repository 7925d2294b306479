// The raw-input back end on arbitrary records: keyboard, mouse and HID data of
// any length and content, for a keyboard, a mouse and a gamepad. Records come
// from the system, but a broken driver or a hostile device can make them say
// anything; nothing may be read outside them and axis values stay in range.
//
// Input: a sequence of [selector, length, length bytes]. The selector picks
// the device and the record type; the bytes follow the record header.

#include "FuzzSupport.h"

#include "quern/containers/EventQueue.h"
#include "quern/input/InputManager.h"
#include "quern/input/windows/Win32RawInputBackEnd.h"
#include "runtime/quern/input/windows/FakeRawInputPlatform.h"

#include <cstring>

namespace {

using namespace quern;
using namespace quern::input;

// Readings for every report's first byte, covering every status the back end
// tells apart.
std::vector<testing::FakeHidReading> makeReadings()
{
    const u32 statuses[] = { kHidSuccess, kHidNull, kHidValueOutOfRange, kHidBadLogPhyValues, kHidUsageNotFound };
    std::vector<testing::FakeHidReading> readings(256);
    for (u32 i = 0; i < 256; ++i) {
        readings[i].pressed = { static_cast<u16>(i % 11), static_cast<u16>((i * 7) % 13), static_cast<u16>(i) };
        for (const u16 usage : { 0x30, 0x31, 0x37, 0x39, 0x40 }) {
            testing::FakeHidValue value;
            value.scaledStatus = statuses[(i + usage) % 5];
            value.scaled = static_cast<i32>(i * 40000u - 5000000u);
            value.rawStatus = statuses[(i * 3 + usage) % 5];
            value.raw = i * 0x01010101u;
            readings[i].values[usage] = value;
        }
    }
    return readings;
}

testing::FakeRawDevice device(u64 handle, u32 type, const char* name)
{
    testing::FakeRawDevice d;
    d.handle = handle;
    d.type = type;
    d.name = name;
    d.info.type = type;
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const u8* data, std::size_t size)
{
    fuzz::initialize();
    static const std::vector<testing::FakeHidReading> readings = makeReadings();

    testing::FakeRawInputPlatform platform;
    testing::FakeRawDevice pad = device(4, kRawInputHid, "pad");
    pad.info.usagePage = kHidUsagePageGenericDesktop;
    pad.info.usage = kHidUsageGamepad;
    pad.caps.numberInputButtonCaps = 1;
    pad.caps.numberInputValueCaps = 5;
    pad.buttonCaps = { { kHidUsagePageButton, 1, 12 } };
    pad.valueCaps = { { 1, 0x30, 8, 0, 255 }, { 1, 0x31, 16, -32768, 32767 }, { 1, 0x37, 8, 0, 255 },
        { 1, 0x39, 4, 1, 8 }, { 1, 0x40, 33, 5, 5 } };
    platform.devices = { device(1, kRawInputKeyboard, "keyboard"), device(2, kRawInputMouse, "mouse"), pad };
    platform.readings = readings;

    Win32RawInputBackEnd backEnd(&platform);
    InputBackEndStatus status;
    backEnd.open(status);
    containers::EventQueue ring(nullptr);
    ring.reserve(InputManager::kRingSize);

    u64 at = 0;
    u64 record = 1;
    while (at + 2 <= size) {
        const u8 selector = data[at];
        const u64 length = std::min<u64>(data[at + 1], size - at - 2);
        std::vector<u8> bytes(kRawInputHeaderSize + length, 0);
        const u32 type = selector % 4; // 3: a type the back end does not know
        const u64 handle = u64 { 1 } << ((selector / 4) % 3); // 1, 2 or 4
        std::memcpy(bytes.data(), &type, 4);
        const u32 total = static_cast<u32>(bytes.size());
        std::memcpy(bytes.data() + 4, &total, 4);
        std::memcpy(bytes.data() + 8, &handle, 8);
        std::memcpy(bytes.data() + kRawInputHeaderSize, data + at + 2, length);
        platform.records[record] = std::move(bytes);
        platform.messages.push_back({ 0x1000, kMessageInput, 0, record });
        ++record;
        at += 2 + length;
    }
    backEnd.pollEvents(ring);
    while (!ring.isEmpty()) {
        InputEvent event;
        std::memcpy(&event, containers::EventQueue::payload(ring.front()), sizeof event);
        if (event.type == ControllerAxis && (event.value < -32768 || event.value > 32767))
            __builtin_trap();
        ring.pop();
    }
    return 0;
}
