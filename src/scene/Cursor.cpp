#include "scene/Cursor.h"

#include "scene/Cube.h"

namespace tavorin {

Cursor::Cursor(bool offsetAxes, float length, float thickness)
{
    auto x = std::make_shared<Cube>();
    x->scale(length, thickness, thickness);
    x->setColor(1.0f, 0.0f, 0.0f, 1.0f);
    auto y = std::make_shared<Cube>();
    y->scale(thickness, length, thickness);
    y->setColor(0.0f, 1.0f, 0.0f, 1.0f);
    auto z = std::make_shared<Cube>();
    z->scale(thickness, thickness, length);
    z->setColor(0.0f, 0.0f, 1.0f, 1.0f);
    if (offsetAxes) {
        x->translate(length / 2.0f, 0.0f, 0.0f);
        y->translate(0.0f, length / 2.0f, 0.0f);
        z->translate(0.0f, 0.0f, length / 2.0f);
    }
    addChild(x);
    addChild(y);
    addChild(z);
}

} // namespace tavorin
