// Fuzzes the splitting of shader texts at carriage returns.
#include "st/st_shader.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const size_t length = std::strlen(text.data());
    std::vector<const char *> starts;
    std::vector<int32_t> lengths;
    st::splitShaderText(text.data(), starts, lengths);
    // Every piece lies inside the text, and the pieces and the CRs cover it.
    size_t covered = starts.size() - 1;
    for (size_t i = 0; i < starts.size(); ++i) {
        if (starts[i] < text.data() || starts[i] + lengths[i] > text.data() + length) __builtin_trap();
        if (std::memchr(starts[i], '\r', static_cast<size_t>(lengths[i]))) __builtin_trap();
        covered += static_cast<size_t>(lengths[i]);
    }
    if (covered != length) __builtin_trap();
    return 0;
}
