// Motion JPEG input for tessaly-ft: the pictures of a file of JPEGs back to
// back, or of a container (AVI, MP4, ...) read through libavformat.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ftool {

// Each picture's bytes, SOI to EOI. False with a message when the file holds
// something else or a damaged picture.
bool ReadJpegPictures(const std::string &path, std::vector<std::vector<uint8_t>> &pictures, std::string &error);

}  // namespace ftool
