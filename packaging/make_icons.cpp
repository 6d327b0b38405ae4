// Draws the program's icon for the desktop: PNGs at the sizes given, by the
// window's own icon code, and a scalable SVG of the same drawing, in vector
// form.
//   veltrane-icons FOLDER SIZE...   writes FOLDER/veltrane-SIZE.png, FOLDER/veltrane.svg
#include "ui/icon.h"

#include <QDir>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

// The drawing in ProgramIconImage, over the unit square (x right, y down):
// four basins wound around the centre, where the basin of a point at angle
// phi and radius r (the icon's half-width being 1) is
// floor(2 phi / pi + 6 r), modulo 4. Each basin is one spiral strip; its
// boundaries are r = (k - 2 phi / pi) / 6 and r = (k + 1 - 2 phi / pi) / 6
// as phi runs down from where the strip starts at the centre until it has
// left the square.
std::string spiralStrip(int k)
{
    const double step = M_PI / 90.0;
    const double phiStart = (k + 1) * M_PI / 2.0;  // where the outer edge starts at r = 0
    const double phiEnd = (k - 9.0) * M_PI / 2.0;  // where the inner edge is beyond the corners
    std::string path;
    char buffer[64];
    auto point = [&](double r, double phi, char command) {
        const double x = 0.5 + 0.5 * r * std::cos(phi);
        const double y = 0.5 - 0.5 * r * std::sin(phi);
        std::snprintf(buffer, sizeof buffer, "%c%.4f %.4f", command, x, y);
        path += buffer;
    };
    point(0.0, phiStart, 'M');
    for (double phi = phiStart; phi >= phiEnd; phi -= step)
        point((k + 1 - 2.0 * phi / M_PI) / 6.0, phi, 'L');
    for (double phi = phiEnd; phi <= k * M_PI / 2.0; phi += step)
        point(std::max(0.0, (k - 2.0 * phi / M_PI) / 6.0), phi, 'L');
    return path + "Z";
}

std::string hex(QRgb c)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", qRed(c), qGreen(c), qBlue(c));
    return buffer;
}

bool writeSvg(const QString& name)
{
    // The icon's colours, read from the drawing itself: the basins' colours
    // in order, the frame and the orbit.
    const QImage image = ui::ProgramIconImage(32);
    const QList<QRgb> table = image.colorTable();
    const int basinColors[4] = {1, 2, 6, 4};
    std::ofstream out(name.toStdString());
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
           "viewBox=\"0 0 1 1\">\n"
           "<clipPath id=\"square\"><rect width=\"1\" height=\"1\"/></clipPath>\n"
           "<g clip-path=\"url(#square)\">\n";
    for (int k = 0; k < 4; ++k)
        out << "<path fill=\"" << hex(table[basinColors[k]]) << "\" d=\"" << spiralStrip(k)
            << "\"/>\n";
    out << "</g>\n<rect x=\"0.01\" y=\"0.01\" width=\"0.98\" height=\"0.98\" fill=\"none\" "
           "stroke=\"" << hex(table[0]) << "\" stroke-width=\"0.02\"/>\n";
    // The orbit of white dots spiralling in to its fixed point, black.
    for (int k = 0; k < 12; ++k) {
        const double r = 0.4 * std::pow(0.8, k);
        out << "<circle cx=\"" << 0.5 + r * std::cos(k * 2.2) << "\" cy=\""
            << 0.5 - r * std::sin(k * 2.2) << "\" r=\"0.018\" fill=\"" << hex(table[14])
            << "\"/>\n";
    }
    out << "<circle cx=\"0.5\" cy=\"0.5\" r=\"0.018\" fill=\"" << hex(table[0]) << "\"/>\n"
        << "</svg>\n";
    return static_cast<bool>(out.flush());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: veltrane-icons FOLDER SIZE...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "veltrane-icons: cannot make the folder %s\n", argv[1]);
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString name = folder + "/veltrane-" + QString::number(size) + ".png";
        if (size < 16 || !ui::ProgramIconImage(size).convertToFormat(QImage::Format_RGB32)
                               .save(name, "PNG")) {
            std::fprintf(stderr, "veltrane-icons: cannot write %s\n", qPrintable(name));
            return 1;
        }
    }
    if (!writeSvg(folder + "/veltrane.svg")) {
        std::fprintf(stderr, "veltrane-icons: cannot write the SVG\n");
        return 1;
    }
    return 0;
}
