#include "plots/bitmap.h"

namespace plots {

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

} // namespace

std::vector<uint8_t> EncodeBitmap(const plots::Surface& surface, int width, int height)
{
    const uint32_t rowBytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t imageBytes = rowBytes * static_cast<uint32_t>(height);
    const uint32_t offset = 14 + 40;
    std::vector<uint8_t> out;
    out.reserve(offset + imageBytes);

    out.push_back('B');
    out.push_back('M');
    put32(out, offset + imageBytes); // file size
    put32(out, 0);                   // reserved
    put32(out, offset);              // where the pixels start

    put32(out, 40);                  // info header size
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height)); // positive: rows stored bottom-up
    put16(out, 1);                   // planes
    put16(out, 24);                  // bits per pixel
    put32(out, 0);                   // no compression
    put32(out, imageBytes);
    put32(out, 3780);                // 96 dots per inch, in dots per metre
    put32(out, 3780);
    put32(out, 0);                   // no colour table
    put32(out, 0);

    for (int row = height - 1; row >= 0; --row) {
        const size_t start = out.size();
        for (int column = 0; column < width; ++column) {
            const model::Color c = surface.pixel(column, row);
            out.push_back(static_cast<uint8_t>(model::BlueOf(c)));
            out.push_back(static_cast<uint8_t>(model::GreenOf(c)));
            out.push_back(static_cast<uint8_t>(model::RedOf(c)));
        }
        out.resize(start + rowBytes, 0);
    }
    return out;
}

} // namespace plots
