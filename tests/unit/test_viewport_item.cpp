#include "ui/GLRectangle.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <cmath>

using tavorin::GLRectangle;

namespace {

// Items need a GUI application; the offscreen platform is enough for everything without GL.
void ensureGuiApplication()
{
    static int argc = 1;
    static char name[] = "tavorin_unit_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Left alive until exit: destroying it during static destruction would outlive Qt's globals.
        new QGuiApplication(argc, argv);
    }
}

} // namespace

TEST(ViewportItemTime, OnlyARealChangeSignalsAndNaNAlwaysDoes)
{
    ensureGuiApplication();
    GLRectangle item;
    int changes = 0;
    QObject::connect(&item, &GLRectangle::timeChanged, [&] { ++changes; });

    item.setTime(0.0);
    EXPECT_EQ(changes, 0) << "the initial value is 0";
    item.setTime(0.25);
    item.setTime(0.25);
    EXPECT_EQ(changes, 1);
    EXPECT_DOUBLE_EQ(item.time(), 0.25);
    item.setTime(NAN);
    item.setTime(NAN);
    EXPECT_EQ(changes, 3);
}
