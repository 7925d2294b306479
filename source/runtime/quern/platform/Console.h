#pragma once
// Console queries: colour escapes are only written where a terminal shows them.

namespace quern::platform {

enum class StandardStream { Output, Error };

bool isTerminal(StandardStream stream);

} // namespace quern::platform
