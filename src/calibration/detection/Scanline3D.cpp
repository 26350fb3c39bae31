#include "calibration/detection/Scanline3D.h"

namespace tavorin {

namespace {

// The walk of findRoot on plain pointers: the shared pointers change only where a link is halved.
Scanline3D* rootOf(Scanline3D* node)
{
    while (node->parent) {
        if (node->parent->parent)
            node->parent = node->parent->parent;
        node = node->parent.get();
    }
    return node;
}

} // namespace

std::shared_ptr<Scanline3D> Scanline3D::create(std::int32_t start, std::int32_t end)
{
    return std::shared_ptr<Scanline3D>(new Scanline3D(start, end));
}

std::shared_ptr<Scanline3D> findRoot(const std::shared_ptr<Scanline3D>& node)
{
    return rootOf(node.get())->shared_from_this();
}

void unite(const std::shared_ptr<Scanline3D>& a, const std::shared_ptr<Scanline3D>& b)
{
    Scanline3D* rootA = rootOf(a.get());
    Scanline3D* rootB = rootOf(b.get());
    if (rootA == rootB)
        return;
    if (rootA->setSize < rootB->setSize) {
        rootA->parent = rootB->shared_from_this();
        rootB->setSize += rootA->setSize;
    } else {
        rootB->parent = rootA->shared_from_this();
        rootA->setSize += rootB->setSize;
    }
}

} // namespace tavorin
