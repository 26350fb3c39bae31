#include "calibration/Scanline3D.h"

std::shared_ptr<Scanline3D> Scanline3D::create(std::int32_t start, std::int32_t end)
{
    return std::shared_ptr<Scanline3D>(new Scanline3D(start, end));
}

std::shared_ptr<Scanline3D> findRoot(const std::shared_ptr<Scanline3D>& node)
{
    std::shared_ptr<Scanline3D> current = node;
    while (current->parent) {
        if (current->parent->parent)
            current->parent = current->parent->parent;
        current = current->parent;
    }
    return current;
}

void unite(const std::shared_ptr<Scanline3D>& a, const std::shared_ptr<Scanline3D>& b)
{
    const std::shared_ptr<Scanline3D> rootA = findRoot(a);
    const std::shared_ptr<Scanline3D> rootB = findRoot(b);
    if (rootA == rootB)
        return;
    if (rootA->setSize < rootB->setSize) {
        rootA->parent = rootB;
        rootB->setSize += rootA->setSize;
    } else {
        rootB->parent = rootA;
        rootA->setSize += rootB->setSize;
    }
}
