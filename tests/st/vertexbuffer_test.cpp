// Vertex buffers: sizes by divisor, list order, dirty handling, GL storage,
// the draw call chosen by the instance count.
#include "gl_context.h"
#include "st/st.h"

#include <glad/gl.h>

#include <memory>
#include <vector>

namespace {
using Vertexbuffers = GlTest;

std::vector<uint32_t> walkLocations(const st::Vertexbuffer &vb) {
    std::vector<uint32_t> order;
    for (auto *node = vb.attribs; node; node = node->next) order.push_back(node->location);
    return order;
}

GLint bufferSizeBytes(GLuint buffer) {
    GLint size = -1;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return size;
}

TEST_F(Vertexbuffers, ConstructionGivesAnIdentityIndexListAndADirtyBuffer) {
    st::Vertexbuffer vb(24, 36);
    EXPECT_EQ(vb.mode, static_cast<uint32_t>(GL_TRIANGLES));
    EXPECT_EQ(vb.vertexCount, 24);
    EXPECT_EQ(vb.indexCount, 36);
    EXPECT_EQ(vb.instanceCount, 0);
    EXPECT_EQ(vb.dirty, 1);
    EXPECT_NE(vb.vao, 0u);
    EXPECT_EQ(vb.attribs, nullptr);
    for (int i = 0; i < 36; ++i) EXPECT_EQ(vb.indices[i], static_cast<uint32_t>(i));
}

TEST_F(Vertexbuffers, ArraySizesFollowTheDivisorAtTheTimeOfAdding) {
    st::Vertexbuffer vb(24, 36);
    vb.addAttribArray(3, 1, 0);
    EXPECT_EQ(vb.attribs->count, 72); // per vertex
    vb.addAttribArray(1, 5, 1);
    EXPECT_EQ(vb.attribs->count, 0); // per instance, added while instanceCount is 0
    vb.instanceCount = 262144;
    EXPECT_EQ(vb.attribs->count, 0); // not resized afterwards
    vb.addAttribArray(1, 6, 2);
    EXPECT_EQ(vb.attribs->count, 131072);
    vb.addAttribArray(4, 7, 3);
    EXPECT_EQ(vb.attribs->count, 4 * (262144 / 3));
}

TEST_F(Vertexbuffers, ListIsNewestFirstAndAttribDataFindsTheFirstMatch) {
    st::Vertexbuffer vb(4, 6);
    float *first = vb.addAttribArray(1, 1, 0);
    vb.addAttribArray(1, 2, 0);
    vb.addAttribArray(1, 3, 0);
    float *four = vb.addAttribArray(1, 4, 0);
    EXPECT_EQ(walkLocations(vb), (std::vector<uint32_t>{4, 3, 2, 1}));
    vb.dirty = 0;
    EXPECT_EQ(vb.attribData(4), four);
    EXPECT_EQ(vb.dirty, 1);
    EXPECT_EQ(vb.attribData(1), first);
    vb.dirty = 0;
    EXPECT_EQ(vb.attribData(9), nullptr);
    EXPECT_EQ(vb.dirty, 1); // marked dirty all the same
}

TEST_F(Vertexbuffers, UploadGivesEachBufferItsWholeSize) {
    st::Vertexbuffer vb(24, 36);
    vb.instanceCount = 1000;
    float *grid = vb.addAttribArray(1, 4, 1);
    for (int i = 0; i < 1000; ++i) grid[i] = static_cast<float>(i);
    vb.addAttribArray(3, 1, 0);
    vb.upload();
    EXPECT_EQ(vb.dirty, 0);
    EXPECT_EQ(bufferSizeBytes(vb.attribs->buffer), 24 * 3 * 4);
    EXPECT_EQ(bufferSizeBytes(vb.attribs->next->buffer), 1000 * 4);
    glBindVertexArray(vb.vao); // the index buffer is recorded in the vertex array
    GLint indexBuffer = 0, indexBytes = 0;
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &indexBuffer);
    glGetBufferParameteriv(GL_ELEMENT_ARRAY_BUFFER, GL_BUFFER_SIZE, &indexBytes);
    glBindVertexArray(0);
    EXPECT_EQ(static_cast<GLuint>(indexBuffer), vb.indexBuffer);
    EXPECT_EQ(indexBytes, 36 * 4);
}

TEST_F(Vertexbuffers, BindUploadsOnlyWhenDirty) {
    st::Vertexbuffer vb(3, 3);
    float *data = vb.addAttribArray(1, 1, 0);
    data[0] = 1;
    data[1] = 2;
    data[2] = 3;
    vb.bind();
    vb.unbind();
    EXPECT_EQ(vb.dirty, 0);
    data[0] = 42; // written, but not marked dirty
    vb.bind();
    vb.unbind();
    float gpu[3] = {};
    glBindBuffer(GL_ARRAY_BUFFER, vb.attribs->buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, sizeof gpu, gpu);
    EXPECT_EQ(gpu[0], 1.0f);
    vb.attribData(1); // marks dirty: the next bind sends it
    vb.bind();
    vb.unbind();
    glBindBuffer(GL_ARRAY_BUFFER, vb.attribs->buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, sizeof gpu, gpu);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(gpu[0], 42.0f);
}

TEST_F(Vertexbuffers, BindSetsUpEveryArrayAndUnbindSwitchesThemOff) {
    st::Vertexbuffer vb(24, 36);
    vb.instanceCount = 8;
    vb.addAttribArray(3, 1, 0);
    vb.addAttribArray(1, 4, 1);
    vb.bind();
    GLint enabled = 0, size = 0, divisor = -1;
    glGetVertexAttribiv(4, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    glGetVertexAttribiv(4, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
    glGetVertexAttribiv(4, GL_VERTEX_ATTRIB_ARRAY_DIVISOR, &divisor);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(size, 1);
    EXPECT_EQ(divisor, 1);
    glGetVertexAttribiv(1, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
    EXPECT_EQ(size, 3);
    vb.unbind();
    GLint vao = -1;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &vao);
    EXPECT_EQ(vao, 0);
    glBindVertexArray(vb.vao);
    glGetVertexAttribiv(4, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
    glBindVertexArray(0);
    EXPECT_EQ(enabled, 0);
}

// The draw calls are recorded through glad's pointers.
struct DrawCall {
    bool instanced;
    GLsizei count;
    GLsizei instances;
};
std::vector<DrawCall> draws;
void GLAD_API_PTR recordDraw(GLenum, GLsizei count, GLenum, const void *) {
    draws.push_back({false, count, 1});
}
void GLAD_API_PTR recordDrawInstanced(GLenum, GLsizei count, GLenum, const void *, GLsizei n) {
    draws.push_back({true, count, n});
}

TEST_F(Vertexbuffers, InstancedDrawOnlyAboveOneInstance) {
    const auto realDraw = glad_glDrawElements;
    const auto realInstanced = glad_glDrawElementsInstanced;
    glad_glDrawElements = recordDraw;
    glad_glDrawElementsInstanced = recordDrawInstanced;
    draws.clear();
    st::Vertexbuffer vb(24, 36);
    for (int32_t n : {0, 1, 2, 262144}) {
        vb.instanceCount = n;
        vb.draw();
    }
    glad_glDrawElements = realDraw;
    glad_glDrawElementsInstanced = realInstanced;
    ASSERT_EQ(draws.size(), 4u);
    EXPECT_FALSE(draws[0].instanced);
    EXPECT_FALSE(draws[1].instanced);
    EXPECT_TRUE(draws[2].instanced);
    EXPECT_EQ(draws[2].instances, 2);
    EXPECT_EQ(draws[3].instances, 262144);
    for (const DrawCall &d : draws) EXPECT_EQ(d.count, 36);
}

TEST_F(Vertexbuffers, ABufferWithoutArraysUploadsOnlyItsIndices) {
    auto vb = std::make_unique<st::Vertexbuffer>(0, 6);
    vb->bind();
    vb->unbind();
    EXPECT_EQ(vb->dirty, 0);
    EXPECT_TRUE(capturedBoxes().empty());
}
} // namespace
