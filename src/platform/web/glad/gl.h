// glad/gl.h for the web back end: WebGL2 (OpenGL ES 3.0) in place of the
// desktop's OpenGL 3.3 loader, and the few calls that differ, in one place.
//
//   - There is no loader: emscripten binds every entry point; gladLoadGL
//     only reports that a context is current.
//   - Shader sources: "#version 330" becomes "#version 300 es" with the
//     precision lines GLSL ES wants, as the sources are handed to GL.
//   - The shadow map's depth texture (GL_DEPTH_COMPONENT of bytes, unsized)
//     becomes a sized 24-bit one, which WebGL2 requires.
//   - GL_CLAMP_TO_BORDER does not exist: GL_CLAMP_TO_EDGE (the shader treats
//     everything outside the map as lit anyway).
//   - glDrawBuffer(GL_NONE) is glDrawBuffers of one GL_NONE; glClearDepth
//     takes a float.
//   - Timer queries exist only as EXT_disjoint_timer_query_webgl2; the frame
//     statistics are not offered on the web, and these only compile.
//
// Threads: the main thread, with the WebGL2 context current.
#pragma once

#include <GLES3/gl3.h>

#include <cstring>
#include <string>

typedef void (*GLADapiproc)(void);
typedef GLADapiproc (*GLADloadfunc)(const char *name);
inline int gladLoadGL(GLADloadfunc) { return 1; }
// What the desktop's code reads to tell whether entry points are there: they
// always are.
inline GLenum (*glad_glGetError)(void) = glGetError;

#ifndef GL_CLAMP_TO_BORDER
#define GL_CLAMP_TO_BORDER GL_CLAMP_TO_EDGE
#endif
#ifndef GL_STACK_OVERFLOW
#define GL_STACK_OVERFLOW 0x0503
#endif
#ifndef GL_STACK_UNDERFLOW
#define GL_STACK_UNDERFLOW 0x0504
#endif
#ifndef GL_TIME_ELAPSED
#define GL_TIME_ELAPSED 0x88BF
#endif

namespace vrom_webgl {
// The sources as the toolkit hands them over (in pieces), with the desktop's
// version line replaced.
inline void shaderSource(GLuint shader, GLsizei count, const GLchar *const *strings, const GLint *lengths) {
    std::string text;
    for (GLsizei i = 0; i < count; ++i)
        text.append(strings[i], lengths && lengths[i] >= 0 ? static_cast<size_t>(lengths[i]) : std::strlen(strings[i]));
    const char *es = "#version 300 es\nprecision highp float;\nprecision highp int;\nprecision highp sampler2D;\n";
    if (text.compare(0, 9, "#version ") == 0) {
        const size_t end = text.find('\n');
        text.replace(0, end == std::string::npos ? text.size() : end + 1, es);
    } else {
        text.insert(0, es);
    }
    const GLchar *whole = text.c_str();
    const GLint length = static_cast<GLint>(text.size());
    glShaderSource(shader, 1, &whole, &length);
}

inline void texImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                       GLenum format, GLenum type, const void *pixels) {
    if (internalFormat == GL_DEPTH_COMPONENT) { // the shadow map's depth texture
        internalFormat = GL_DEPTH_COMPONENT24;
        type = GL_UNSIGNED_INT;
    }
    glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
}

inline void drawBuffer(GLenum buffer) { glDrawBuffers(1, &buffer); }
inline void clearDepth(double depth) { glClearDepthf(static_cast<GLfloat>(depth)); }
inline void getQueryObjectiv(GLuint id, GLenum name, GLint *value) {
    GLuint v = 0;
    glGetQueryObjectuiv(id, name, &v);
    *value = static_cast<GLint>(v);
}
inline void getQueryObjectui64v(GLuint, GLenum, GLuint64 *value) { *value = 0; }
} // namespace vrom_webgl

#define glShaderSource vrom_webgl::shaderSource
#define glTexImage2D vrom_webgl::texImage2D
#define glDrawBuffer vrom_webgl::drawBuffer
#define glClearDepth vrom_webgl::clearDepth
#define glGetQueryObjectiv vrom_webgl::getQueryObjectiv
#define glGetQueryObjectui64v vrom_webgl::getQueryObjectui64v
