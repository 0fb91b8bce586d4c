// GL error reports: exact captions and texts, one error per check, no box
// without an error.
#include "gl_context.h"
#include "st/st.h"
#include "st/st_glerror.h"

#include <glad/gl.h>

#include <deque>

namespace {
using GlErrors = GlTest;

TEST_F(GlErrors, InvalidEnumIsReportedWithTheCheckSiteOfTheNextToolkitCall) {
    glEnable(0xFFFF); // not a capability
    st::Shader record{};
    record.unbind();
    ASSERT_EQ(capturedBoxes().size(), 1u);
    EXPECT_EQ(capturedBoxes()[0].caption, "st_shader::219:GL_INVALID_ENUM");
    EXPECT_EQ(capturedBoxes()[0].text,
              "An unacceptable value is specified for an enumerated argument. The offending "
              "command is ignored and has no other side effect than to set the error flag.");
}

TEST_F(GlErrors, InvalidOperationFromAnUncheckedUniformCall) {
    glUseProgram(0);
    glUniform1i(0, 1); // no program current
    st::Vertexbuffer buffer(3, 3); // the vertex array's creation is checked at line 146
    ASSERT_EQ(capturedBoxes().size(), 1u);
    EXPECT_EQ(capturedBoxes()[0].caption, "st_vertexbuffer::146:GL_INVALID_OPERATION");
    EXPECT_EQ(capturedBoxes()[0].text,
              "The specified operation is not allowed in the current state. The offending "
              "command is ignored and has no other side effect than to set the error flag.");
}

TEST_F(GlErrors, IncompleteFramebufferClearIsUnknown) {
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo); // no attachment: incomplete
    glClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(st::checkGlErrorIn("st_shadowmap", 204), 0x0506u);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    ASSERT_EQ(capturedBoxes().size(), 1u);
    EXPECT_EQ(capturedBoxes()[0].caption, "st_shadowmap::204:Unknown");
    EXPECT_EQ(capturedBoxes()[0].text, "Unknown gl error");
}

TEST_F(GlErrors, NoErrorNoBox) {
    EXPECT_EQ(st::checkGlErrorIn("st_shader", 110), 0u);
    st::Shader record{};
    record.unbind();
    EXPECT_TRUE(capturedBoxes().empty());
}

TEST(GlErrorTable, EveryNameAndTheUnknownRow) {
    EXPECT_STREQ(st::glErrorText(0x0501).name, "GL_INVALID_VALUE");
    EXPECT_STREQ(st::glErrorText(0x0503).name, "GL_STACK_OVERFLOW");
    EXPECT_STREQ(st::glErrorText(0x0504).name, "GL_STACK_UNDERFLOW");
    EXPECT_STREQ(st::glErrorText(0x0505).explanation,
                 "There is not enough memory left to execute the command. The state of the GL "
                 "is undefined, except for the state of the error flags, after this error is "
                 "recorded.");
    EXPECT_STREQ(st::glErrorText(0x04FF).name, "Unknown");
    EXPECT_STREQ(st::glErrorText(0x0506).explanation, "Unknown gl error");
}

// Mesa keeps a single error flag, so several pending errors are played back
// through glad's glGetError pointer.
std::deque<GLenum> pendingErrors;
GLenum GLAD_API_PTR fakeGetError() {
    if (pendingErrors.empty()) return GL_NO_ERROR;
    const GLenum e = pendingErrors.front();
    pendingErrors.pop_front();
    return e;
}

TEST_F(GlErrors, TwoPendingErrorsAreTakenByTwoChecksOneEach) {
    const PFNGLGETERRORPROC real = glad_glGetError;
    glad_glGetError = fakeGetError;
    pendingErrors = {GL_INVALID_VALUE, GL_OUT_OF_MEMORY};
    st::Shader record{};
    record.unbind(); // line 219 takes the first
    EXPECT_EQ(pendingErrors.size(), 1u);
    record.bind(); // line 214 takes the second
    glad_glGetError = real;
    ASSERT_EQ(capturedBoxes().size(), 2u);
    EXPECT_EQ(capturedBoxes()[0].caption, "st_shader::219:GL_INVALID_VALUE");
    EXPECT_EQ(capturedBoxes()[1].caption, "st_shader::214:GL_OUT_OF_MEMORY");
}
} // namespace
