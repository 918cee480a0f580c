// Test input from files: whole files, and H.264 streams cut into the access
// units a camera would push one call at a time.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "annexb_access_units.h"

inline std::vector<uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::vector<uint8_t>> AccessUnits(const std::vector<uint8_t> &stream) {
    std::vector<std::vector<uint8_t>> units;
    for (const auto &r : tessaly::tools::SplitAccessUnits(stream.data(), stream.size()))
        units.emplace_back(stream.begin() + ptrdiff_t(r.offset), stream.begin() + ptrdiff_t(r.offset + r.size));
    return units;
}
