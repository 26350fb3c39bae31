#include "ui/GLErrorText.h"

#include <gtest/gtest.h>

using tavorin::glErrorLine;

TEST(GLErrorLine, EveryKnownCodeHasItsLabelAndOthersAreUnknown)
{
    EXPECT_EQ(glErrorLine(1280), "GL INVALID_ENUM: 1280");
    EXPECT_EQ(glErrorLine(1281), "GL GL_INVALID_VALUE: 1281");
    EXPECT_EQ(glErrorLine(1282), "GL GL_INVALID_OPERATION: 1282");
    EXPECT_EQ(glErrorLine(1283), "GL GL_STACK_OVERFLOW: 1283");
    EXPECT_EQ(glErrorLine(1284), "GL GL_STACK_UNDERFLOW: 1284");
    EXPECT_EQ(glErrorLine(1285), "GL GL_OUT_OF_MEMORY: 1285");
    EXPECT_EQ(glErrorLine(1286), "GL GL_INVALID_FRAMEBUFFER_OPERATION: 1286");
    EXPECT_EQ(glErrorLine(1287), "GL UNKNOWN ERROR: 1287");
    EXPECT_EQ(glErrorLine(37000), "GL UNKNOWN ERROR: 37000");
}
