#pragma once
// Places rectangles in an image by keeping its skyline: a row of horizontal
// segments, each free from its height upwards (towards larger y). A new
// rectangle goes where its top ends lowest, on the narrowest segment on a tie.

#include "quern/Types.h"

namespace quern::fontatlas {

struct SkylineNode {
    i16 x, y, width;
};

class SkylineAtlas {
public:
    // One segment along the whole bottom. Fails (false) on allocation failure.
    bool init(i32 width, i32 height);
    void release();
    // The position of a new w x h rectangle, or false when none fits.
    bool addRect(i32 w, i32 h, i32& x, i32& y);

    i32 width = 0;
    i32 height = 0;
    SkylineNode* nodes = nullptr;
    i32 capacity = 0;
    i32 count = 0;

private:
    // The y at which a w x h rectangle fits on node i, or -1.
    i32 fit(i32 i, i32 w, i32 h) const;
    bool addLevel(i32 index, i32 x, i32 y, i32 w, i32 h);
    bool insertNode(i32 index, i32 x, i32 y, i32 w);
    void removeNode(i32 index);
};

} // namespace quern::fontatlas
