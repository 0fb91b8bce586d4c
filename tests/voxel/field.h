// A zero-filled field that the generators write through demo.voxels.
#pragma once

#include "shell/demostate.h"
#include "voxel/voxel.h"

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
