// SPDX-License-Identifier: GPL-3.0-or-later
// draw_icon DIR: draws the program icon, a sideways figure-eight (the XY figure at df = 0) in the
// XY pane's yellow on its gray, and writes it into DIR as
//   hicolor/scalable/apps/tavrene.svg               the drawing itself,
//   hicolor/NxN/apps/tavrene.png                    painted at the desktop's usual sizes,
//   tavrene.ico                                     the Windows icon: 16-64 as DIBs, 256 as PNG.
// The drawing is one list of shapes on a 32 x 32 canvas; the SVG writes those shapes and the
// bitmaps paint the same shapes, scaled, with Qt's antialiased raster. The output is the same on
// every run.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

constexpr double canvas = 32.0;

struct Rgb {
    int r, g, b;
};
constexpr Rgb pane_gray = {128, 128, 128};
constexpr Rgb frame_black = {0, 0, 0};
constexpr Rgb point_yellow = {255, 255, 100};
constexpr Rgb shadow_gray = {64, 64, 64};

struct Point {
    double x, y;
};

// A closed outline, stroked (never filled) with round joins.
struct Stroke {
    std::vector<Point> points;
    double width;
    Rgb colour;
};

struct Drawing {
    Rgb background;
    std::vector<Stroke> strokes; // painted in order
};

// Coordinates are kept to 1/1000 of a unit so that the SVG's text holds exactly what is painted.
double to_thousandths(double v) {
    return std::round(v * 1000.0) / 1000.0;
}

Drawing draw() {
    Drawing d{pane_gray, {}};
    // The pane's black frame, one unit wide along the edge.
    d.strokes.push_back({{{0.5, 0.5}, {31.5, 0.5}, {31.5, 31.5}, {0.5, 31.5}}, 1.0, frame_black});
    // x = sin t, y = sin 2t: the tones at 1:2, lobes left and right, crossing at the centre. A
    // dark shadow down and to the right first, then the yellow trace.
    const int steps = 96;
    for (const auto& [dx, dy, colour] :
         {std::tuple{1.5, 1.0, shadow_gray}, std::tuple{0.0, 0.0, point_yellow}}) {
        Stroke s{{}, 2.0, colour};
        for (int i = 0; i < steps; ++i) {
            const double t = 6.283185307179586 * i / steps;
            s.points.push_back({to_thousandths(16.0 + 12.0 * std::sin(t) + dx),
                                to_thousandths(16.0 - 9.0 * std::sin(2.0 * t) + dy)});
        }
        d.strokes.push_back(std::move(s));
    }
    return d;
}

std::string svg_colour(Rgb c) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
    return text;
}

std::string svg_file(const Drawing& d) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\" "
                      "viewBox=\"0 0 32 32\">\n";
    out += "<rect width=\"32\" height=\"32\" fill=\"" + svg_colour(d.background) + "\"/>\n";
    for (const Stroke& s : d.strokes) {
        char width[16];
        std::snprintf(width, sizeof width, "%g", s.width);
        out += "<path fill=\"none\" stroke=\"" + svg_colour(s.colour) + "\" stroke-width=\"" +
               width + "\" stroke-linejoin=\"round\" d=\"";
        for (size_t i = 0; i < s.points.size(); ++i) {
            char coords[48];
            std::snprintf(coords, sizeof coords, "%s%.3f %.3f", i == 0 ? "M" : " L", s.points[i].x,
                          s.points[i].y);
            out += coords;
        }
        out += " Z\"/>\n";
    }
    return out + "</svg>\n";
}

QImage paint(const Drawing& d, int size) {
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(QColor(d.background.r, d.background.g, d.background.b));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / canvas, size / canvas);
    for (const Stroke& s : d.strokes) {
        QPainterPath path;
        path.moveTo(s.points[0].x, s.points[0].y);
        for (size_t i = 1; i < s.points.size(); ++i) {
            path.lineTo(s.points[i].x, s.points[i].y);
        }
        path.closeSubpath();
        painter.strokePath(path, QPen(QColor(s.colour.r, s.colour.g, s.colour.b), s.width,
                                      Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    }
    painter.end();
    return image;
}

QByteArray png_bytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.convertToFormat(QImage::Format_RGB32).save(&buffer, "PNG");
    return bytes;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A 32-bit DIB for the icon resource: header, BGRA rows bottom-up, then the AND mask (all
// opaque), whose rows are padded to 32 bits.
std::vector<uint8_t> icon_dib(const QImage& image) {
    const int size = image.width();
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2); // colour rows and mask rows
    put16(out, 1);
    put16(out, 32);
    put32(out, 0); // uncompressed
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const QRgb c = image.pixel(x, y);
            out.insert(out.end(), {static_cast<uint8_t>(qBlue(c)), static_cast<uint8_t>(qGreen(c)),
                                   static_cast<uint8_t>(qRed(c)), 255});
        }
    }
    const size_t mask_row_bytes = (static_cast<size_t>(size) + 31) / 32 * 4; // padded to 32 bits
    out.insert(out.end(), mask_row_bytes * static_cast<size_t>(size), 0);
    return out;
}

// ICONDIR, its entries, then the images. Windows takes 256 x 256 as PNG, smaller sizes as DIBs.
std::vector<uint8_t> icon_file(const Drawing& d) {
    constexpr std::array<int, 6> sizes = {16, 24, 32, 48, 64, 256};
    std::vector<std::vector<uint8_t>> images;
    for (int size : sizes) {
        const QImage image = paint(d, size);
        if (size == 256) {
            const QByteArray png = png_bytes(image);
            images.emplace_back(png.begin(), png.end());
        } else {
            images.push_back(icon_dib(image));
        }
    }
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, sizes.size());
    uint32_t offset = 6 + 16 * sizes.size();
    for (size_t i = 0; i < sizes.size(); ++i) {
        const auto side = static_cast<uint8_t>(sizes[i] & 0xFF); // 0 stands for 256
        out.insert(out.end(), {side, side, 0, 0});
        put16(out, 1);  // planes
        put16(out, 32); // bits per pixel
        put32(out, static_cast<uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<uint32_t>(images[i].size());
    }
    for (const auto& image : images) {
        out.insert(out.end(), image.begin(), image.end());
    }
    return out;
}

bool write(const QString& path, const void* bytes, size_t count) {
    FILE* f = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes, 1, count, f) == count;
    return std::fclose(f) == 0 && ok;
}

bool write_all(const QString& dir, const Drawing& d) {
    const QString scalable = dir + "/hicolor/scalable/apps";
    const std::string svg = svg_file(d);
    bool ok = QDir().mkpath(scalable) && write(scalable + "/tavrene.svg", svg.data(), svg.size());
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString folder = QString("%1/hicolor/%2x%2/apps").arg(dir).arg(size);
        const QByteArray png = png_bytes(paint(d, size));
        ok = ok && QDir().mkpath(folder) &&
             write(folder + "/tavrene.png", png.constData(), static_cast<size_t>(png.size()));
    }
    const std::vector<uint8_t> ico = icon_file(d);
    return ok && write(dir + "/tavrene.ico", ico.data(), ico.size());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_icon DIR\n");
        return 2;
    }
    if (!write_all(QString::fromLocal8Bit(argv[1]), draw())) {
        std::fprintf(stderr, "draw_icon: cannot write the icon files into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
