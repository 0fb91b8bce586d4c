// st_vertexbuffer.h - an indexed mesh with CPU float arrays mirrored into GL.
#pragma once

#include <cstdint>

namespace st {

// The CPU arrays are the master copy: write into them, mark the buffer dirty
// (attribData does), and the next upload re-sends every array whole.
class Vertexbuffer {
public:
    // One attribute array, a node of the buffer's list (newest first).
    class Attribarray {
    public:
        virtual ~Attribarray(); // releases data
        Attribarray() = default;
        Attribarray(const Attribarray &) = delete;
        Attribarray &operator=(const Attribarray &) = delete;

        Attribarray *next = nullptr; // next node, null at the end
        int32_t components = 0;      // floats per vertex or per instance (1..4)
        int32_t divisor = 0;         // 0: per vertex; n: one element per n instances
        uint32_t buffer = 0;         // GL buffer object (GL_ARRAY_BUFFER)
        uint32_t location = 0;       // vertex attribute location in the shaders
        int32_t count = 0;           // floats in data
        float *data = nullptr;       // CPU copy, owned
    };

    // An identity index list of indexCount entries, no arrays, dirty.
    Vertexbuffer(int32_t vertexCount, int32_t indexCount);
    virtual ~Vertexbuffer();
    Vertexbuffer(const Vertexbuffer &) = delete;
    Vertexbuffer &operator=(const Vertexbuffer &) = delete;

    // Adds an array at the head of the list, sized now from the buffer's
    // counts: components * vertexCount for divisor 0, else
    // components * (instanceCount / divisor). Returns its CPU floats (not
    // cleared). Marks the buffer dirty.
    float *addAttribArray(int32_t components, int32_t location, int32_t divisor);
    // Marks the buffer dirty and returns the floats of the first array, from
    // the head, with this location; null if there is none.
    float *attribData(int32_t location);
    void upload(); // sends indices and every array whole; clears dirty
    void bind();   // uploads if dirty, binds the vertex array, sets up every array
    void draw();   // instanced when instanceCount > 1
    void unbind(); // disables every array, unbinds the vertex array

    uint32_t mode = 0;              // primitive mode: GL_TRIANGLES
    uint32_t vao = 0;               // GL vertex array object
    int32_t vertexCount = 0;        // vertices per instance
    Attribarray *attribs = nullptr; // list head, newest first; owned
    int32_t dirty = 0;              // 1 when the CPU copies may differ from GL's
    int32_t instanceCount = 0;      // instances per draw; above 1: instanced draw
    int32_t indexCount = 0;         // entries of indices
    uint32_t *indices = nullptr;    // CPU index list; owned
    uint32_t indexBuffer = 0;       // GL buffer object of the index list
};

} // namespace st
