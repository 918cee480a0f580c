// Everything the soak sends, made once before the run so that feeding
// allocates nothing: camera streams cut into frames, each in a clean and in
// damaged variants, the same streams as FT byte streams, and sound frames.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tessaly::soak {

using Bytes = std::vector<uint8_t>;

enum class Damage { kNone, kBitFlips, kTruncated, kDropped, kGarbage };
const char *DamageName(Damage damage);

struct FrameSequence {
    std::string name;  // stream file name and damage
    uint32_t width = 0, height = 0;
    std::vector<Bytes> frames;  // what the host sends, one call each
};

struct ByteStream {
    std::string name;
    Bytes bytes;
    size_t packets = 0;
};

struct SoakStreams {
    std::vector<FrameSequence> live;       // every stream in every damage variant
    std::vector<ByteStream> ft;            // every clean stream as an FT byte stream
    std::vector<Bytes> soundBlocks;        // four 44-byte G.726 32 kbit/s frames of a tone each
    std::vector<std::string> recordFiles;  // paths
};

// Loads `streamPaths` (Annex B H.264) and damages copies of them; `seed`
// makes the damage repeatable. On failure returns false with a reason.
bool LoadSoakStreams(const std::vector<std::string> &streamPaths, uint32_t seed, SoakStreams *streams,
                     std::string *error);

}  // namespace tessaly::soak
