// A numpy array file (.npy, format 1.0) built in memory: the header, then the
// elements in C order, row 0 being the top row of the picture. The buffer is
// the file itself, so writing it needs no copy.
#pragma once

#include "render/plan.h"

#include <cstdint>
#include <vector>

namespace render {

// A whole .npy file of the given element type ("<f8") and shape, its
// elements zero; dataOffset is set to where they start (a multiple of 64).
std::vector<uint8_t> NpyFile(const char* descr, const std::vector<int64_t>& shape,
                             size_t elementSize, size_t& dataOffset);

class NpyArray {
public:
    // A rows x columns array of zeros.
    NpyArray(ClassType type, int rows, int columns);

    // Sets the elements of rows [top, bottom) and columns [left, right) to
    // what the array's type holds of the dot (ClassType).
    void put(int left, int top, int right, int bottom, const DotResult& dot);
    // Sets the elements of rows [top, bottom) and columns [left, right).
    void fill(int left, int top, int right, int bottom, uint16_t value);
    void fill(int left, int top, int right, int bottom, float value);
    // UInt32: the count; Float32Pair: the two values of each element.
    void fillCount(int left, int top, int right, int bottom, uint32_t value);
    void fillPair(int left, int top, int right, int bottom, float first, float second);

    ClassType type() const { return type_; }
    int rows() const { return rows_; }
    int columns() const { return columns_; }
    // The whole file.
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    // Where the elements start in bytes().
    size_t dataOffset() const { return offset_; }

private:
    template <class T>
    void fillWith(int left, int top, int right, int bottom, T value);
    void fillBits(int left, int top, int right, int bottom, uint64_t bits, size_t size);

    ClassType type_;
    int rows_, columns_;
    size_t offset_ = 0;
    std::vector<uint8_t> bytes_;
};

} // namespace render
