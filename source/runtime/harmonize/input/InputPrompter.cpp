#include "harmonize/input/InputPrompter.h"

#include "harmonize/input/InputSwitcher.h"
#include "harmonize/levels/LevelList.h"
#include "quern/input/GameControllerMapping.h"
#include "quern/input/InputBackEnd.h"
#include "quern/input/InputContext.h"
#include "quern/input/InputManager.h"
#include "quern/input/InputNames.h"
#include "quern/platform/ErrorReporting.h"

namespace harmonize {
namespace {

using namespace quern::input;

// A control the prompt text named no binding for, like ControlName::None.
constexpr i32 kUnmapped = 3;

// The level list's global record holds the prompt atlases among its ten ids.
constexpr u64 kWirelessPromptAtlasOffset = LevelList::kGlobalAssetOffsets[6];
constexpr u64 kDefaultPromptAtlasOffset = LevelList::kGlobalAssetOffsets[7];
constexpr u64 kXboxOnePromptAtlasOffset = LevelList::kGlobalAssetOffsets[8];

// Which configured binding list a control of the controls menu shows.
i32 bindingListOf(const ControlName& query)
{
    if (query.kind == ControlName::State && query.value >= kHeldLeft && query.value <= kHeldJump)
        return query.value; // the lists start with the five held states, in order
    if (query.kind == ControlName::Action && query.value == kActionHarmonize)
        return kBindingSuit;
    QUERN_FATAL("Unreachable code hit");
}

bool isMapped(i32 kind)
{
    switch (kind) {
    case ControlName::None:
    case kUnmapped:
        return false;
    case ControlName::Action:
    case ControlName::State:
        return true;
    default:
        QUERN_FATAL_INVALID_ENUM("InputMappingType");
    }
}

} // namespace

InputPrompter::InputPrompter(const LevelList& levelList, const InputSwitcher& switcher)
    : m_levelList(levelList)
    , m_switcher(switcher)
{
}

void InputPrompter::onInputDeviceChanged(u8 device, InputManager& manager)
{
    m_manager = &manager;
    if (device == kNoDevice)
        return;
    m_activeDevice = device;
    InputBackEnd* backEnd = manager.getBackEnd();
    if (!backEnd)
        return;
    InputDeviceInfo info;
    backEnd->getDeviceInfo(device, info);
    m_deviceKind = info.kind;
    if (info.kind != kInputDeviceGameController)
        return;
    const i32 type = info.mapping ? info.mapping->archetype : kArchetypeGeneric;
    switch (type) {
    case kArchetypeGeneric:
    case kArchetypeXbox360:
    case kArchetypeWirelessA:
        m_atlasId = m_levelList.globalAssetId(kDefaultPromptAtlasOffset);
        break;
    case kArchetypeXboxOne:
        m_atlasId = m_levelList.globalAssetId(kXboxOnePromptAtlasOffset);
        break;
    case kArchetypeWirelessB:
        m_atlasId = m_levelList.globalAssetId(kWirelessPromptAtlasOffset);
        break;
    default:
        break; // a type without glyphs of its own keeps the last atlas
    }
}

void InputPrompter::getBindings(const ControlName& query, InputOriginList& out) const
{
    out.count = 0;
    const InputContext* context = contextOf(query.switcherState);
    if (!context) {
        const InputOriginList& configured = bindingList(bindingListOf(query));
        out.append(configured.origins, configured.count);
        return;
    }
    if (!isMapped(query.kind))
        return;
    Binding binding;
    if (!findBinding(query, *context, binding))
        return;
    if (const InputOrigin origin = originOf(binding); origin != InputOrigin::Unknown)
        *out.append(nullptr, 1) = static_cast<i32>(origin);
}

const char* InputPrompter::getBindingName(const ControlName& query) const
{
    if (!isMapped(query.kind))
        return "unknown";
    // The configured bindings have no context to search: they fall back to
    // the control's name like an unbound control.
    Binding binding;
    if (const InputContext* context = contextOf(query.switcherState); context && findBinding(query, *context, binding))
        if (const char* name = getInputName(binding.eventType, binding.code))
            return name;
    return query.kind == ControlName::Action ? inputActionName(query.value) : inputStateName(query.value);
}

std::string InputPrompter::promptName(const ControlName& query) const
{
    std::string name = getBindingName(query);
    for (char& c : name)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return name;
}

u64 InputPrompter::promptAtlasId() const
{
    return m_atlasId != 0 ? m_atlasId : m_levelList.globalAssetId(kDefaultPromptAtlasOffset);
}

bool InputPrompter::findBinding(const ControlName& query, const InputContext& context, Binding& found) const
{
    const i32 kind = m_activeDevice == kNoDevice ? kInputDeviceGameController : m_deviceKind;
    // A state binding's event class is the event type of the input going down.
    const auto matches = [&](i32 value, i32 code, i32 eventType) {
        if (value != query.value || code < 0 || inputDeviceKindOfEvent(static_cast<quern::u16>(eventType)) != kind)
            return false;
        found = { static_cast<quern::u16>(eventType), code };
        return true;
    };
    if (query.kind == ControlName::Action) {
        const quern::containers::Array& bindings = context.actionBindings();
        for (u64 i = 0; i < bindings.count(); ++i) {
            const auto& binding = bindings.at<ActionBinding>(i);
            if (matches(binding.action, binding.code, binding.eventType))
                return true;
        }
        return false;
    }
    const quern::containers::Array& bindings = context.stateBindings();
    for (u64 i = 0; i < bindings.count(); ++i) {
        const auto& binding = bindings.at<StateBinding>(i);
        if (matches(binding.state, binding.code, binding.eventClass))
            return true;
    }
    return false;
}

InputOrigin InputPrompter::originOf(const Binding& binding) const
{
    InputBackEnd* backEnd = m_manager ? m_manager->getBackEnd() : nullptr;
    if (m_activeDevice == kNoDevice || !backEnd)
        return getControllerInputOrigin(binding.eventType, binding.code);
    return backEnd->getInputOrigin(m_activeDevice, binding.eventType, binding.code);
}

const InputContext* InputPrompter::contextOf(i32 switcherState) const
{
    if (switcherState < 0 || switcherState >= kInputSwitcherStateCount)
        return nullptr;
    return &m_switcher.context(switcherState);
}

} // namespace harmonize
