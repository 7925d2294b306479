#pragma once
// Virtual memory: address space is reserved first and committed (made readable
// and writable) in pieces; decommitted pages keep their addresses but lose their
// contents. Sizes are rounded up to whole pages by the caller.

#include "quern/Types.h"

namespace quern::platform {

// Size of one page, and the granularity at which reservations are placed.
// Both are powers of two.
u64 getPageSize();
u64 getAllocationGranularity();

// Reserves `size` bytes of address space with no access; null on failure.
void* reserveVirtualMemory(u64 size);
// Reserves and commits `size` bytes read-write in one step; null on failure.
// `topDown` asks for a placement high in the address space (a hint).
void* allocateVirtualMemory(u64 size, bool topDown = false);
// Makes [address, address + size) readable and writable; false on failure.
bool commitVirtualMemory(void* address, u64 size);
// Drops the contents of [address, address + size) and makes it inaccessible;
// the addresses stay reserved.
bool decommitVirtualMemory(void* address, u64 size);
// Makes [address, address + size) inaccessible without dropping its contents.
bool protectVirtualMemoryNoAccess(void* address, u64 size);
// Gives a reservation (or part of one) back to the system.
bool releaseVirtualMemory(void* address, u64 size);

} // namespace quern::platform
