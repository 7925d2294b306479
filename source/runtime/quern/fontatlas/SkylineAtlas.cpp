#include "quern/fontatlas/SkylineAtlas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace quern::fontatlas {

bool SkylineAtlas::init(i32 w, i32 h)
{
    width = w;
    height = h;
    capacity = 256;
    count = 0;
    nodes = static_cast<SkylineNode*>(std::malloc(sizeof(SkylineNode) * static_cast<u64>(capacity)));
    if (!nodes)
        return false;
    nodes[0] = { 0, 0, static_cast<i16>(w) };
    count = 1;
    return true;
}

void SkylineAtlas::release()
{
    std::free(nodes);
    nodes = nullptr;
    capacity = count = 0;
}

bool SkylineAtlas::insertNode(i32 index, i32 x, i32 y, i32 w)
{
    if (count + 1 > capacity) {
        const i32 grown = capacity == 0 ? 8 : capacity * 2;
        auto* moved = static_cast<SkylineNode*>(std::realloc(nodes, sizeof(SkylineNode) * static_cast<u64>(grown)));
        if (!moved)
            return false;
        nodes = moved;
        capacity = grown;
    }
    std::memmove(nodes + index + 1, nodes + index, sizeof(SkylineNode) * static_cast<u64>(count - index));
    nodes[index] = { static_cast<i16>(x), static_cast<i16>(y), static_cast<i16>(w) };
    ++count;
    return true;
}

void SkylineAtlas::removeNode(i32 index)
{
    std::memmove(nodes + index, nodes + index + 1, sizeof(SkylineNode) * static_cast<u64>(count - index - 1));
    --count;
}

bool SkylineAtlas::addLevel(i32 index, i32 x, i32 y, i32 w, i32 h)
{
    if (!insertNode(index, x, y + h, w))
        return false;
    // The new segment covers the start of the ones after it: cut them.
    for (i32 i = index + 1; i < count; ++i) {
        const i32 previousEnd = nodes[i - 1].x + nodes[i - 1].width;
        if (nodes[i].x >= previousEnd)
            break;
        const i32 shrink = previousEnd - nodes[i].x;
        nodes[i].x = static_cast<i16>(nodes[i].x + shrink);
        nodes[i].width = static_cast<i16>(nodes[i].width - shrink);
        if (nodes[i].width > 0)
            break;
        removeNode(i);
        --i;
    }
    for (i32 i = 0; i < count - 1; ++i) {
        if (nodes[i].y == nodes[i + 1].y) {
            nodes[i].width = static_cast<i16>(nodes[i].width + nodes[i + 1].width);
            removeNode(i + 1);
            --i;
        }
    }
    return true;
}

i32 SkylineAtlas::fit(i32 i, i32 w, i32 h) const
{
    if (nodes[i].x + w > width)
        return -1;
    i32 y = nodes[i].y;
    i32 remaining = w;
    for (i32 j = i; remaining > 0; ++j) {
        if (j == count)
            return -1;
        y = std::max<i32>(y, nodes[j].y);
        if (y + h > height)
            return -1;
        remaining -= nodes[j].width;
    }
    return y;
}

bool SkylineAtlas::addRect(i32 w, i32 h, i32& x, i32& y)
{
    i32 bestTop = height, bestWidth = width, best = -1, bestX = -1, bestY = -1;
    for (i32 i = 0; i < count; ++i) {
        const i32 at = fit(i, w, h);
        if (at == -1)
            continue;
        if (at + h < bestTop || (at + h == bestTop && nodes[i].width < bestWidth)) {
            best = i;
            bestWidth = nodes[i].width;
            bestTop = at + h;
            bestX = nodes[i].x;
            bestY = at;
        }
    }
    if (best == -1 || !addLevel(best, bestX, bestY, w, h))
        return false;
    x = bestX;
    y = bestY;
    return true;
}

} // namespace quern::fontatlas
