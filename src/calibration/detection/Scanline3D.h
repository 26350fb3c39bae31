#pragma once

#include <cstdint>
#include <memory>

namespace tavorin {

// A horizontal run of pixels [start, end] (pixel indices of one image row) and a node of the
// disjoint sets that group runs into clusters. Always owned through a shared pointer, created with
// Scanline3D::create; shared_from_this on a node without owners throws std::bad_weak_ptr.
class Scanline3D : public std::enable_shared_from_this<Scanline3D> {
public:
    static std::shared_ptr<Scanline3D> create(std::int32_t start, std::int32_t end);

    std::shared_ptr<Scanline3D> parent; // empty for the root of a set
    std::int32_t start;
    std::int32_t end;
    std::int32_t setSize = 1; // nodes in the set rooted here; meaningful on roots only
    std::int32_t clusterId = 0; // given to roots when the clusters are enumerated

    bool isRoot() const { return !parent; }

private:
    Scanline3D(std::int32_t start, std::int32_t end) : start(start), end(end) {}
};

// Root of the node's set, halving the path on the way.
std::shared_ptr<Scanline3D> findRoot(const std::shared_ptr<Scanline3D>& node);
// Union by size; on equal sizes the root of b goes under the root of a.
void unite(const std::shared_ptr<Scanline3D>& a, const std::shared_ptr<Scanline3D>& b);

} // namespace tavorin
