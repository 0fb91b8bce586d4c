// Shader programs from files: line ends, compile and link reports, the link
// retry and its limit, uniforms by name.
#include "gl_context.h"
#include "platform/platform.h"
#include "st/st.h"

#include <glad/gl.h>

#include <cstdio>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>

namespace {
namespace fs = std::filesystem;

const char *VERTEX_LF = "#version 330\n"
                        "layout(location = 1) in vec3 position;\n"
                        "uniform mat4 mvp;\n"
                        "void main() { gl_Position = mvp * vec4(position, 1.0); }\n";
const char *FRAGMENT_LF = "#version 330\n"
                          "out vec4 color;\n"
                          "uniform vec4 tint;\n"
                          "uniform vec4 unused;\n"
                          "void main() { color = tint; }\n";

std::string replaceAll(std::string s, const std::string &from, const std::string &to) {
    for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
        s.replace(at, from.size(), to);
    return s;
}

class Shaders : public GlTest {
protected:
    fs::path dir;
    void SetUp() override {
        GlTest::SetUp();
        dir = fs::temp_directory_path() / ("st_shader_test_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        st::linkFailures = 0;
    }
    void TearDown() override {
        fs::remove_all(dir);
        GlTest::TearDown();
    }
    std::string write(const std::string &name, const std::string &text) {
        const fs::path path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    static std::string sourceSeenByGl(GLuint shader) {
        GLint length = 0;
        glGetShaderiv(shader, GL_SHADER_SOURCE_LENGTH, &length);
        std::string text(static_cast<size_t>(length > 0 ? length : 1), '\0');
        glGetShaderSource(shader, length, nullptr, text.data());
        return text.c_str();
    }
    static GLint compiled(GLuint shader) {
        GLint status = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
        return status;
    }
};

TEST_F(Shaders, CrLfFileCompilesAsItsLfTwin) {
    st::Shader lf{}, crlf{};
    lf.init(write("lf.vs", VERTEX_LF).c_str(), write("lf.fs", FRAGMENT_LF).c_str());
    crlf.init(write("crlf.vs", replaceAll(VERTEX_LF, "\n", "\r\n")).c_str(),
              write("crlf.fs", replaceAll(FRAGMENT_LF, "\n", "\r\n")).c_str());
    EXPECT_TRUE(capturedBoxes().empty());
    EXPECT_EQ(sourceSeenByGl(crlf.vertexShader), sourceSeenByGl(lf.vertexShader));
    EXPECT_EQ(sourceSeenByGl(lf.vertexShader), VERTEX_LF);
    GLint linked = 0;
    glGetProgramiv(crlf.program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

TEST_F(Shaders, CrOnlyFileReachesGlWithItsLinesJoined) {
    st::Shader record{};
    record.vertexShader = glCreateShader(GL_VERTEX_SHADER);
    const std::string path = write("cr.vs", replaceAll(VERTEX_LF, "\n", "\r"));
    record.compileFile(record.vertexShader, path.c_str());
    EXPECT_EQ(sourceSeenByGl(record.vertexShader), replaceAll(VERTEX_LF, "\n", ""));
    // "#version 330layout..." does not compile: the log is shown under the path.
    ASSERT_EQ(capturedBoxes().size(), 1u);
    EXPECT_EQ(capturedBoxes()[0].caption, path);
    EXPECT_FALSE(capturedBoxes()[0].text.empty());
}

TEST_F(Shaders, ThousandsOfCarriageReturnsNeverOverflowThePieceTables) {
    std::string text = "#version 330\r\n";
    for (int i = 0; i < 3000; ++i) text += "// line\r\n";
    text += "void main() { gl_Position = vec4(0.0); }\r\n";
    const GLuint shader = glCreateShader(GL_VERTEX_SHADER);
    st::Shader record{};
    record.compileSource(shader, text.data(), "many lines");
    EXPECT_TRUE(capturedBoxes().empty());
    EXPECT_EQ(compiled(shader), GL_TRUE);
    EXPECT_EQ(sourceSeenByGl(shader).find('\r'), std::string::npos);
    glDeleteShader(shader);
}

TEST_F(Shaders, UnreadableFilesAreSilentAndLeaveTheShaderUncompiled) {
    st::Shader record{};
    const GLuint shader = glCreateShader(GL_VERTEX_SHADER);
    record.compileFile(shader, (dir / "missing.vs").c_str());
    record.compileFile(shader, dir.c_str()); // a directory: no size to tell
    EXPECT_TRUE(capturedBoxes().empty());
    EXPECT_EQ(sourceSeenByGl(shader), "");
    EXPECT_EQ(compiled(shader), GL_FALSE);
    glDeleteShader(shader);
}

// Mends the fragment file while the link failure box is up, as a person might.
std::string mendPath;
void mendOnLinkFailure(const char *caption, const char *text) {
    capturedBoxes().push_back({caption, text});
    if (std::string(caption) == "Shader link failed")
        std::ofstream(mendPath, std::ios::binary) << FRAGMENT_LF;
}

TEST_F(Shaders, LinkThatSucceedsOnARetryLeavesTheCounterAtZero) {
    const std::string vs = write("retry.vs", VERTEX_LF);
    mendPath = (dir / "retry.fs").string(); // missing at first
    platform::setMessageBoxHook(mendOnLinkFailure);
    st::Shader record{};
    record.init(vs.c_str(), mendPath.c_str());
    platform::setMessageBoxHook(nullptr);
    SetUpTestSuite(); // restore the capturing hook
    ASSERT_EQ(capturedBoxes().size(), 1u);
    EXPECT_EQ(capturedBoxes()[0].caption, "Shader link failed");
    EXPECT_EQ(st::linkFailures, 0);
    GLint linked = 0;
    glGetProgramiv(record.program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
}

// Numbers the boxes, so that the output tells how many came in all.
void printBox(const char *caption, const char *) {
    static int shown = 0;
    std::fprintf(stderr, "[box %d %s]\n", ++shown, caption);
}

TEST_F(Shaders, SeventhConsecutiveLinkFailureEndsTheProcessWithStatus255) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string missing = (dir / "nothing.vs").string();
    EXPECT_EXIT(
        {
            platform::setMessageBoxHook(printBox);
            st::Shader record{};
            record.init(missing.c_str(), missing.c_str());
        },
        ::testing::ExitedWithCode(255),
        // The seventh box is the last thing written: exactly seven, then the end.
        "\\[box 1 Shader link failed\\]\n.*\\[box 7 Shader link failed\\]\n$");
}

TEST_F(Shaders, UniformsByNameAndBadNames) {
    st::Shader record{};
    record.init(write("u.vs", VERTEX_LF).c_str(), write("u.fs", FRAGMENT_LF).c_str());
    record.bind();
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(static_cast<GLuint>(current), record.program);

    const float tint[4] = {0.25f, 0.5f, 0.75f, 1.0f};
    record.setVec4("tint", tint);
    float read[4] = {};
    glGetUniformfv(record.program, record.uniformLocation("tint"), read);
    EXPECT_EQ(read[2], 0.75f);
    EXPECT_TRUE(capturedBoxes().empty());

    // "unused" is optimised away: every set reports it, with location -1.
    record.setVec4("unused", tint);
    record.setVec4("unused", tint);
    ASSERT_EQ(capturedBoxes().size(), 2u);
    for (const CapturedBox &box : capturedBoxes()) {
        EXPECT_EQ(box.caption, "st_shader::114:unused");
        EXPECT_EQ(box.text, "Bad uniform name");
    }
    EXPECT_EQ(record.uniformLocation("unused"), -1);

    st::Shader other{};
    other.unbind();
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, 0);
}
} // namespace
