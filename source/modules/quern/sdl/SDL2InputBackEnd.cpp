#include "quern/sdl/SDL2InputBackEnd.h"

#include "quern/containers/EventQueue.h"
#include "quern/debug/Log.h"
#include "quern/graphics/Display.h"
#include "quern/input/InputOrigin.h"
#include "quern/platform/ErrorReporting.h"
#include "quern/sdl/SDL2Library.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace quern::sdl {

namespace {

using ScancodeTable = std::array<i32, SDL2InputBackEnd::kScancodeCount>;

constexpr ScancodeTable buildScancodeTable()
{
    ScancodeTable table {};
    for (i32 i = 0; i < 26; ++i)
        table[4 + i] = 'a' + i;
    for (i32 i = 0; i < 9; ++i)
        table[30 + i] = '1' + i;
    table[39] = '0';
    const i32 singles[][2] = {
        { 40, 13 }, { 41, 27 }, { 42, 8 }, { 43, 9 }, { 44, 32 }, // return, escape, backspace, tab, space
        { 45, 45 }, { 46, 61 }, { 47, 91 }, { 48, 93 }, { 49, 92 }, // - = [ ] backslash
        { 51, 59 }, { 54, 44 }, { 55, 46 }, { 56, 47 }, // ; , . /
        { 57, 301 }, // caps lock
        { 70, 316 }, { 71, 302 }, { 72, 19 }, // print screen, scroll lock, pause
        { 73, 277 }, { 74, 278 }, { 75, 280 }, { 76, 127 }, { 77, 279 }, { 78, 281 }, // insert .. page down
        { 79, 275 }, { 80, 276 }, { 81, 274 }, { 82, 273 }, // right, left, down, up
        { 84, 267 }, { 85, 268 }, { 86, 269 }, { 87, 270 }, { 88, 271 }, // keypad / * - + enter
        { 98, 256 }, { 99, 266 }, // keypad 0, keypad period
        { 103, 272 }, { 104, 294 }, { 105, 295 }, { 106, 296 }, // keypad =, F13 to F15
        { 224, 306 }, { 225, 304 }, { 226, 308 }, { 227, 310 }, // left control, shift, alt, GUI
        { 228, 305 }, { 229, 303 }, { 230, 307 }, { 231, 309 }, // right control, shift, alt, GUI
    };
    for (const auto& entry : singles)
        table[entry[0]] = entry[1];
    for (i32 i = 0; i < 12; ++i)
        table[58 + i] = 282 + i; // F1 to F12
    for (i32 i = 0; i < 9; ++i)
        table[89 + i] = 257 + i; // keypad 1 to 9
    return table;
}

constexpr ScancodeTable kScancodeTable = buildScancodeTable();

// SDL's keyboard state at the end of the last poll: a key down in it is held,
// and SDL's key-down events for it are its repeats.
u8 g_previousKeyboardState[SDL2InputBackEnd::kScancodeCount];

constexpr i32 kGameControllerButtons = 15;
constexpr i32 kGameControllerAxes = 6;
constexpr i32 kHatButtons = 4;
constexpr f32 kGameControllerAxisThreshold = 0.5f;

// Input events and device changes alike: a full ring drops the record.
template <typename Record> void push(containers::EventQueue& ring, u16 type, const Record& record)
{
    if (void* place = ring.push(type, sizeof record))
        std::memcpy(place, &record, sizeof record);
    else
        QUERN_LOG(1) << "Input queue exhausted" << std::endl;
}

input::InputEvent makeEvent(u16 type, u8 device, i32 code, i32 value, i32 button)
{
    input::InputEvent event;
    event.type = type;
    event.device = device;
    event.code = code;
    event.value = value;
    event.button = button;
    return event;
}

} // namespace

i32 SDL2InputBackEnd::keyCodeForScancode(i32 scancode)
{
    return scancode >= 0 && scancode < static_cast<i32>(kScancodeCount) ? kScancodeTable[scancode] : 0;
}

SDL2InputBackEnd::SDL2InputBackEnd(graphics::Display* windowEvents)
    : m_windowEvents(windowEvents)
{
}

SDL2InputBackEnd::~SDL2InputBackEnd()
{
    // After the display unloaded the library its joysticks went with it.
    if (isSDLLoaded())
        close();
}

void SDL2InputBackEnd::open(input::InputBackEndStatus& status)
{
    initSDL2(kInputSubsystems);
    std::memset(g_previousKeyboardState, 0, sizeof g_previousKeyboardState);
    const i32 count = sdl2.SDL_NumJoysticks();
    for (i32 index = 0; index < count; ++index)
        openJoystick(index);
    status = input::InputBackEndStatus {};
}

void SDL2InputBackEnd::close()
{
    for (u64 i = 0; i < m_slotCount; ++i)
        if (m_slots[i].joystick)
            closeSlot(m_slots[i]);
}

u8 SDL2InputBackEnd::openJoystick(i32 index)
{
    SDL_Joystick* joystick = sdl2.SDL_JoystickOpen(index);
    if (!joystick)
        return kNoDevice;
    // SDL hands back a joystick it has open already (with one more reference):
    // the second event of an add pair, or an add event for a joystick opened at start-up.
    const SDL_JoystickID instanceId = sdl2.SDL_JoystickInstanceID(joystick);
    JoystickSlot* free = nullptr;
    for (JoystickSlot& slot : m_slots) {
        if (slot.joystick && slot.instanceId == instanceId) {
            sdl2.SDL_JoystickClose(joystick);
            return kNoDevice;
        }
        if (!slot.joystick && !free)
            free = &slot;
    }
    if (!free) {
        sdl2.SDL_JoystickClose(joystick);
        return kNoDevice;
    }

    const u32 slotIndex = static_cast<u32>(free - m_slots);
    m_slotCount = std::max<u64>(m_slotCount, slotIndex + 1);
    JoystickSlot& slot = *free;
    slot = JoystickSlot {};
    slot.joystick = joystick;
    slot.instanceId = instanceId;
    slot.device = static_cast<u8>(kFirstJoystickDevice + slotIndex);

    if (sdl2.SDL_JoystickIsHaptic(joystick) == 1) {
        slot.haptic = sdl2.SDL_HapticOpenFromJoystick(joystick);
        if (slot.haptic && sdl2.SDL_HapticRumbleSupported(slot.haptic) == SDL_TRUE) {
            slot.rumbleSupported = sdl2.SDL_HapticRumbleInit(slot.haptic) == 0;
            if (!slot.rumbleSupported)
                QUERN_LOG(2) << sdlErrorText() << std::endl;
        }
    }
    i32 buttons = sdl2.SDL_JoystickNumButtons(joystick);
    i32 axes = sdl2.SDL_JoystickNumAxes(joystick);
    slot.mapping.reset();

    const SDL_JoystickGUID guid = sdl2.SDL_JoystickGetDeviceGUID(index);
    std::memcpy(slot.guid, guid.data, sizeof slot.guid);
    if (const char* name = sdl2.SDL_JoystickNameForIndex(index)) {
        std::strncpy(slot.name, name, kNameSize - 1);
        QUERN_LOG(3) << "SDL joystick #" << slotIndex << ": " << name << std::endl;
        if (slot.mapping.applyKnownControllerLayout(name))
            QUERN_LOG(3) << "Joystick recognized and fully supported" << std::endl;
    } else {
        debug::softAssert("No description for joystick", "name", __FILE__, __LINE__);
        std::strncpy(slot.name, "(unnamed game controller)", kNameSize - 1);
    }
    if (std::all_of(slot.guid, slot.guid + sizeof slot.guid, [](u8 byte) { return byte == 0; }))
        QUERN_LOG(2) << "Couldn't get GUID for device " << slot.name << ": " << sdlErrorText() << std::endl;

    if (sdl2.SDL_IsGameController(index)) {
        QUERN_LOG(3) << "Using GameController API for joystick " << slotIndex << std::endl;
        slot.controller = sdl2.SDL_GameControllerOpen(index);
        slot.mapping.applyGameControllerLayout();
        slot.mapping.axisThreshold = kGameControllerAxisThreshold;
        buttons = kGameControllerButtons;
        axes = kGameControllerAxes;
    } else if (sdl2.SDL_JoystickNumHats(joystick) > 0) {
        // Hats count as four buttons after the real ones.
        slot.hatButtonBase = static_cast<u8>(buttons);
        buttons += kHatButtons;
    }
    slot.mapping.validate(axes, buttons);
    return slot.device;
}

void SDL2InputBackEnd::closeSlot(JoystickSlot& slot)
{
    if (slot.controller)
        sdl2.SDL_GameControllerClose(slot.controller);
    if (slot.haptic)
        sdl2.SDL_HapticClose(slot.haptic);
    sdl2.SDL_JoystickClose(slot.joystick);
    slot = JoystickSlot {};
}

SDL2InputBackEnd::JoystickSlot* SDL2InputBackEnd::findSlot(SDL_JoystickID instanceId)
{
    for (JoystickSlot& slot : m_slots)
        if (slot.joystick && slot.instanceId == instanceId)
            return &slot;
    return nullptr;
}

const SDL2InputBackEnd::JoystickSlot* SDL2InputBackEnd::findSlot(SDL_JoystickID instanceId) const
{
    return const_cast<SDL2InputBackEnd*>(this)->findSlot(instanceId);
}

void SDL2InputBackEnd::warpMouse(i32 x, i32 y) { sdl2.SDL_WarpMouseInWindow(nullptr, x, y); }

void SDL2InputBackEnd::showCursor(bool visible) { sdl2.SDL_ShowCursor(visible ? SDL_ENABLE : SDL_DISABLE); }

bool SDL2InputBackEnd::setRelativeMouseMode(bool relative)
{
    m_relativeMouseMode = relative;
    return sdl2.SDL_SetRelativeMouseMode(relative ? SDL_TRUE : SDL_FALSE) == 0;
}

bool SDL2InputBackEnd::translate(const SDL_Event& event, input::InputEvent& out) const
{
    using namespace input;
    constexpr u8 kKeyboard = 0;
    constexpr u8 kMouse = 1;
    switch (event.type) {
    case SDL_KEYDOWN: {
        const SDL_Scancode scancode = event.key.keysym.scancode;
        if (static_cast<u32>(scancode) < kScancodeCount && g_previousKeyboardState[scancode])
            return false;
        out = makeEvent(KeyDown, kKeyboard, keyCodeForScancode(scancode), 0, 0);
        return true;
    }
    case SDL_KEYUP:
        out = makeEvent(KeyUp, kKeyboard, keyCodeForScancode(event.key.keysym.scancode), 0, 0);
        return true;
    case SDL_MOUSEMOTION:
        out = m_relativeMouseMode ? makeEvent(MouseMotion, kMouse, event.motion.xrel, event.motion.yrel, 0)
                                  : makeEvent(MouseMotion, kMouse, event.motion.x, event.motion.y, 0);
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (event.button.button < 1 || event.button.button > 5)
            return false;
        out = makeEvent(event.type == SDL_MOUSEBUTTONDOWN ? MouseButtonDown : MouseButtonUp, kMouse, event.button.x,
            event.button.y, event.button.button - 1);
        return true;
    case SDL_MOUSEWHEEL:
        out = makeEvent(MouseWheel, kMouse, event.wheel.y, static_cast<i32>(event.wheel.direction), event.wheel.y);
        return true;
    default:
        break;
    }

    // Joystick and controller events carry the joystick's instance id in the same place.
    const JoystickSlot* slot = nullptr;
    switch (event.type) {
    case SDL_JOYAXISMOTION:
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
    case SDL_CONTROLLERAXISMOTION:
    case SDL_CONTROLLERBUTTONDOWN:
    case SDL_CONTROLLERBUTTONUP:
        slot = findSlot(event.jaxis.which);
        break;
    default:
        return false;
    }
    if (!slot)
        return false;
    // A controller's buttons and axes come as controller events; its raw
    // joystick events would deliver each input a second time.
    const bool controller = slot->controller != nullptr;
    switch (event.type) {
    case SDL_JOYAXISMOTION:
        if (controller)
            return false;
        out = makeEvent(ControllerAxis, slot->device, event.jaxis.axis, event.jaxis.value, 0);
        return true;
    case SDL_JOYBUTTONDOWN:
    case SDL_JOYBUTTONUP:
        if (controller)
            return false;
        out = makeEvent(event.type == SDL_JOYBUTTONDOWN ? ControllerButtonDown : ControllerButtonUp, slot->device,
            event.jbutton.button, 0, 0);
        return true;
    case SDL_CONTROLLERAXISMOTION:
        out = makeEvent(ControllerAxis, slot->device, event.caxis.axis, event.caxis.value, 0);
        return true;
    default:
        out = makeEvent(event.type == SDL_CONTROLLERBUTTONDOWN ? ControllerButtonDown : ControllerButtonUp,
            slot->device, event.cbutton.button, 0, 0);
        return true;
    }
}

void SDL2InputBackEnd::handleDeviceChange(const SDL_Event& event, containers::EventQueue& ring)
{
    switch (event.type) {
    case SDL_JOYDEVICEADDED:
    case SDL_CONTROLLERDEVICEADDED: {
        const u8 device = openJoystick(event.jdevice.which);
        if (device != kNoDevice)
            push(ring, input::DeviceAdded, input::InputDeviceEvent { input::DeviceAdded, device });
        break;
    }
    case SDL_JOYDEVICEREMOVED:
    case SDL_CONTROLLERDEVICEREMOVED:
        if (JoystickSlot* slot = findSlot(event.jdevice.which)) {
            const u8 device = slot->device;
            closeSlot(*slot);
            push(ring, input::DeviceRemoved, input::InputDeviceEvent { input::DeviceRemoved, device });
        }
        break;
    default:
        break;
    }
}

void SDL2InputBackEnd::passWindowEvent(const SDL_Event& event)
{
    if (!m_windowEvents)
        return;
    if (event.type == SDL_QUIT) {
        m_windowEvents->close();
        return;
    }
    if (event.type != SDL_WINDOWEVENT)
        return;
    switch (event.window.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        m_windowEvents->resize(event.window.data1, event.window.data2);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        m_windowEvents->setActive(true);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        m_windowEvents->setActive(false);
        break;
    default:
        break;
    }
}

void SDL2InputBackEnd::pollEvents(containers::EventQueue& ring)
{
    // SDL_PollEvent pumps SDL's sources itself: a separate pump first would
    // only run the joystick and window updates twice.
    SDL_Event event;
    while (sdl2.SDL_PollEvent(&event)) {
        input::InputEvent translated;
        if (translate(event, translated))
            push(ring, translated.type, translated);
        handleDeviceChange(event, ring);
        passWindowEvent(event);
    }
    int length = 0;
    const u8* state = sdl2.SDL_GetKeyboardState(&length);
    const u64 bytes = std::min<u64>(static_cast<u64>(std::max(length, 0)), kScancodeCount);
    std::memcpy(g_previousKeyboardState, state, bytes);
}

i32 SDL2InputBackEnd::getDeviceCount() { return static_cast<i32>(kFirstJoystickDevice + m_slotCount); }

void SDL2InputBackEnd::getDeviceInfo(u8 device, input::InputDeviceInfo& info)
{
    info = input::InputDeviceInfo {};
    if (device == 0) {
        info.kind = input::kInputDeviceKeyboard;
        info.name = "Keyboard";
        return;
    }
    if (device == 1) {
        info.kind = input::kInputDeviceMouse;
        info.name = "Mouse";
        return;
    }
    info.kind = input::kInputDeviceGameController;
    const u32 slotIndex = device - kFirstJoystickDevice;
    if (slotIndex >= kSlotCount || !m_slots[slotIndex].joystick)
        return;
    const JoystickSlot& slot = m_slots[slotIndex];
    info.name = slot.name;
    info.mapping = &slot.mapping;
    std::memcpy(info.guid, slot.guid, sizeof info.guid);
}

void SDL2InputBackEnd::rumble(u8 device, u16 strength, u32 milliseconds)
{
    if (device < kFirstJoystickDevice)
        return;
    const u32 slotIndex = device - kFirstJoystickDevice;
    if (slotIndex >= m_slotCount || !m_slots[slotIndex].rumbleSupported)
        return;
    SDL_Haptic* haptic = m_slots[slotIndex].haptic;
    if (strength > 0)
        sdl2.SDL_HapticRumblePlay(haptic, static_cast<f32>(strength) / 65535.0f, milliseconds);
    else
        sdl2.SDL_HapticRumbleStop(haptic);
}

input::InputOrigin SDL2InputBackEnd::getInputOrigin(u8 device, u16 type, i32 code)
{
    input::InputDeviceInfo info;
    getDeviceInfo(device, info);
    switch (info.kind) {
    case input::kInputDeviceKeyboard:
        return input::keyCodeToInputOrigin(code);
    case input::kInputDeviceGameController: {
        const i32 archetype = info.mapping && info.mapping->archetype != input::kArchetypeGeneric
            ? info.mapping->archetype
            : input::kArchetypeXbox360;
        return input::getArchetypeInputOrigin(archetype, type, code);
    }
    default:
        return input::InputOrigin::Unknown;
    }
}

} // namespace quern::sdl
