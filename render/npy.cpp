#include "render/npy.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace render {

NpyArray::NpyArray(ClassType type, int rows, int columns)
    : type_(type), rows_(rows), columns_(columns)
{
    const char* descr = "|u1";
    int elementSize = 1;
    if (type == ClassType::UInt16) {
        descr = "<u2";
        elementSize = 2;
    } else if (type == ClassType::Float32) {
        descr = "<f4";
        elementSize = 4;
    } else if (type == ClassType::Counts4) {
        elementSize = 4; // four uint8 per pixel, a third axis
    }
    const std::string depth = type == ClassType::Counts4 ? ", 4" : "";
    std::string header = std::string("{'descr': '") + descr
                         + "', 'fortran_order': False, 'shape': (" + std::to_string(rows) + ", "
                         + std::to_string(columns) + depth + "), }";
    // Magic, version and length take 10 bytes; the header is padded with
    // blanks and ends in a line feed so that the data starts on a multiple of
    // 64 bytes.
    const size_t total = (10 + header.size() + 1 + 63) / 64 * 64;
    header.resize(total - 10 - 1, ' ');
    header += '\n';
    bytes_.reserve(total + static_cast<size_t>(rows) * columns * elementSize);
    const uint8_t magic[] = {0x93, 'N', 'U', 'M', 'P', 'Y', 1, 0};
    bytes_.insert(bytes_.end(), magic, magic + sizeof magic);
    bytes_.push_back(static_cast<uint8_t>(header.size() & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(header.size() >> 8));
    bytes_.insert(bytes_.end(), header.begin(), header.end());
    offset_ = bytes_.size();
    bytes_.resize(offset_ + static_cast<size_t>(rows) * columns * elementSize, 0);
}

template <class T>
void NpyArray::fillWith(int left, int top, int right, int bottom, T value)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, columns_);
    bottom = std::min(bottom, rows_);
    if (left >= right || top >= bottom)
        return;
    // Little-endian, as the header declares, whatever the machine.
    uint8_t element[sizeof(T)];
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i)
        element[i] = static_cast<uint8_t>(bits >> (8 * i));
    for (int row = top; row < bottom; ++row) {
        uint8_t* p = bytes_.data() + offset_
                     + (static_cast<size_t>(row) * columns_ + left) * sizeof(T);
        for (int c = left; c < right; ++c, p += sizeof(T))
            std::memcpy(p, element, sizeof(T));
    }
}

void NpyArray::fill(int left, int top, int right, int bottom, uint16_t value)
{
    if (type_ == ClassType::UInt8)
        fillWith(left, top, right, bottom, static_cast<uint8_t>(value));
    else if (type_ == ClassType::UInt16)
        fillWith(left, top, right, bottom, value);
    else if (type_ == ClassType::Counts4)
        fillWith(left, top, right, bottom,
                 static_cast<uint32_t>((value >> 12) | ((value >> 8) & 0xF) << 8
                                       | ((value >> 4) & 0xF) << 16 | (value & 0xF) << 24));
    else
        fillWith(left, top, right, bottom, static_cast<float>(value));
}

void NpyArray::fill(int left, int top, int right, int bottom, float value)
{
    if (type_ == ClassType::Float32)
        fillWith(left, top, right, bottom, value);
    else
        fill(left, top, right, bottom, static_cast<uint16_t>(value));
}

} // namespace render
