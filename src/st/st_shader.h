// st_shader.h - a GL program built from a vertex and a fragment shader file.
#pragma once

#include <cstdint>
#include <vector>

namespace st {

// A plain record of three GL object names, all 0 until init builds them.
// Nothing is ever deleted: the objects live until the process ends.
struct Shader {
    uint32_t vertexShader;   // GL_VERTEX_SHADER object, 0 until built
    uint32_t fragmentShader; // GL_FRAGMENT_SHADER object, 0 until built
    uint32_t program;        // linked program, 0 until built

    // Builds both shaders (either path may be null to leave that stage out)
    // and links the program. A compile error shows its log captioned with the
    // file's path; a link error shows its log captioned "Shader link failed"
    // and the whole build is retried from the files. The seventh consecutive
    // failed link ends the process with status -1.
    void init(const char *vertexPath, const char *fragmentPath);

    void bind();   // glUseProgram(program)
    void unbind(); // glUseProgram(0), whatever the record holds

    // The uniform's location, looked up anew each time; a negative location
    // shows "Bad uniform name" and is returned as it is (GL ignores it).
    int32_t uniformLocation(const char *name);
    void setMat4(const char *name, const float *matrix); // 16 floats, column-major
    void setInt(const char *name, int32_t value);
    void setVec4(const char *name, const float *vector); // 4 floats

    // Reads a whole file and compiles it into the shader object. A file that
    // cannot be opened, or whose size cannot be told, is left uncompiled
    // without a message (the link then fails and reports).
    void compileFile(uint32_t shader, const char *path);
    // Compiles a zero-terminated text, split in place at carriage returns so
    // that GL never sees one. caption names the text in a compile-log box.
    void compileSource(uint32_t shader, char *text, const char *caption);
};

// Splits a zero-terminated text at carriage returns, in place: each CR
// becomes the end of a piece and the next character starts the next one. The
// tables grow with the text (any number of pieces); an empty text is one
// empty piece.
void splitShaderText(char *text, std::vector<const char *> &starts, std::vector<int32_t> &lengths);

// Consecutive failed links of the program being built; shared by all records.
extern int32_t linkFailures;

// Links allowed to fail in a row before the process ends (the seventh ends it).
inline constexpr int32_t MAX_LINK_RETRIES = 6;

} // namespace st
