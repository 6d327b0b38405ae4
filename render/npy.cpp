#include "render/npy.h"

#include "model/fixed_points.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace render {

std::vector<uint8_t> NpyFile(const char* descr, const std::vector<int64_t>& shape,
                             size_t elementSize, size_t& dataOffset)
{
    std::string header = std::string("{'descr': '") + descr + "', 'fortran_order': False, 'shape': (";
    size_t elements = 1;
    for (size_t i = 0; i < shape.size(); ++i) {
        header += (i ? ", " : "") + std::to_string(shape[i]);
        elements *= static_cast<size_t>(shape[i]);
    }
    header += "), }";
    // Magic, version and length take 10 bytes; the header is padded with
    // blanks and ends in a line feed so that the data starts on a multiple of
    // 64 bytes.
    const size_t total = (10 + header.size() + 1 + 63) / 64 * 64;
    header.resize(total - 10 - 1, ' ');
    header += '\n';
    const std::string head = std::string("\x93NUMPY\x01\x00", 8)
                             + static_cast<char>(header.size() & 0xFF)
                             + static_cast<char>(header.size() >> 8) + header;
    dataOffset = head.size();
    std::vector<uint8_t> bytes(dataOffset + elements * elementSize, 0);
    std::copy(head.begin(), head.end(), bytes.begin());
    return bytes;
}

NpyArray::NpyArray(ClassType type, int rows, int columns)
    : type_(type), rows_(rows), columns_(columns)
{
    const char* descr = "|u1";
    size_t elementSize = 1;
    std::vector<int64_t> shape = {rows, columns};
    if (type == ClassType::UInt16) {
        descr = "<u2";
        elementSize = 2;
    } else if (type == ClassType::Float32) {
        descr = "<f4";
        elementSize = 4;
    } else if (type == ClassType::UInt32) {
        descr = "<u4";
        elementSize = 4;
    } else if (type == ClassType::Counts4) {
        shape.push_back(4); // four uint8 per pixel, a third axis
    } else if (type == ClassType::Float32Pair) {
        descr = "<f4";
        elementSize = 4;
        shape.push_back(2);
    }
    bytes_ = NpyFile(descr, shape, elementSize, offset_);
}

template <class T>
void NpyArray::fillWith(int left, int top, int right, int bottom, T value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(T));
    fillBits(left, top, right, bottom, bits, sizeof(T));
}

void NpyArray::fillBits(int left, int top, int right, int bottom, uint64_t bits, size_t size)
{
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, columns_);
    bottom = std::min(bottom, rows_);
    if (left >= right || top >= bottom)
        return;
    // Little-endian, as the header declares, whatever the machine.
    uint8_t element[8];
    for (size_t i = 0; i < size; ++i)
        element[i] = static_cast<uint8_t>(bits >> (8 * i));
    for (int row = top; row < bottom; ++row) {
        uint8_t* p = bytes_.data() + offset_ + (static_cast<size_t>(row) * columns_ + left) * size;
        for (int c = left; c < right; ++c, p += size)
            std::memcpy(p, element, size);
    }
}

void NpyArray::fillCount(int left, int top, int right, int bottom, uint32_t value)
{
    fillBits(left, top, right, bottom, value, sizeof value);
}

void NpyArray::fillPair(int left, int top, int right, int bottom, float first, float second)
{
    uint32_t a = 0, b = 0;
    std::memcpy(&a, &first, sizeof a);
    std::memcpy(&b, &second, sizeof b);
    fillBits(left, top, right, bottom, a | uint64_t{b} << 32, 2 * sizeof a);
}

void NpyArray::fill(int left, int top, int right, int bottom, uint16_t value)
{
    if (type_ == ClassType::UInt8)
        fillWith(left, top, right, bottom, static_cast<uint8_t>(value));
    else if (type_ == ClassType::UInt16)
        fillWith(left, top, right, bottom, value);
    else if (type_ == ClassType::Counts4) {
        // The four counts as four bytes, in the order of the array's third axis.
        const auto n = model::analysis::CountsOfKey(value);
        fillWith(left, top, right, bottom,
                 uint32_t{n.attracting} | uint32_t{n.saddle} << 8 | uint32_t{n.repelling} << 16
                     | uint32_t{n.nonHyperbolic} << 24);
    }
    else
        fillWith(left, top, right, bottom, static_cast<float>(value));
}

void NpyArray::put(int left, int top, int right, int bottom, const DotResult& dot)
{
    switch (type_) {
    case ClassType::UInt32: fillCount(left, top, right, bottom, dot.count); break;
    case ClassType::Float32Pair:
        fillPair(left, top, right, bottom, static_cast<float>(dot.lambda), dot.lambda2);
        break;
    case ClassType::Float32: fill(left, top, right, bottom, static_cast<float>(dot.lambda)); break;
    default: fill(left, top, right, bottom, dot.cls);
    }
}

void NpyArray::fill(int left, int top, int right, int bottom, float value)
{
    if (type_ == ClassType::Float32)
        fillWith(left, top, right, bottom, value);
    else
        fill(left, top, right, bottom, static_cast<uint16_t>(value));
}

} // namespace render
