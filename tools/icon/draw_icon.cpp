// draw_icon ICO PNG: draws the program icon, a sideways figure-eight (the XY figure at df = 0) in
// the XY pane's yellow on its gray, and writes it as a 32 x 32, 16-colour Windows icon and as the
// same picture in PNG for the desktop entry. The output is the same on every run.
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int size = 32;

struct Rgb {
    uint8_t r, g, b;
};
// The 16-colour palette; the picture uses the first four.
constexpr std::array<Rgb, 16> palette = {
    {{0, 0, 0}, {128, 128, 128}, {255, 255, 100}, {64, 64, 64}}};
constexpr uint8_t frame_black = 0, pane_gray = 1, point_yellow = 2, shade = 3;

using Picture = std::array<std::array<uint8_t, size>, size>; // [row][column] palette indices

Picture draw() {
    Picture p;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool edge = x == 0 || y == 0 || x == size - 1 || y == size - 1;
            p[y][x] = edge ? frame_black : pane_gray;
        }
    }
    // x = sin t, y = sin 2t: the tones at 1:2, lobes left and right, crossing at the centre.
    // A dark shadow one pixel down-right first, then the two-pixel-wide yellow trace.
    const int steps = 2000;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < steps; ++i) {
            const double t = 6.283185307179586 * i / steps;
            const int x = static_cast<int>(std::lround(15.5 + 12.0 * std::sin(t) - 0.5));
            const int y = static_cast<int>(std::lround(15.5 - 9.0 * std::sin(2.0 * t) - 0.5));
            if (pass == 0) {
                p[y + 1][x + 2] = p[y + 1][x + 2] == pane_gray ? shade : p[y + 1][x + 2];
            } else {
                p[y][x] = point_yellow;
                p[y][x + 1] = point_yellow;
            }
        }
    }
    return p;
}

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void put32_be(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) {
        out.push_back(static_cast<uint8_t>(v >> s));
    }
}

// ICONDIR, one ICONDIRENTRY, then a 4-bit DIB: header, palette, colour rows and the transparency
// mask (all opaque), both bottom-up.
std::vector<uint8_t> icon_file(const Picture& p) {
    constexpr uint32_t colour_bytes = size * size / 2;
    constexpr uint32_t mask_bytes = size * size / 8;
    constexpr uint32_t image_bytes = 40 + 16 * 4 + colour_bytes + mask_bytes;
    std::vector<uint8_t> out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, 1); // one image
    out.insert(out.end(), {size, size, 16, 0});
    put16(out, 1); // planes
    put16(out, 4); // bits per pixel
    put32(out, image_bytes);
    put32(out, 6 + 16);
    put32(out, 40);
    put32(out, size);
    put32(out, size * 2); // colour rows and mask rows
    put16(out, 1);
    put16(out, 4);
    put32(out, 0); // uncompressed
    put32(out, colour_bytes + mask_bytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 16);
    put32(out, 0);
    for (const Rgb& c : palette) {
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; x += 2) {
            out.push_back(static_cast<uint8_t>(p[y][x] << 4 | p[y][x + 1]));
        }
    }
    out.insert(out.end(), mask_bytes, 0);
    return out;
}

uint32_t crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void png_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data) {
    put32_be(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32_be(out, crc32(out.data() + start, out.size() - start));
}

// 8-bit RGB, no filtering, one stored (uncompressed) deflate block: plain and dependency-free.
std::vector<uint8_t> png_file(const Picture& p) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);
        for (int x = 0; x < size; ++x) {
            const Rgb& c = palette[p[y][x]];
            raw.insert(raw.end(), {c.r, c.g, c.b});
        }
    }
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    std::vector<uint8_t> zlib = {0x78, 0x01, 0x01};
    put16(zlib, static_cast<uint32_t>(raw.size()));
    put16(zlib, static_cast<uint32_t>(~raw.size() & 0xFFFF));
    zlib.insert(zlib.end(), raw.begin(), raw.end());
    put32_be(zlib, b << 16 | a);

    std::vector<uint8_t> header;
    put32_be(header, size);
    put32_be(header, size);
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter, no interlace
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png_chunk(out, "IHDR", header);
    png_chunk(out, "IDAT", zlib);
    png_chunk(out, "IEND", {});
    return out;
}

bool write(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        return false;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: draw_icon ICO PNG\n");
        return 2;
    }
    const Picture picture = draw();
    if (!write(argv[1], icon_file(picture)) || !write(argv[2], png_file(picture))) {
        std::fprintf(stderr, "draw_icon: cannot write the icon files\n");
        return 1;
    }
    return 0;
}
