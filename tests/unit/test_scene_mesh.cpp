// Mesh triangulation and grouping, flat normals and tangents, and the shapes' geometry.
#include "render/Material.h"
#include "render/RenderContext.h"
#include "scene/Cube.h"
#include "scene/Cursor.h"
#include "scene/Cylinder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using tavorin::BufferInfo, tavorin::Cube, tavorin::Cursor, tavorin::Cylinder, tavorin::dot, tavorin::Face,
    tavorin::length, tavorin::Mat4, tavorin::Material, tavorin::Mesh, tavorin::RenderContext, tavorin::Vec4;

namespace {

Vec4 vertex(const std::vector<float>& xyz, std::size_t i)
{
    return Vec4::point(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
}

void addQuad(Mesh& mesh)
{
    mesh.positions() = {Vec4::point(0, 0, 0), Vec4::point(1, 0, 0), Vec4::point(1, 1, 0), Vec4::point(0, 1, 0)};
    Face face;
    face.positionIndices = {0, 1, 2, 3};
    mesh.faces().push_back(face);
}

} // namespace

TEST(MeshBuffers, QuadIsAFanAroundItsLastCorner)
{
    Mesh mesh;
    addQuad(mesh);
    mesh.buildBuffers();
    ASSERT_EQ(mesh.buffers().size(), 1u);
    const BufferInfo& buffer = *mesh.buffers()[0];
    ASSERT_EQ(buffer.vertexCount, 6);
    const std::vector<int> expectedCorners = {0, 1, 3, 1, 2, 3};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(vertex(buffer.positions, i), mesh.positions()[static_cast<std::size_t>(expectedCorners[i])]) << i;
    // Counter-clockwise seen from +Z: the flat normal is +Z for every vertex.
    for (std::size_t i = 0; i < 6; ++i) {
        const Vec4 n = vertex(buffer.normals, i);
        EXPECT_FLOAT_EQ(n.z, 1.0f);
        EXPECT_FLOAT_EQ(n.x, 0.0f);
    }
    EXPECT_TRUE(buffer.texCoords.empty());
    EXPECT_TRUE(buffer.tangents.empty());
    EXPECT_EQ(buffer.material, mesh.defaultMaterial());
}

TEST(MeshBuffers, FacesGroupByMaterialIndexAscendingAndOutOfRangeUsesTheDefault)
{
    Mesh mesh;
    mesh.positions() = {Vec4::point(0, 0, 0), Vec4::point(1, 0, 0), Vec4::point(0, 1, 0), Vec4::point(0, 0, 1)};
    auto red = std::make_shared<Material>();
    auto blue = std::make_shared<Material>();
    mesh.materials() = {red, blue};
    for (const int material : {1, -1, 0, 2, 1}) {
        Face face;
        face.positionIndices = {0, 1, 2};
        face.material = material;
        mesh.faces().push_back(face);
    }
    Face line; // fewer than three corners yields nothing
    line.positionIndices = {0, 3};
    line.material = 0;
    mesh.faces().push_back(line);

    mesh.buildBuffers();
    ASSERT_EQ(mesh.buffers().size(), 4u); // indices -1, 0, 1, 2
    EXPECT_EQ(mesh.buffers()[0]->material, mesh.defaultMaterial());
    EXPECT_EQ(mesh.buffers()[1]->material, red);
    EXPECT_EQ(mesh.buffers()[2]->material, blue);
    EXPECT_EQ(mesh.buffers()[3]->material, mesh.defaultMaterial()); // index 2 == number of materials
    EXPECT_EQ(mesh.buffers()[0]->vertexCount, 3);
    EXPECT_EQ(mesh.buffers()[1]->vertexCount, 3);
    EXPECT_EQ(mesh.buffers()[2]->vertexCount, 6);
}

TEST(MeshBuffers, TexturedMeshGetsZeroCoordinatesForFacesWithoutThemAndUnitTangents)
{
    Mesh mesh;
    addQuad(mesh);
    mesh.texCoords() = {Vec4(0, 0, 0, 0), Vec4(2, 0, 0, 0), Vec4(2, 2, 0, 0), Vec4(0, 2, 0, 0)};
    Face textured;
    textured.positionIndices = {0, 1, 2, 3};
    textured.texCoordIndices = {0, 1, 2, 3};
    mesh.faces().push_back(textured);
    mesh.buildBuffers();
    const BufferInfo& buffer = *mesh.buffers()[0];
    ASSERT_EQ(buffer.texCoords.size(), 24u); // 12 vertices x (u, v)
    for (std::size_t i = 0; i < 12; ++i)
        EXPECT_EQ(buffer.texCoords[i], 0.0f) << "untextured face, value " << i;
    EXPECT_EQ(buffer.texCoords[12], 0.0f); // corner 0
    EXPECT_EQ(buffer.texCoords[14], 2.0f); // corner 1: u = 2
    // u grows along +X on the textured face: its tangent is +X.
    const Vec4 tangent = vertex(buffer.tangents, 6);
    EXPECT_NEAR(tangent.x, 1.0f, 1e-6f);
    EXPECT_NEAR(tangent.y, 0.0f, 1e-6f);
}

TEST(MeshShapes, CubeFacesPointOutwardAndSpanTheUnitCube)
{
    Cube cube;
    EXPECT_EQ(cube.name(), "Cube");
    cube.buildBuffers();
    const BufferInfo& buffer = *cube.buffers()[0];
    ASSERT_EQ(buffer.vertexCount, 36);
    for (std::size_t t = 0; t < 12; ++t) {
        const Vec4 corner = vertex(buffer.positions, 3 * t);
        const Vec4 n = vertex(buffer.normals, 3 * t);
        // Every triangle lies in a face of the cube, 0.5 from the centre along its outward normal.
        EXPECT_NEAR(dot(n, corner), 0.5f, 1e-6f) << "triangle " << t;
        EXPECT_NEAR(length(n), 1.0f, 1e-6f);
    }
}

TEST(MeshShapes, CylinderWindingFacesOutwardUnlessInverted)
{
    for (const bool inverted : {false, true}) {
        Cylinder cylinder(8, true, true, inverted);
        cylinder.buildBuffers();
        const BufferInfo& buffer = *cylinder.buffers()[0];
        // 8 side quads (2 triangles each) and two octagon caps (6 triangles each).
        ASSERT_EQ(buffer.vertexCount, (16 + 12) * 3);
        for (std::size_t t = 0; t < 28; ++t) {
            const Vec4 p = vertex(buffer.positions, 3 * t);
            const Vec4 n = vertex(buffer.normals, 3 * t);
            const Vec4 axisPoint = Vec4::point(0.0f, std::min(std::max(p.y, -0.99f), -0.01f), 0.0f);
            const float outward = dot(n, p - axisPoint);
            if (inverted)
                EXPECT_LT(outward, 0.0f) << "triangle " << t;
            else
                EXPECT_GT(outward, 0.0f) << "triangle " << t;
        }
        float minY = 1.0f, maxY = -2.0f, maxRadius = 0.0f;
        for (const Vec4& p : cylinder.positions()) {
            minY = std::min(minY, p.y);
            maxY = std::max(maxY, p.y);
            maxRadius = std::max(maxRadius, std::sqrt(p.x * p.x + p.z * p.z));
        }
        EXPECT_EQ(minY, -1.0f);
        EXPECT_EQ(maxY, 0.0f);
        EXPECT_NEAR(maxRadius, 0.5f, 1e-6f);
    }
}

TEST(MeshShapes, CursorAxesStartAtTheOriginWhenOffset)
{
    RenderContext context;
    for (const bool offset : {false, true}) {
        Cursor cursor(offset, 0.05f, 0.0025f);
        cursor.updateTransform(context, Mat4());
        ASSERT_EQ(cursor.children().size(), 3u);
        const Vec4 xCentre = cursor.children()[0]->worldPosition();
        const Vec4 xEnd = cursor.children()[0]->worldMatrix() * Vec4::point(0.5f, 0.0f, 0.0f);
        EXPECT_NEAR(xCentre.x, offset ? 0.025f : 0.0f, 1e-7f);
        EXPECT_NEAR(xEnd.x, offset ? 0.05f : 0.025f, 1e-7f);
        const Vec4 zSide = cursor.children()[2]->worldMatrix() * Vec4::point(0.5f, 0.5f, 0.5f);
        EXPECT_NEAR(zSide.x, 0.00125f, 1e-7f);
        EXPECT_NEAR(zSide.z, offset ? 0.05f : 0.025f, 1e-7f);
    }
}
