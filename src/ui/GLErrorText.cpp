#include "ui/GLErrorText.h"

namespace tavorin {

namespace {

const char* glErrorLabel(unsigned int errorCode)
{
    switch (errorCode) {
    case 0x0500: return "GL INVALID_ENUM: ";
    case 0x0501: return "GL GL_INVALID_VALUE: ";
    case 0x0502: return "GL GL_INVALID_OPERATION: ";
    case 0x0503: return "GL GL_STACK_OVERFLOW: ";
    case 0x0504: return "GL GL_STACK_UNDERFLOW: ";
    case 0x0505: return "GL GL_OUT_OF_MEMORY: ";
    case 0x0506: return "GL GL_INVALID_FRAMEBUFFER_OPERATION: ";
    default: return "GL UNKNOWN ERROR: ";
    }
}

} // namespace

std::string glErrorLine(unsigned int errorCode)
{
    return glErrorLabel(errorCode) + std::to_string(errorCode);
}

} // namespace tavorin
