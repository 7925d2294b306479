#pragma once
// Intrusive reference counting for shared engine objects, and the handle that
// holds one reference on any counted object through three functions, so that
// containers of handles copy and drop references without knowing the class.

#include "quern/Types.h"

#include <atomic>

namespace quern {

class RefCounted {
public:
    // Graphics resources start at 0: their first holder takes the first reference.
    explicit RefCounted(i32 initialCount = 0)
        : m_refCount(initialCount)
    {
    }
    virtual ~RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;

    // Count + 1.
    static void retain(void* object);
    // Count - 1 and nothing else: no hook, no destruction.
    static void decrementRef(void* object);
    // Count - 1; at 0 the last-reference hook runs, and when the count is still
    // 0 after it the object is destroyed (it must come from new).
    static void release(void* object);

    i32 refCount() const { return m_refCount.load(std::memory_order_relaxed); }

protected:
    // Called when the count drops to 0, before any destruction. Raising the count
    // again here (taking the object back into a cache) cancels the destruction.
    virtual void onLastReference() { }

private:
    // Holders on several threads (loaders, the main thread) change it.
    std::atomic<i32> m_refCount;
};

// One reference on a counted object: {object, retain, decrement, release}.
// A handle with a null object holds nothing and calls nothing.
class Ref {
public:
    using Function = void (*)(void* object);

    Ref() = default;
    // Takes the object and retains it once for this handle.
    Ref(void* object, Function retainFunction, Function decrementFunction, Function releaseFunction);
    // A handle on a RefCounted object with its own counting functions (retained).
    explicit Ref(RefCounted* object);
    Ref(const Ref& other);
    Ref(Ref&& other) noexcept;
    Ref& operator=(const Ref& other);
    Ref& operator=(Ref&& other) noexcept;
    ~Ref();

    // Releases the held reference (full rule) and holds nothing.
    void reset();
    // Gives the reference up with the decrement function (no hook, no
    // destruction) and holds nothing.
    void drop();

    void* object() const { return m_object; }
    template <typename T> T* get() const { return static_cast<T*>(m_object); }
    // For handles made from a RefCounted pointer: the object as T, wherever
    // RefCounted sits among T's bases (get<T> assumes it comes first).
    template <typename T> T* getCounted() const { return static_cast<T*>(static_cast<RefCounted*>(m_object)); }
    explicit operator bool() const { return m_object != nullptr; }

    Function retainFunction() const { return m_retain; }
    Function decrementFunction() const { return m_decrement; }
    Function releaseFunction() const { return m_release; }

private:
    void* m_object = nullptr;
    Function m_retain = nullptr;
    Function m_decrement = nullptr;
    Function m_release = nullptr;
};

static_assert(sizeof(Ref) == 32, "Ref is four words");

} // namespace quern
