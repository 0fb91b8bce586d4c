// The shadow map's framebuffer, its pass, and its exit-time tear-down.
#include "gl_context.h"
#include "st/st.h"

#include <SDL.h>
#include <glad/gl.h>

namespace {
using Shadowmaps = GlTest;

GLint boundFramebuffer() {
    GLint fbo = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbo);
    return fbo;
}

struct Target { // a complete colour framebuffer that is not the default one
    GLuint fbo = 0, color = 0;
    Target() {
        glGenTextures(1, &color);
        glBindTexture(GL_TEXTURE_2D, color);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 32, 32, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glGenFramebuffers(1, &fbo);
        glBindFramebuffer(GL_FRAMEBUFFER, fbo);
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, color, 0);
    }
    ~Target() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glDeleteFramebuffers(1, &fbo);
        glDeleteTextures(1, &color);
    }
};

TEST_F(Shadowmaps, InitLeavesTheBindingAsFoundAndMakesA1024DepthTexture) {
    Target target;
    st::Shadowmap map;
    map.init();
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(target.fbo));
    EXPECT_EQ(map.size, 1024);
    GLint w = 0, format = 0, active = 0, bound = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(active, GL_TEXTURE0);
    EXPECT_EQ(static_cast<GLuint>(bound), map.depthTexture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_DEPTH_SIZE, &format);
    EXPECT_EQ(w, 1024);
    EXPECT_GT(format, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, map.framebuffer);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    EXPECT_TRUE(capturedBoxes().empty());
}

TEST_F(Shadowmaps, EndRestoresTheFramebufferAndViewportThatBeginSaved) {
    st::Shadowmap map;
    map.init();
    Target target;
    glViewport(3, 4, 20, 10);
    map.begin();
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 1024);
    EXPECT_EQ(viewport[3], 1024);
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(map.framebuffer));
    map.end();
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 3);
    EXPECT_EQ(viewport[1], 4);
    EXPECT_EQ(viewport[2], 20);
    EXPECT_EQ(viewport[3], 10);
    EXPECT_EQ(boundFramebuffer(), static_cast<GLint>(target.fbo));
    EXPECT_TRUE(capturedBoxes().empty());
}

int deletions = 0;
void GLAD_API_PTR countTextureDeletes(GLsizei, const GLuint *) { ++deletions; }
void GLAD_API_PTR countFramebufferDeletes(GLsizei, const GLuint *) { ++deletions; }
bool contextAnswer = true;
bool answerContext() { return contextAnswer; }

TEST_F(Shadowmaps, DestructionDeletesOnlyWhatExistsAndOnlyWithAContext) {
    const auto realTextures = glad_glDeleteTextures;
    const auto realFramebuffers = glad_glDeleteFramebuffers;
    glad_glDeleteTextures = countTextureDeletes;
    glad_glDeleteFramebuffers = countFramebufferDeletes;
    st::setContextQuery(answerContext);

    deletions = 0;
    { st::Shadowmap never; } // never initialised: no GL call
    EXPECT_EQ(deletions, 0);

    contextAnswer = false; // as after SDL_Quit
    { st::Shadowmap made; made.init(); }
    EXPECT_EQ(deletions, 0);

    contextAnswer = true;
    { st::Shadowmap made; made.init(); }
    EXPECT_EQ(deletions, 2);

    glad_glDeleteTextures = realTextures;
    glad_glDeleteFramebuffers = realFramebuffers;
    st::setContextQuery(nullptr);
}
} // namespace
