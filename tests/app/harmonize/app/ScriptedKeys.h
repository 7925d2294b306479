#pragma once
// A level's replay script played as the keys a person would press: each tick's
// key changes pushed into SDL, so the input goes the whole way through the App.

#include "SdlInput.h"

#include "ReplayScript.h"
#include "harmonize/input/InputActions.h"
#include "quern/containers/Array.h"
#include "quern/input/InputReplay.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace harmonize::testing {

class ScriptedKeys {
public:
    explicit ScriptedKeys(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        std::string error;
        EXPECT_TRUE(quern::replaybuild::readReplayScript(text.str(), m_replay, error)) << error;
        std::memset(m_actions.expand(kActionHarmonize + 1), 0, sizeof(quern::i32) * (kActionHarmonize + 1));
        std::memset(m_held.expand(kHeldJump + 1), 0, kHeldJump + 1);
        std::memset(m_axes.expand(3), 0, sizeof(quern::i32) * 3);
    }
    // Pushes the key changes of the next tick into SDL.
    void pushNextTick()
    {
        std::memset(m_actions.data(), 0, m_actions.count() * sizeof(quern::i32));
        m_player.playFrame(m_replay, { &m_actions, &m_held, &m_axes });
        static constexpr SDL_Scancode kKeys[] = { SDL_SCANCODE_A, SDL_SCANCODE_D, SDL_SCANCODE_W, SDL_SCANCODE_S,
            SDL_SCANCODE_SPACE };
        for (quern::i32 state = 0; state <= kHeldJump; ++state) {
            const bool held = m_held.at<quern::i8>(static_cast<quern::u64>(state)) != 0;
            if (held != m_down[state])
                pushKey(kKeys[state], held);
            m_down[state] = held;
        }
        if (m_actions.at<quern::i32>(kActionHarmonize) > 0) {
            pushKey(SDL_SCANCODE_RETURN, true);
            pushKey(SDL_SCANCODE_RETURN, false);
        }
    }

private:
    quern::input::InputReplay m_replay;
    quern::input::InputReplayPlayer m_player;
    quern::containers::Array m_actions { sizeof(quern::i32), alignof(quern::i32) };
    quern::containers::Array m_held { 1, 1 };
    quern::containers::Array m_axes { sizeof(quern::i32), alignof(quern::i32) };
    bool m_down[kHeldJump + 1] {};
};

} // namespace harmonize::testing
