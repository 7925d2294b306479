#include "quern/platform/MessageBox.h"

#include <atomic>
#include <cstdio>

namespace quern::platform {
namespace {
std::atomic<MessageBoxPresenter> g_presenter { &printMessageBox };
} // namespace

MessageBoxButton printMessageBox(const char* text, const char* caption, u32)
{
    std::fprintf(stderr, "%s\n%s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
    return MessageBoxButton::None;
}

MessageBoxButton showMessageBox(const char* text, const char* caption, u32 type)
{
    return g_presenter.load()(text, caption, type);
}

MessageBoxPresenter setMessageBoxPresenter(MessageBoxPresenter presenter)
{
    return g_presenter.exchange(presenter ? presenter : &printMessageBox);
}

void pumpMessages() { }

} // namespace quern::platform
