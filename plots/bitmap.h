// Windows bitmap output of a picture, and writing a file without ever losing
// the one it replaces. No Qt here, so saving runs in the headless window too.
#pragma once

#include "model/errors.h"
#include "plots/surface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace plots {

// The width x height pixels of a surface, starting at its top-left pixel, as
// an uncompressed 24-bit Windows bitmap: a 14-byte file header, a 40-byte info
// header, then the rows from the bottom up, each in blue-green-red order and
// padded with zeros to a multiple of 4 bytes.
std::vector<uint8_t> EncodeBitmap(const plots::Surface& surface, int width, int height);

// Writes bytes under name, used exactly as given (relative names refer to the
// working directory). A plain file, or a name not yet taken, gets the bytes
// in a new file beside it, which then replaces it in one step: on any
// failure an existing file of that name stays as it was, byte for byte. A
// symbolic link is followed and its target is replaced so; the link stays.
// Anything else (a device, a pipe) is written into as it stands and never
// replaced. Throws RuntimeError of kind FileNotWritten, naming the file.
void WriteFileReplacing(const std::string& name, const std::vector<uint8_t>& bytes);

} // namespace plots
