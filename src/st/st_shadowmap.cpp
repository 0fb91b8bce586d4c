// st_shadowmap.cpp - the shadow map's framebuffer, pass and light matrices.
#include "st/st_shadowmap.h"

#include "math/mat4.h"
#include "st/st_glerror.h"

#include <glad/gl.h>

#include <cstring>

namespace st {

namespace {
void checkGlError(int32_t line) { checkGlErrorIn("st_shadowmap", line); }

ContextQuery contextQuery = nullptr;

bool contextCurrent() { return contextQuery && contextQuery() && glad_glGetError != nullptr; }
} // namespace

void setContextQuery(ContextQuery query) { contextQuery = query; }

Shadowmap::~Shadowmap() {
    if ((depthTexture == 0 && framebuffer == 0) || !contextCurrent()) return;
    if (depthTexture) {
        glDeleteTextures(1, &depthTexture);
        checkGlError(124);
    }
    if (framebuffer) {
        glDeleteFramebuffers(1, &framebuffer);
        checkGlError(128);
    }
}

void Shadowmap::init() {
    size = 1024;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &savedFramebuffer);
    checkGlError(136);
    glGenFramebuffers(1, &framebuffer);
    checkGlError(138);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    checkGlError(139);
    glActiveTexture(GL_TEXTURE0);
    checkGlError(141);
    glGenTextures(1, &depthTexture);
    checkGlError(142);
    glBindTexture(GL_TEXTURE_2D, depthTexture);
    checkGlError(143);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, size, size, 0, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_BYTE, nullptr);
    checkGlError(145);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    checkGlError(147);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    checkGlError(148);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, static_cast<GLfloat>(GL_CLAMP_TO_BORDER));
    checkGlError(150);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, static_cast<GLfloat>(GL_CLAMP_TO_BORDER));
    checkGlError(151);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, depthTexture, 0);
    checkGlError(153);
    glDrawBuffer(GL_NONE);
    checkGlError(155);
    glReadBuffer(GL_NONE);
    checkGlError(156);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(savedFramebuffer));
    checkGlError(158);
}

void Shadowmap::begin() {
    glGetIntegerv(GL_VIEWPORT, savedViewport);
    checkGlError(197);
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &savedFramebuffer);
    checkGlError(198);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    checkGlError(200);
    glViewport(0, 0, size, size);
    checkGlError(201);
    glClearDepth(1.0);
    checkGlError(203);
    glClear(GL_DEPTH_BUFFER_BIT);
    checkGlError(204);
}

void Shadowmap::end() {
    glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
    checkGlError(209);
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(savedFramebuffer));
    checkGlError(210);
}

void Shadowmap::setlight(const float *eye, const float *center, const float *up, const float *proj) {
    std::memcpy(projection, proj, sizeof projection);
    mat4_lookat(view, eye, center, up);
    const float bias[16] = {0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, 0.5f, 0.5f, 0.5f, 1.0f};
    float biasProjection[16];
    mat4_mul(biasProjection, bias, projection);
    mat4_mul(shadowmatrix, biasProjection, view);
}

} // namespace st
