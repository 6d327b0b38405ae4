#include "ui/icon.h"


#include <cmath>

namespace ui {

namespace {

// The 16 colours of the icon: the first period colours and a few greys.
const QRgb kColors[16] = {
    qRgb(0, 0, 0),       qRgb(150, 75, 0),    qRgb(250, 75, 75),  qRgb(250, 150, 50),
    qRgb(250, 250, 50),  qRgb(50, 200, 50),   qRgb(75, 75, 250),  qRgb(200, 0, 250),
    qRgb(150, 150, 150), qRgb(250, 250, 250), qRgb(200, 200, 200), qRgb(190, 90, 0),
    qRgb(250, 150, 150), qRgb(100, 100, 100), qRgb(255, 255, 255), qRgb(40, 40, 120),
};

} // namespace

QImage ProgramIconImage(int size)
{
    QImage image(size, size, QImage::Format_Indexed8);
    image.setColorTable(QList<QRgb>(std::begin(kColors), std::end(kColors)));
    // Four basins wound around the centre, as a spiral boundary divides them.
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            const double x = (column + 0.5) / size * 2.0 - 1.0;
            const double y = 1.0 - (row + 0.5) / size * 2.0;
            const double turn = std::atan2(y, x) / (2.0 * M_PI) + 1.5 * std::hypot(x, y);
            const int basin = static_cast<int>(std::floor(turn * 4.0)) & 3;
            static const int basinColors[4] = {1, 2, 6, 4};
            image.setPixel(column, row, static_cast<uint>(basinColors[basin]));
        }
    }
    // A black frame and an orbit of white dots spiralling in to its fixed point.
    for (int i = 0; i < size; ++i) {
        image.setPixel(i, 0, 0);
        image.setPixel(i, size - 1, 0);
        image.setPixel(0, i, 0);
        image.setPixel(size - 1, i, 0);
    }
    const double c = (size - 1) / 2.0;
    for (int k = 0; k < 12; ++k) {
        const double r = c * 0.8 * std::pow(0.8, k);
        const double a = k * 2.2;
        image.setPixel(static_cast<int>(std::lround(c + r * std::cos(a))),
                       static_cast<int>(std::lround(c - r * std::sin(a))), 14);
    }
    image.setPixel(static_cast<int>(std::lround(c)), static_cast<int>(std::lround(c)), 0);
    return image;
}

QIcon ProgramIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(32)));
    icon.addPixmap(QPixmap::fromImage(ProgramIconImage(16)));
    return icon;
}

} // namespace ui
