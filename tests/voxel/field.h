// A zero-filled field that the generators write through demo.voxels.
#pragma once

#include "shell/demostate.h"
#include "voxel/voxel.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

struct Field {
    std::vector<float> cells = std::vector<float>(GRID_CELLS, 0.0f);
    Field() { demo.voxels = cells.data(); }
    ~Field() { demo.voxels = nullptr; }
    float &at(int x, int y, int z) { return cells[static_cast<size_t>(gridIndex(x, y, z))]; }
    int filled() const {
        int n = 0;
        for (float v : cells) n += v != 0.0f;
        return n;
    }
};

inline bool inShell(int x, int y, int z) {
    return x == 0 || y == 0 || z == 0 || x == 63 || y == 63 || z == 63;
}

// The generators write the interior only: checks that every shell cell still
// holds shellValue and hands each interior cell to cell(x, y, z, value). Stops
// at the first fatal failure, so call it inside ASSERT_NO_FATAL_FAILURE.
template <class Cell> void checkShellVisitInterior(Field &field, float shellValue, Cell cell) {
    for (int z = 0; z < 64; ++z)
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) {
                const float v = field.at(x, y, z);
                if (inShell(x, y, z)) {
                    ASSERT_EQ(v, shellValue) << "shell cell " << x << "," << y << "," << z;
                } else {
                    cell(x, y, z, v);
                }
                if (::testing::Test::HasFatalFailure()) return;
            }
}
