// st_shader.cpp - shader programs from GLSL files, uniforms by name.
#include "st/st_shader.h"

#include "platform/platform.h"
#include "st/st_glerror.h"

#include <glad/gl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace st {

int32_t linkFailures = 0;

namespace {
constexpr int32_t LOG_CHARS = 8192; // compile and link logs, terminator included
// A larger "file" is no shader source (a directory reports a huge size).
constexpr long MAX_SOURCE_BYTES = 16L << 20;

void checkGlError(int32_t line) { checkGlErrorIn("st_shader", line); }
} // namespace

void Shader::init(const char *vertexPath, const char *fragmentPath) {
    if (vertexPath) {
        vertexShader = glCreateShader(GL_VERTEX_SHADER);
        checkGlError(143);
        compileFile(vertexShader, vertexPath);
        checkGlError(144);
    }
    if (fragmentPath) {
        fragmentShader = glCreateShader(GL_FRAGMENT_SHADER);
        checkGlError(148);
        compileFile(fragmentShader, fragmentPath);
        checkGlError(149);
    }
    program = glCreateProgram();
    checkGlError(151);
    // The fragment shader is attached first.
    if (fragmentShader) {
        glAttachShader(program, fragmentShader);
        checkGlError(154);
    }
    if (vertexShader) {
        glAttachShader(program, vertexShader);
        checkGlError(158);
    }
    glLinkProgram(program);
    checkGlError(160);
    GLint status = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    checkGlError(163);
    if (status == GL_TRUE) return;

    char log[LOG_CHARS] = {};
    glGetProgramInfoLog(program, LOG_CHARS, nullptr, log);
    platform::showMessageBox("Shader link failed", log);
    if (linkFailures > MAX_LINK_RETRIES - 1) std::exit(-1);
    ++linkFailures;
    // Retry from the files, so a file mended while the box was up takes effect.
    // The objects of the failed attempt stay as they are.
    init(vertexPath, fragmentPath);
    linkFailures = 0;
}

void Shader::compileFile(uint32_t shader, const char *path) {
    FILE *file = std::fopen(path, "rb");
    if (!file) return;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || size > MAX_SOURCE_BYTES || std::fseek(file, 0, SEEK_SET) != 0) {
        // A size that cannot be told is treated like a file that cannot be opened.
        std::fclose(file);
        return;
    }
    // Zero-filled, one byte longer than the file: whatever is read is terminated,
    // and a short read compiles the part that arrived.
    std::vector<char> text(static_cast<size_t>(size) + 1, '\0');
    const size_t got = std::fread(text.data(), 1, static_cast<size_t>(size), file);
    std::fclose(file);
    text[got] = '\0';
    compileSource(shader, text.data(), path);
}

void splitShaderText(char *text, std::vector<const char *> &starts, std::vector<int32_t> &lengths) {
    starts.assign(1, text);
    lengths.clear();
    char *pieceStart = text;
    char *p = text;
    for (; *p; ++p) {
        if (*p == '\r') {
            *p = '\0';
            lengths.push_back(static_cast<int32_t>(p - pieceStart));
            pieceStart = p + 1;
            starts.push_back(pieceStart);
        }
    }
    lengths.push_back(static_cast<int32_t>(p - pieceStart));
}

void Shader::compileSource(uint32_t shader, char *text, const char *caption) {
    std::vector<const GLchar *> starts;
    std::vector<GLint> lengths;
    splitShaderText(text, starts, lengths);
    glShaderSource(shader, static_cast<GLsizei>(starts.size()), starts.data(), lengths.data());
    checkGlError(243);
    glCompileShader(shader);
    checkGlError(244);
    GLint status = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    checkGlError(246);
    if (status != 1) {
        char log[LOG_CHARS] = {};
        glGetShaderInfoLog(shader, LOG_CHARS, nullptr, log);
        platform::showMessageBox(caption, log);
    }
}

void Shader::bind() {
    glUseProgram(program);
    checkGlError(214);
}

void Shader::unbind() {
    glUseProgram(0);
    checkGlError(219);
}

int32_t Shader::uniformLocation(const char *name) {
    const GLint location = glGetUniformLocation(program, name);
    checkGlError(110);
    if (location < 0) reportInBox("st_shader", 114, name, "Bad uniform name");
    return location;
}

void Shader::setMat4(const char *name, const float *matrix) {
    glUniformMatrix4fv(uniformLocation(name), 1, GL_FALSE, matrix);
}

void Shader::setInt(const char *name, int32_t value) { glUniform1i(uniformLocation(name), value); }

void Shader::setVec4(const char *name, const float *vector) {
    glUniform4fv(uniformLocation(name), 1, vector);
}

} // namespace st
