#pragma once
// What tests expect of transforms, computed apart from the code under test:
// the local matrix from separate translation, scale and rotation matrices.

#include "harmonize/components/Transform.h"

#include <gtest/gtest.h>

namespace harmonize::testing {

inline quern::math::Matrix4 expectedLocalMatrix(const Transform& t)
{
    quern::math::Matrix4 translation;
    translation.m[12] = t.position.x;
    translation.m[13] = t.position.y;
    translation.m[14] = t.position.z;
    quern::math::Matrix4 scale;
    scale.m[0] = t.scale.x;
    scale.m[5] = t.scale.y;
    scale.m[10] = t.scale.z;
    return translation * scale * t.rotation.toMatrix4();
}

inline void expectMatrixNear(
    const quern::math::Matrix4& actual, const quern::math::Matrix4& expected, float tolerance = 1e-5f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i << "\n" << actual << "\n" << expected;
}

} // namespace harmonize::testing
