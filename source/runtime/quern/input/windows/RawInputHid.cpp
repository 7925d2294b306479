// HID joysticks and gamepads of the raw-input back end: opening them through
// the HID parser library and turning their reports into controller events.

#include "quern/input/windows/Win32RawInputBackEnd.h"

#include "quern/LittleEndian.h"
#include "quern/debug/Log.h"
#include "quern/platform/DynamicLibrary.h"
#include "quern/platform/ErrorReporting.h"

#include <algorithm>
#include <cmath>

namespace quern::input {

namespace {

constexpr i32 kNoAxis = -1;
constexpr i32 kUnmappedAxis = -2;

// Generic-desktop usages of axis values: X, Y, Z, Rx, Ry, Rz, slider, hat switch.
i32 axisOfUsage(u16 usage)
{
    switch (usage) {
    case 0x30:
    case 0x31:
    case 0x32:
    case 0x33:
    case 0x34:
    case 0x35:
    case 0x36:
        return usage - 0x30;
    case 0x39:
        return 7;
    case 0x37: // dial
        return kNoAxis;
    default:
        return kUnmappedAxis;
    }
}

// A reading v over the logical range r, mapped linearly onto the full axis
// range: 0 gives -32768, r gives 32767, and nothing falls outside it.
i32 scaleToAxis(f64 v, f64 range)
{
    const f64 scaled = std::floor(v / range * 65535.0 + 0.5) - 32768.0;
    return static_cast<i32>(std::clamp(scaled, -32768.0, 32767.0));
}

} // namespace

const char* getHidStatusText(u32 status)
{
    switch (status) {
    case kHidSuccess:
        return "The routine successfully completed.";
    case kHidNull:
        return "The pointer passed to the routine is null.";
    case kHidInvalidPreparsedData:
        return "The preparsed data is not valid.";
    case kHidInvalidReportType:
        return "The specified report type is not valid.";
    case kHidInvalidReportLength:
        return "The report length is not equal to the length of the collection's reports of that type.";
    case kHidUsageNotFound:
        return "The usage does not exist in any report of the specified report type.";
    case kHidValueOutOfRange:
        return "The usage value is outside its logical range.";
    case kHidBadLogPhyValues:
        return "The usage has a logical or physical range that is not valid.";
    case kHidBufferTooSmall:
        return "The buffer is too small to hold the requested data.";
    case kHidIncompatibleReportId:
        return "The usage is in a report of the collection, but not in the specified report.";
    case kHidIsValueArray:
        return "The usage is a usage value array.";
    case kHidDataIndexNotFound:
        return "The data index does not exist in the collection.";
    case kHidButtonNotPressed:
        return "The button is not set to ON in the report.";
    case kHidReportDoesNotExist:
        return "The specified report does not exist.";
    default:
        return "Unknown status code.";
    }
}

bool Win32RawInputBackEnd::loadHid()
{
    if (!m_hidLoaded && !m_hidFailed) {
        m_hidLoaded = m_platform.loadHidLibrary();
        m_hidFailed = !m_hidLoaded;
    }
    return m_hidLoaded;
}

bool Win32RawInputBackEnd::openHidDevice(Device& device)
{
    if (!loadHid())
        return false;
    RawInputDeviceInfo info;
    if (!m_platform.getDeviceInfo(device.handle, info)) {
        QUERN_LOG(1) << "GetRawInputDeviceInfo failed: " << platform::getSystemErrorText(m_platform.lastError())
                     << std::endl;
        return false;
    }
    if (info.usagePage != kHidUsagePageGenericDesktop
        || (info.usage != kHidUsageJoystick && info.usage != kHidUsageGamepad))
        return false;
    if (!m_platform.getPreparsedData(device.handle, device.preparsed)) {
        QUERN_LOG(1) << "GetRawInputDeviceInfo failed: " << platform::getSystemErrorText(m_platform.lastError())
                     << std::endl;
        return false;
    }
    u32 status = m_platform.hidGetCaps(device.preparsed, device.caps);
    if (status != kHidSuccess) {
        QUERN_LOG(1) << "HidP_GetCaps failed: " << getHidStatusText(status) << std::endl;
        return false;
    }
    device.buttonCaps.resize(device.caps.numberInputButtonCaps);
    status = m_platform.hidGetButtonCaps(device.preparsed, device.buttonCaps);
    if (status != kHidSuccess) {
        QUERN_LOG(1) << "HidP_GetButtonCaps failed: " << getHidStatusText(status) << std::endl;
        return false;
    }
    device.valueCaps.resize(device.caps.numberInputValueCaps);
    status = m_platform.hidGetValueCaps(device.preparsed, device.valueCaps);
    if (status != kHidSuccess) {
        QUERN_LOG(1) << "HidP_GetValueCaps failed: " << getHidStatusText(status) << std::endl;
        return false;
    }
    device.buttonCount = 0;
    if (!device.buttonCaps.empty() && device.buttonCaps[0].usageMax >= device.buttonCaps[0].usageMin)
        device.buttonCount = device.buttonCaps[0].usageMax - device.buttonCaps[0].usageMin + 1;
    device.previousButtons.assign(static_cast<u64>(device.buttonCount), 0);
    return true;
}

void Win32RawInputBackEnd::translateHid(const u8* data, u32 size, Device& device, u8 index)
{
    if (size < kRawHidHeaderSize)
        return;
    const u32 reportSize = readLittleEndian32(data);
    const u32 reportCount = readLittleEndian32(data + 4);
    const u64 available = size - kRawHidHeaderSize;
    // Reports that the record does not hold whole are never read.
    if (reportSize == 0 || static_cast<u64>(reportSize) * reportCount > available)
        return;
    for (u32 i = 0; i < reportCount; ++i)
        translateHidReport(device, index, data + kRawHidHeaderSize + static_cast<u64>(i) * reportSize, reportSize);
}

void Win32RawInputBackEnd::translateHidReport(Device& device, u8 index, const u8* report, u32 length)
{
    if (!m_platform.getPreparsedData(device.handle, device.preparsed))
        return;
    InputEvent event;
    event.device = index;

    // Buttons: one event per transition, in button order.
    std::vector<u16> usages(static_cast<u64>(device.buttonCount));
    if (device.buttonCount > 0
        && m_platform.hidGetUsages(kHidUsagePageButton, usages, device.preparsed, report, length) == kHidSuccess) {
        std::vector<u8> pressed(static_cast<u64>(device.buttonCount), 0);
        const u16 first = device.buttonCaps[0].usageMin;
        for (const u16 usage : usages) {
            if (usage >= first && usage - first < device.buttonCount)
                pressed[usage - first] = 1;
        }
        for (i32 button = 0; button < device.buttonCount; ++button) {
            if (pressed[button] == device.previousButtons[button])
                continue;
            event.type = pressed[button] ? ControllerButtonDown : ControllerButtonUp;
            event.code = button;
            event.value = 0;
            push(event);
        }
        device.previousButtons = std::move(pressed);
    }

    // Axes: one event per value the report carries.
    for (const HidValueCaps& caps : device.valueCaps) {
        const i32 axis = axisOfUsage(caps.usage);
        if (axis == kNoAxis)
            continue;
        if (axis == kUnmappedAxis) {
            debug::softAssert("Can't map HID usage to axis", "axis != kUnmappedAxis", __FILE__, __LINE__);
            continue;
        }
        i32 scaledValue = 0;
        u32 status = m_platform.hidGetScaledUsageValue(
            caps.usagePage, caps.usage, scaledValue, device.preparsed, report, length);
        f64 value = scaledValue;
        if (status == kHidValueOutOfRange || status == kHidBadLogPhyValues) {
            u32 raw = 0;
            status = m_platform.hidGetUsageValue(caps.usagePage, caps.usage, raw, device.preparsed, report, length);
            const u32 mask = caps.bitSize >= 32 ? ~0u : (1u << caps.bitSize) - 1u;
            value = static_cast<f64>(raw & mask) - caps.logicalMin;
        }
        if (status == kHidNull)
            continue;
        if (status != kHidSuccess) {
            QUERN_LOG(2) << "Failed to read value from axis " << axis << ": " << getHidStatusText(status) << std::endl;
            continue;
        }
        const f64 range = static_cast<f64>(caps.logicalMax) - caps.logicalMin;
        if (range <= 0.0)
            continue;
        event.type = ControllerAxis;
        event.code = axis;
        event.value = scaleToAxis(value, range);
        push(event);
    }
}

} // namespace quern::input
