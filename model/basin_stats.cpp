#include "model/basin_stats.h"

#include "model/errors.h"
#include "model/interrupt.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace model::analysis {

template <class Class>
BasinStatistics ComputeBasinStatistics(std::span<const Class> classes, int width, int height,
                                       int box)
{
    if (width < 0 || height < 0 || box < 1)
        throwIndexOutOfRange("The picture's sizes and the box size of the basin statistics must be positive.");
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (classes.size() != pixels)
        throwIndexOutOfRange("The picture of classes does not hold width x height pixels.");

    BasinStatistics stats;
    std::map<int64_t, int64_t> counts;
    for (const Class c : classes)
        ++counts[static_cast<int64_t>(c)];
    for (const auto& [c, n] : counts)
        stats.fractions.push_back({c, static_cast<double>(n) / static_cast<double>(pixels)});

    const int across = width / box, down = height / box;
    const double area = static_cast<double>(box) * box;
    std::vector<int64_t> inBox(static_cast<size_t>(box) * box);
    double all = 0, boundary = 0;
    for (int by = 0; by < down; ++by)
        for (int bx = 0; bx < across; ++bx) {
            CheckInterrupt();
            size_t k = 0;
            for (int r = by * box; r < (by + 1) * box; ++r)
                for (int col = bx * box; col < (bx + 1) * box; ++col)
                    inBox[k++] = static_cast<int64_t>(classes[static_cast<size_t>(r) * width + col]);
            std::sort(inBox.begin(), inBox.end());
            double entropy = 0;
            bool mixed = false;
            for (size_t i = 0; i < inBox.size();) {
                size_t j = i;
                while (j < inBox.size() && inBox[j] == inBox[i])
                    ++j;
                mixed = mixed || j < inBox.size() || i > 0;
                const double p = static_cast<double>(j - i) / area;
                entropy += p * std::log(1 / p);
                i = j;
            }
            ++stats.boxes;
            all += entropy;
            if (mixed) {
                ++stats.boundaryBoxes;
                boundary += entropy;
            }
        }
    if (stats.boxes > 0)
        stats.basinEntropy = all / static_cast<double>(stats.boxes);
    if (stats.boundaryBoxes > 0)
        stats.boundaryBasinEntropy = boundary / static_cast<double>(stats.boundaryBoxes);
    return stats;
}

template BasinStatistics ComputeBasinStatistics(std::span<const uint8_t>, int, int, int);
template BasinStatistics ComputeBasinStatistics(std::span<const int16_t>, int, int, int);
template BasinStatistics ComputeBasinStatistics(std::span<const uint16_t>, int, int, int);
template BasinStatistics ComputeBasinStatistics(std::span<const int32_t>, int, int, int);
template BasinStatistics ComputeBasinStatistics(std::span<const uint32_t>, int, int, int);
template BasinStatistics ComputeBasinStatistics(std::span<const int64_t>, int, int, int);

} // namespace model::analysis
