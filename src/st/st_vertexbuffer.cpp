// st_vertexbuffer.cpp - indexed meshes with per-vertex and per-instance arrays.
#include "st/st_vertexbuffer.h"

#include "st/st_glerror.h"

#include <glad/gl.h>

namespace st {

namespace {
void checkGlError(int32_t line) { checkGlErrorIn("st_vertexbuffer", line); }
} // namespace

Vertexbuffer::Attribarray::~Attribarray() { delete[] data; }

Vertexbuffer::Vertexbuffer(int32_t aVertexCount, int32_t aIndexCount) {
    glGenVertexArrays(1, &vao);
    checkGlError(146);
    vertexCount = aVertexCount;
    mode = GL_TRIANGLES;
    instanceCount = 0;
    indexCount = aIndexCount;
    glGenBuffers(1, &indexBuffer);
    indices = new uint32_t[indexCount > 0 ? indexCount : 0];
    for (int32_t i = 0; i < indexCount; ++i) indices[i] = static_cast<uint32_t>(i);
    dirty = 1;
}

Vertexbuffer::~Vertexbuffer() {
    for (Attribarray *node = attribs; node;) {
        Attribarray *next = node->next;
        glDeleteBuffers(1, &node->buffer);
        delete node;
        node = next;
    }
    glDeleteVertexArrays(1, &vao);
    checkGlError(160);
    delete[] indices;
    glDeleteBuffers(1, &indexBuffer);
    checkGlError(162);
}

float *Vertexbuffer::addAttribArray(int32_t components, int32_t location, int32_t divisor) {
    dirty = 1;
    auto *node = new Attribarray;
    node->components = components;
    node->location = static_cast<uint32_t>(location);
    node->divisor = divisor;
    node->next = attribs;
    node->count = divisor == 0 ? components * vertexCount : components * (instanceCount / divisor);
    node->data = new float[node->count > 0 ? node->count : 0];
    glGenBuffers(1, &node->buffer);
    checkGlError(179);
    attribs = node;
    return node->data;
}

float *Vertexbuffer::attribData(int32_t location) {
    dirty = 1;
    for (Attribarray *node = attribs; node; node = node->next)
        if (node->location == static_cast<uint32_t>(location)) return node->data;
    return nullptr;
}

void Vertexbuffer::upload() {
    glBindVertexArray(vao);
    checkGlError(284);
    dirty = 0;
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
    checkGlError(286);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indexCount) * 4, indices,
                 GL_STATIC_DRAW);
    checkGlError(287);
    for (Attribarray *node = attribs; node; node = node->next) {
        glBindBuffer(GL_ARRAY_BUFFER, node->buffer);
        checkGlError(292);
        glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(node->count) * 4, node->data,
                     GL_STATIC_DRAW);
        checkGlError(293);
    }
    glBindVertexArray(0);
    checkGlError(296);
}

void Vertexbuffer::bind() {
    if (dirty) upload();
    glBindVertexArray(vao);
    checkGlError(247);
    for (Attribarray *node = attribs; node; node = node->next) {
        glEnableVertexAttribArray(node->location);
        checkGlError(251);
        glBindBuffer(GL_ARRAY_BUFFER, node->buffer);
        checkGlError(252);
        glVertexAttribPointer(node->location, node->components, GL_FLOAT, GL_FALSE, 0, nullptr);
        checkGlError(253);
        glVertexAttribDivisor(node->location, static_cast<GLuint>(node->divisor));
        checkGlError(254);
    }
}

void Vertexbuffer::draw() {
    if (instanceCount > 1) {
        glDrawElementsInstanced(mode, indexCount, GL_UNSIGNED_INT, nullptr, instanceCount);
        checkGlError(274);
    } else {
        glDrawElements(mode, indexCount, GL_UNSIGNED_INT, nullptr);
        checkGlError(278);
    }
}

void Vertexbuffer::unbind() {
    for (Attribarray *node = attribs; node; node = node->next) {
        glDisableVertexAttribArray(node->location);
        checkGlError(264);
    }
    glBindVertexArray(0);
    checkGlError(267);
}

} // namespace st
