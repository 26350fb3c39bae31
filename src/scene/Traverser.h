#pragma once

namespace tavorin {

class Component3D;
class Composite3D;

// Visitor of the node tree: depth-first, pre-order, children in insertion order. enter and leave
// are called for composites only, visit for every node.
class Traverser {
public:
    virtual ~Traverser() = default;
    virtual void enter(Composite3D&) {}
    virtual void visit(Component3D&) {}
    virtual void leave(Composite3D&) {}
};

} // namespace tavorin
