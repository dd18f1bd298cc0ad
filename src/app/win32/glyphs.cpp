#include "app/win32/glyphs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "os/error.h"

namespace pasarela {
namespace {

// A straight pen stroke in a unit square (0,0 top left, 1,1 bottom right).
struct Stroke {
    double x0, y0, x1, y1;
};

struct GlyphDrawing {
    std::vector<Stroke> strokes;
    double penWidth;  // share of the icon's side
    COLORREF colour;
};

GlyphDrawing DrawingOf(Glyph glyph)
{
    if (glyph == Glyph::CheckMark)
        return {{{0.16, 0.54, 0.40, 0.78}, {0.40, 0.78, 0.86, 0.22}}, 0.17, RGB(0x1C, 0x9A, 0x2E)};
    return {{{0.22, 0.22, 0.78, 0.78}, {0.78, 0.22, 0.22, 0.78}}, 0.16, RGB(0xD0, 0x1E, 0x1E)};
}

double DistanceToStroke(const Stroke& s, double x, double y)
{
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double t = std::clamp(((x - s.x0) * dx + (y - s.y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - (s.x0 + t * dx), y - (s.y0 + t * dy));
}

// Share of the pixel covered by the pen: 4 x 4 samples, so edges blend into any background.
double Coverage(const GlyphDrawing& drawing, int size, int px, int py)
{
    constexpr int kSamples = 4;
    int inside = 0;
    for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
            const double x = (px + (sx + 0.5) / kSamples) / size;
            const double y = (py + (sy + 0.5) / kSamples) / size;
            for (const Stroke& stroke : drawing.strokes)
                if (DistanceToStroke(stroke, x, y) <= drawing.penWidth / 2) {
                    ++inside;
                    break;
                }
        }
    return static_cast<double>(inside) / (kSamples * kSamples);
}

}  // namespace

HICON MakeGlyphIcon(Glyph glyph, int size, int gap)
{
    const GlyphDrawing drawing = DrawingOf(glyph);
    const int width = size + gap;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -size;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    // The alpha channel decides how it is drawn; the mask (1 = clear, rows padded to 16
    // bits) gives the shape a disabled button embosses, which would otherwise be a square.
    const int maskRowBytes = (width + 15) / 16 * 2;
    std::vector<std::uint8_t> maskBits(static_cast<std::size_t>(maskRowBytes * size), 0);
    HICON icon = nullptr;
    if (colour != nullptr) {
        auto* pixels = static_cast<std::uint32_t*>(bits);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < width; ++x) {
                const double coverage = x < size ? Coverage(drawing, size, x, y) : 0.0;
                const auto alpha = static_cast<std::uint32_t>(std::lround(coverage * 255));
                // Straight (not premultiplied) BGRA, as icons expect.
                pixels[y * width + x] = alpha == 0 ? 0
                                                  : (alpha << 24) | (std::uint32_t{GetRValue(drawing.colour)} << 16) |
                                                        (std::uint32_t{GetGValue(drawing.colour)} << 8) |
                                                        GetBValue(drawing.colour);
                if (coverage < 0.5)
                    maskBits[static_cast<std::size_t>(y * maskRowBytes + x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            }
        GdiFlush();
    }
    HBITMAP mask = CreateBitmap(width, size, 1, 1, maskBits.data());
    if (colour != nullptr && mask != nullptr) {
        ICONINFO iconInfo{TRUE, 0, 0, mask, colour};
        icon = CreateIconIndirect(&iconInfo);
    }
    if (colour != nullptr)
        DeleteObject(colour);
    if (mask != nullptr)
        DeleteObject(mask);
    if (icon == nullptr)
        throw Error("No se pudo dibujar el icono de un botón (memoria gráfica insuficiente).");
    return icon;
}

}  // namespace pasarela
