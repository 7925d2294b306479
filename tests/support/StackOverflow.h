#pragma once
// Unbounded recursion for the crash-handler tests: it runs the calling
// thread's stack out, so the stack-overflow report can be checked.

namespace crash_fixture {

__attribute__((noinline)) inline int recurse(int depth)
{
    volatile char block[1024];
    block[0] = static_cast<char>(depth);
    if (block[0] == 127 && depth < 0) // never true; keeps the recursion unbounded
        return 0;
    return recurse(depth + 1) + block[0];
}

} // namespace crash_fixture
