// Windows bitmap output of a picture; plots/files.h writes it. No Qt here, so
// saving runs in the headless window too.
#pragma once

#include "model/errors.h"
#include "plots/surface.h"
#include "plots/files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plots {

// The width x height pixels of a surface, starting at its top-left pixel, as
// an uncompressed 24-bit Windows bitmap: a 14-byte file header, a 40-byte info
// header, then the rows from the bottom up, each in blue-green-red order and
// padded with zeros to a multiple of 4 bytes.
std::vector<uint8_t> EncodeBitmap(const plots::Surface& surface, int width, int height);

} // namespace plots
