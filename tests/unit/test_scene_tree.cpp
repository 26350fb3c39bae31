// The node tree: traversal order, where transforms put things, parent links, projection guards.
#include "scene/Composite3D.h"
#include "render/RenderContext.h"
#include "render/ViewCamera.h"
#include "scene/Traverser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

using tavorin::AxisY, tavorin::AxisZ, tavorin::Component3D, tavorin::Composite3D, tavorin::Mat4,
    tavorin::RenderContext, tavorin::translate, tavorin::Traverser, tavorin::Vec4, tavorin::ViewCamera;

namespace {

constexpr float kPi = 3.14159265358979f;

class Named : public Component3D {
public:
    explicit Named(std::string label_) : label(std::move(label_)) {}
    void update(const RenderContext&) override { ++updates; }
    std::string label;
    int updates = 0;
};

class NamedGroup : public Composite3D {
public:
    explicit NamedGroup(std::string label_) : label(std::move(label_)) {}
    std::string label;
};

std::string labelOf(Component3D& node)
{
    if (auto* leaf = dynamic_cast<Named*>(&node))
        return leaf->label;
    return dynamic_cast<NamedGroup&>(node).label;
}

class Recorder : public Traverser {
public:
    void enter(Composite3D& c) override { log.push_back("enter " + labelOf(c)); }
    void visit(Component3D& n) override { log.push_back("visit " + labelOf(n)); }
    void leave(Composite3D& c) override { log.push_back("leave " + labelOf(c)); }
    std::vector<std::string> log;
};

void expectPoint(const Vec4& p, float x, float y, float z, float tolerance = 1e-5f)
{
    EXPECT_NEAR(p.x, x, tolerance);
    EXPECT_NEAR(p.y, y, tolerance);
    EXPECT_NEAR(p.z, z, tolerance);
}

} // namespace

TEST(ComponentTree, TraversalIsDepthFirstPreOrderInInsertionOrder)
{
    auto c = std::make_shared<NamedGroup>("C");
    auto a = std::make_shared<Named>("A");
    auto b = std::make_shared<NamedGroup>("B");
    auto d = std::make_shared<Named>("D");
    c->addChild(a);
    c->addChild(b);
    b->addChild(d);
    Recorder recorder;
    c->accept(recorder);
    const std::vector<std::string> expected = {"enter C", "visit C", "visit A", "enter B",
                                               "visit B", "visit D", "leave B", "leave C"};
    EXPECT_EQ(recorder.log, expected);
}

TEST(ComponentTree, ChildListKeepsDuplicatesAndRemovesOnlyTheFirst)
{
    NamedGroup group("G");
    auto a = std::make_shared<Named>("A");
    auto stranger = std::make_shared<Named>("S");
    group.addChild(a);
    group.addChild(a);
    EXPECT_EQ(a->parentNode(), &group);

    RenderContext context;
    group.update(context);
    EXPECT_EQ(a->updates, 2);

    group.removeChild(stranger);
    EXPECT_EQ(group.children().size(), 2u);
    group.removeChild(a);
    ASSERT_EQ(group.children().size(), 1u);
    EXPECT_EQ(a->parentNode(), nullptr);
    group.removeAllChildren();
    EXPECT_TRUE(group.children().empty());
}

TEST(ComponentTree, EditsApplyAfterTheExistingTransformInTheParentFrame)
{
    Named node("N");
    node.translate(1.0f, 0.0f, 0.0f);
    node.rotate(kPi / 2.0f, AxisZ); // the translated origin turns about Z: (1,0,0) -> (0,1,0)
    expectPoint(node.worldPosition(true), 0.0f, 1.0f, 0.0f);
    node.scale(2.0f, 2.0f, 2.0f);
    expectPoint(node.worldPosition(true), 0.0f, 2.0f, 0.0f);
    node.applyTransform(translate(Mat4(), 0.0f, 0.0f, -3.0f));
    expectPoint(node.worldPosition(true), 0.0f, 2.0f, -3.0f);

    const Mat4 before = node.localMatrix();
    node.rotate(1.0f, 7); // no such axis
    EXPECT_EQ(node.localMatrix(), before);
    node.resetTransform();
    EXPECT_EQ(node.localMatrix(), Mat4());
}

TEST(ComponentTree, WorldMatricesFollowTheAncestorsAtUpdateTransform)
{
    auto root = std::make_shared<NamedGroup>("R");
    auto arm = std::make_shared<NamedGroup>("Arm");
    auto tip = std::make_shared<Named>("Tip");
    root->addChild(arm);
    arm->addChild(tip);
    root->translate(0.0f, 1.0f, 0.0f);
    arm->rotate(kPi / 2.0f, AxisY); // +X turns to -Z
    tip->translate(0.5f, 0.0f, 0.0f);

    // Without updateTransform the world matrix is still the identity.
    expectPoint(tip->worldPosition(), 0.0f, 0.0f, 0.0f);
    RenderContext context;
    root->updateTransform(context, Mat4());
    expectPoint(tip->worldPosition(), 0.0f, 1.0f, -0.5f);
    expectPoint(tip->parentTransform() * Vec4::point(0.5f, 0.0f, 0.0f), 0.0f, 1.0f, -0.5f);

    Named loner("L");
    loner.translate(3.0f, 4.0f, 5.0f);
    EXPECT_EQ(loner.parentTransform(), Mat4());
    expectPoint(loner.worldPosition(true), 3.0f, 4.0f, 5.0f);
}

TEST(ComponentTree, ProjectToScreenMeasuresFromTheBottomLeft)
{
    RenderContext context;
    context.width = 800;
    context.height = 600;
    ViewCamera camera;
    context.projection = camera.projection(800, 600);
    Named node("N");
    // 80 degrees vertically: at 1 m in front, tan(40 degrees) m above the axis is the top edge.
    node.translate(0.0f, std::tan(40.0f * kPi / 180.0f) / 2.0f, -1.0f);
    node.updateTransform(context, Mat4());
    const Vec4 screen = node.projectToScreen(context);
    EXPECT_NEAR(screen.x, 400.0f, 1e-3f);
    EXPECT_NEAR(screen.y, 450.0f, 1e-2f);
    EXPECT_GT(screen.z, -1.0f);
    EXPECT_LT(screen.z, 1.0f);
}

TEST(ViewCameraProjection, NearAndFarAreGuarded)
{
    ViewCamera camera(0.0f, 0.0f, 90.0f);
    const Mat4 p = camera.projection(100, 100);
    const float n = 0.0001f, f = 0.0002f;
    EXPECT_NEAR(p.at(0, 0), 1.0f, 1e-5f);
    EXPECT_NEAR(p.at(1, 1), 1.0f, 1e-5f);
    EXPECT_NEAR(p.at(2, 2), -(f + n) / (f - n), 1e-2f);
    EXPECT_FLOAT_EQ(p.at(2, 3), -1.0f);
    EXPECT_NEAR(p.at(3, 2), -2.0f * f * n / (f - n), 1e-7f);
    EXPECT_EQ(p.at(3, 3), 0.0f);

    // Depth maps the near plane to -1 and the far plane to +1.
    ViewCamera standard;
    const Mat4 q = standard.projection(640, 480);
    for (const float distance : {0.02f, 50.0f}) {
        const Vec4 clip = q * Vec4::point(0.0f, 0.0f, -distance);
        EXPECT_NEAR(clip.z / clip.w, distance < 1.0f ? -1.0f : 1.0f, 1e-4f);
    }
}
