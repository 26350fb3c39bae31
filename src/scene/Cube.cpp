#include "scene/Cube.h"

namespace tavorin {

Cube::Cube()
{
    setName("Cube");
    positions() = {
        Vec4::point(-0.5f, -0.5f, 0.5f), Vec4::point(0.5f, -0.5f, 0.5f),  Vec4::point(0.5f, 0.5f, 0.5f),
        Vec4::point(-0.5f, 0.5f, 0.5f),  Vec4::point(-0.5f, -0.5f, -0.5f), Vec4::point(0.5f, -0.5f, -0.5f),
        Vec4::point(0.5f, 0.5f, -0.5f),  Vec4::point(-0.5f, 0.5f, -0.5f),
    };
    const std::int32_t quads[6][4] = {{0, 1, 2, 3}, {7, 6, 5, 4}, {1, 5, 6, 2},
                                      {2, 6, 7, 3}, {3, 7, 4, 0}, {0, 4, 5, 1}};
    for (const auto& quad : quads) {
        Face face;
        face.positionIndices.assign(std::begin(quad), std::end(quad));
        faces().push_back(face);
    }
}

} // namespace tavorin
