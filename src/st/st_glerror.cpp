// st_glerror.cpp - GL error names, explanations and the report box.
#include "st/st_glerror.h"

#include "platform/platform.h"

#include <glad/gl.h>

#include <cstdio>

namespace st {

GlErrorText glErrorText(uint32_t error) {
    switch (error) {
    case 0x0500:
        return {"GL_INVALID_ENUM",
                "An unacceptable value is specified for an enumerated argument. The offending "
                "command is ignored and has no other side effect than to set the error flag."};
    case 0x0501:
        return {"GL_INVALID_VALUE",
                "A numeric argument is out of range. The offending command is ignored and has no "
                "other side effect than to set the error flag."};
    case 0x0502:
        return {"GL_INVALID_OPERATION",
                "The specified operation is not allowed in the current state. The offending "
                "command is ignored and has no other side effect than to set the error flag."};
    case 0x0503:
        return {"GL_STACK_OVERFLOW",
                "This command would cause a stack overflow. The offending command is ignored and "
                "has no other side effect than to set the error flag."};
    case 0x0504:
        return {"GL_STACK_UNDERFLOW",
                "This command would cause a stack underflow. The offending command is ignored "
                "and has no other side effect than to set the error flag."};
    case 0x0505:
        return {"GL_OUT_OF_MEMORY",
                "There is not enough memory left to execute the command. The state of the GL is "
                "undefined, except for the state of the error flags, after this error is "
                "recorded."};
    default:
        return {"Unknown", "Unknown gl error"};
    }
}

void reportInBox(const char *source, int32_t line, const char *detail, const char *text) {
    char caption[256];
    std::snprintf(caption, sizeof caption, "%s::%d:%s", source, line, detail);
    platform::showMessageBox(caption, text);
}

uint32_t checkGlErrorIn(const char *source, int32_t line) {
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return 0;
    const GlErrorText text = glErrorText(error);
    reportInBox(source, line, text.name, text.explanation);
    return error;
}

} // namespace st
