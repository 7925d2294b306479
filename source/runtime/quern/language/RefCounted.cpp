#include "quern/language/RefCounted.h"

#include <utility>

namespace quern {

void RefCounted::retain(void* object)
{
    static_cast<RefCounted*>(object)->m_refCount.fetch_add(1, std::memory_order_relaxed);
}

void RefCounted::decrementRef(void* object)
{
    static_cast<RefCounted*>(object)->m_refCount.fetch_sub(1, std::memory_order_acq_rel);
}

void RefCounted::release(void* object)
{
    RefCounted* counted = static_cast<RefCounted*>(object);
    if (counted->m_refCount.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    counted->onLastReference();
    if (counted->m_refCount.load(std::memory_order_acquire) == 0)
        delete counted;
}

Ref::Ref(void* object, Function retainFunction, Function decrementFunction, Function releaseFunction)
    : m_object(object), m_retain(retainFunction), m_decrement(decrementFunction), m_release(releaseFunction)
{
    if (m_object)
        m_retain(m_object);
}

Ref::Ref(RefCounted* object)
    : Ref(object, &RefCounted::retain, &RefCounted::decrementRef, &RefCounted::release)
{
}

Ref::Ref(const Ref& other)
    : m_object(other.m_object), m_retain(other.m_retain), m_decrement(other.m_decrement), m_release(other.m_release)
{
    if (m_object)
        m_retain(m_object);
}

Ref::Ref(Ref&& other) noexcept
    : m_object(std::exchange(other.m_object, nullptr)), m_retain(other.m_retain), m_decrement(other.m_decrement),
      m_release(other.m_release)
{
}

Ref& Ref::operator=(const Ref& other)
{
    if (this != &other) {
        Ref copy(other); // retain first: assigning a handle to itself's object keeps it alive
        *this = std::move(copy);
    }
    return *this;
}

Ref& Ref::operator=(Ref&& other) noexcept
{
    if (this != &other) {
        reset();
        m_object = std::exchange(other.m_object, nullptr);
        m_retain = other.m_retain;
        m_decrement = other.m_decrement;
        m_release = other.m_release;
    }
    return *this;
}

Ref::~Ref() { reset(); }

void Ref::reset()
{
    if (void* object = std::exchange(m_object, nullptr))
        m_release(object);
}

void Ref::drop()
{
    if (void* object = std::exchange(m_object, nullptr))
        m_decrement(object);
}

} // namespace quern
