// SPDX-License-Identifier: GPL-2.0-or-later
// Draws the client's pictures and writes them as a C++ header of GdkPixdata
// streams (raw, 8 bits per sample) plus one two-colour XPM. Run at build time
// so the source tree carries no binary image files. The button captions are
// Chinese text set with Pango and Cairo in the CJK font of the package list.
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Rgba {
    double r, g, b, a;
};

constexpr Rgba kBlue{0x16 / 255.0, 0x70 / 255.0, 0xeb / 255.0, 1};
constexpr Rgba kDark{0x2b / 255.0, 0x3a / 255.0, 0x4a / 255.0, 1};
constexpr Rgba kRed{0xd0 / 255.0, 0x36 / 255.0, 0x3e / 255.0, 1};
constexpr Rgba kGreen{0x2e / 255.0, 0xa4 / 255.0, 0x4a / 255.0, 1};
constexpr Rgba kOrange{0xf0 / 255.0, 0x9a / 255.0, 0x1e / 255.0, 1};
constexpr Rgba kGrey{0x7a / 255.0, 0x8f / 255.0, 0xa6 / 255.0, 1};
constexpr Rgba kGold{0xe0 / 255.0, 0xa5 / 255.0, 0x26 / 255.0, 1};
constexpr Rgba WHITE{1, 1, 1, 1};

// Straight (not premultiplied) RGBA in 0..1, as GdkPixbuf stores it.
struct Canvas {
    int w, h;
    std::vector<Rgba> px;
};

Canvas canvas(int w, int h, Rgba fill = {0, 0, 0, 0})
{
    return Canvas{w, h, std::vector<Rgba>(size_t(w) * size_t(h), fill)};
}

using Inside = std::function<bool(double x, double y)>;
using Paint = std::function<Rgba(double x, double y)>;

// Source-over compositing of one colour with a coverage weight.
void blend(Rgba &dst, Rgba src, double cover)
{
    double sa = src.a * cover;
    double a = sa + dst.a * (1 - sa);
    if (a <= 0)
        return;
    auto mix = [&](double s, double d) { return (s * sa + d * dst.a * (1 - sa)) / a; };
    dst = Rgba{mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b), a};
}

// Fills the shape with 4x4 supersampling, so edges come out smooth.
void fill(Canvas &c, const Inside &in, const Paint &paint)
{
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            int hits = 0;
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx)
                    hits += in(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4);
            if (hits)
                blend(c.px[size_t(y) * size_t(c.w) + size_t(x)], paint(x + 0.5, y + 0.5), hits / 16.0);
        }
}

void fill(Canvas &c, const Inside &in, Rgba colour)
{
    fill(c, in, [colour](double, double) { return colour; });
}

Inside disc(double cx, double cy, double r)
{
    return [=](double x, double y) { return std::hypot(x - cx, y - cy) <= r; };
}

// A ring; the arc from gap_from to gap_to (degrees, y axis down) is left open.
Inside ring(double cx, double cy, double r_out, double r_in, double gap_from = 0, double gap_to = 0)
{
    return [=](double x, double y) {
        double d = std::hypot(x - cx, y - cy);
        if (d > r_out || d < r_in)
            return false;
        double deg = std::atan2(y - cy, x - cx) * 180 / M_PI;
        for (double a : {deg, deg + 360, deg - 360})
            if (a >= gap_from && a <= gap_to)
                return false;
        return true;
    };
}

// A line of half-width hw with round ends.
Inside capsule(double x0, double y0, double x1, double y1, double hw)
{
    return [=](double x, double y) {
        double dx = x1 - x0, dy = y1 - y0;
        double len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? std::clamp(((x - x0) * dx + (y - y0) * dy) / len2, 0.0, 1.0) : 0;
        return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= hw;
    };
}

Inside rounded_rect(double x0, double y0, double x1, double y1, double r)
{
    return [=](double x, double y) {
        double qx = std::max({x0 + r - x, x - (x1 - r), 0.0});
        double qy = std::max({y0 + r - y, y - (y1 - r), 0.0});
        return x >= x0 && x <= x1 && y >= y0 && y <= y1 && std::hypot(qx, qy) <= r;
    };
}

Inside any_of(std::vector<Inside> parts)
{
    return [parts](double x, double y) {
        for (const auto &p : parts)
            if (p(x, y))
                return true;
        return false;
    };
}

// A polyline drawn as joined capsules: the letters of the banner.
Inside polyline(const std::vector<std::pair<double, double>> &pts, double hw)
{
    std::vector<Inside> parts;
    for (size_t i = 1; i < pts.size(); ++i)
        parts.push_back(capsule(pts[i - 1].first, pts[i - 1].second, pts[i].first, pts[i].second, hw));
    return any_of(parts);
}

// Points on an elliptic arc from a0 to a1 degrees (y axis down).
std::vector<std::pair<double, double>> arc(double cx, double cy, double rx, double ry, double a0, double a1)
{
    std::vector<std::pair<double, double>> pts;
    const int steps = 32;
    for (int i = 0; i <= steps; ++i) {
        double a = (a0 + (a1 - a0) * i / steps) * M_PI / 180;
        pts.emplace_back(cx + rx * std::cos(a), cy + ry * std::sin(a));
    }
    return pts;
}

Paint vertical_gradient(Rgba top, Rgba bottom, double y0, double y1)
{
    return [=](double, double y) {
        double t = std::clamp((y - y0) / (y1 - y0), 0.0, 1.0);
        return Rgba{top.r + (bottom.r - top.r) * t, top.g + (bottom.g - top.g) * t,
                    top.b + (bottom.b - top.b) * t, 1};
    };
}

Rgba lighter(Rgba c, double t)
{
    return Rgba{c.r + (1 - c.r) * t, c.g + (1 - c.g) * t, c.b + (1 - c.b) * t, c.a};
}

// --- A 5x7 bitmap font for the few capitals, digits and marks we print. ---

struct Glyph {
    char ch;
    const char *rows[7];
};

const Glyph kFont[] = {
    {' ', {".....", ".....", ".....", ".....", ".....", ".....", "....."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'C', {".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."}},
    {'D', {"####.", "#...#", "#...#", "#...#", "#...#", "#...#", "####."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'H', {"#...#", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'I', {".###.", "..#..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'M', {"#...#", "##.##", "#.#.#", "#.#.#", "#...#", "#...#", "#...#"}},
    {'N', {"#...#", "#...#", "##..#", "#.#.#", "#..##", "#...#", "#...#"}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'2', {".###.", "#...#", "....#", "...#.", "..#..", ".#...", "#####"}},
    {'8', {".###.", "#...#", "#...#", ".###.", "#...#", "#...#", ".###."}},
    {'.', {".....", ".....", ".....", ".....", ".....", ".##..", ".##.."}},
    {'-', {".....", ".....", ".....", ".###.", ".....", ".....", "....."}},
    {'(', {"...#.", "..#..", ".#...", ".#...", ".#...", "..#..", "...#."}},
    {')', {".#...", "..#..", "...#.", "...#.", "...#.", "..#..", ".#..."}},
};

const Glyph &glyph(char ch)
{
    for (const Glyph &g : kFont)
        if (g.ch == ch)
            return g;
    std::fprintf(stderr, "mkimages: no glyph for '%c'\n", ch);
    std::exit(1);
}

// Width in pixels of a text in the 5x7 font (one blank column between glyphs).
int text_width(const std::string &text)
{
    return text.empty() ? 0 : int(text.size()) * 6 - 1;
}

// Whether pixel (x, y) relative to the text's top-left corner is set.
bool text_pixel(const std::string &text, int x, int y)
{
    if (x < 0 || y < 0 || y >= 7 || x >= text_width(text) || x % 6 == 5)
        return false;
    return glyph(text[size_t(x / 6)]).rows[y][x % 6] == '#';
}

void draw_text(Canvas &c, const std::string &text, int left, int top, Rgba colour)
{
    fill(c, [&](double x, double y) { return text_pixel(text, int(std::floor(x)) - left, int(std::floor(y)) - top); },
         colour);
}

// --- The pictures. ---

// The product's emblem: a disc with an open ring and a state dot.
Canvas emblem(int size, Rgba body, Rgba dot)
{
    Canvas c = canvas(size, size);
    double s = size / 20.0;
    fill(c, disc(10 * s, 10 * s, 9.3 * s), vertical_gradient(lighter(body, 0.35), body, 1 * s, 19 * s));
    fill(c, ring(9.4 * s, 10 * s, 5.6 * s, 3.5 * s, -40, 40), WHITE);
    fill(c, disc(15 * s, 15 * s, 4.4 * s), WHITE);
    fill(c, disc(15 * s, 15 * s, 3.3 * s), dot);
    return c;
}

Canvas padlock()
{
    Canvas c = canvas(20, 20);
    Inside shackle = any_of({ring(10, 8, 5.4, 3.6, 0, 180), [](double x, double y) {
                                 return y >= 8 && y <= 10.5 && ((x >= 4.6 && x <= 6.4) || (x >= 13.6 && x <= 15.4));
                             }});
    fill(c, shackle, kGrey);
    fill(c, rounded_rect(3, 9.5, 17, 18.5, 2), vertical_gradient(lighter(kGold, 0.4), kGold, 9.5, 18.5));
    fill(c, any_of({disc(10, 12.8, 1.6), rounded_rect(9.3, 13, 10.7, 16.3, 0.5)}), kDark);
    return c;
}

Canvas round_badge(Rgba body, const Inside &mark)
{
    Canvas c = canvas(40, 40);
    fill(c, disc(20, 20, 18.5), vertical_gradient(lighter(body, 0.35), body, 2, 38));
    fill(c, mark, WHITE);
    return c;
}

// Power symbol: ends the client.
Inside power(double cx, double cy, double r, double stroke)
{
    return any_of({ring(cx, cy, r, r - stroke, -90 - 38, -90 + 38),
                   capsule(cx, cy - r - stroke * 0.3, cx, cy - r * 0.2, stroke * 0.55)});
}

// An unplugged cable: cable, plug, gap, socket, cable.
Inside unplugged(double cx, double cy, double s)
{
    return any_of({capsule(cx - 9 * s, cy, cx - 4 * s, cy, 0.8 * s), rounded_rect(cx - 4 * s, cy - 2.8 * s, cx - 1.6 * s, cy + 2.8 * s, 0.6 * s),
                   rounded_rect(cx + 1.6 * s, cy - 2.8 * s, cx + 4 * s, cy + 2.8 * s, 0.6 * s), capsule(cx + 4 * s, cy, cx + 9 * s, cy, 0.8 * s)});
}

// --- Button captions: one set per language, each in the face meant for it. ---

struct CaptionFace {
    const char *family;
    double pixels;
    bool smooth;          // grey-level edges (outline faces) or none (bitmap strikes)
    const char *package;  // named when the face is missing
};

// The Sharp face carries hand-tuned bitmaps at 12 px: each character is 11
// pixels high, so a caption fills the 11-pixel image exactly, crisp (no
// smoothing, no blur at this size) where the outline faces smear.
const CaptionFace kChineseFace{"WenQuanYi Zen Hei Sharp", 12, false, "fonts-wqy-zenhei"};
// Latin captions in the desktop's own sans face; at 11 px its capitals and
// descenders stay inside the 11 rows, and grey edges keep them legible.
const CaptionFace kEnglishFace{"DejaVu Sans", 11, true, "fonts-dejavu-core"};
constexpr int kCaptionHeight = 11;
// Nine rows above the baseline of a Latin caption (ascenders), two for descenders.
constexpr int kLatinBaseline = 9;
// What a 60x20 button leaves its child with the resource file's borders.
constexpr int kEnglishCaptionWidth = 50;
constexpr Rgba kCaptionInk{0x1a / 255.0, 0x26 / 255.0, 0x33 / 255.0, 1};

[[noreturn]] void fail(const std::string &why)
{
    std::fprintf(stderr, "mkimages: %s\n", why.c_str());
    std::exit(1);
}

// Coverage (0..1) of the text set without smoothing, cropped to its ink.
struct Ink {
    int w = 0, h = 0;
    int baseline = 0;  // row of the ink that sits on the text's baseline
    std::vector<double> cover;  // row-major
};

Ink set_text(const char *text, const CaptionFace &face)
{
    const int kRoom = 128;
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_A8, kRoom, kRoom / 4);
    cairo_t *cr = cairo_create(surface);
    PangoLayout *layout = pango_cairo_create_layout(cr);
    cairo_font_options_t *options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, face.smooth ? CAIRO_ANTIALIAS_GRAY : CAIRO_ANTIALIAS_NONE);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_FULL);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
    cairo_font_options_destroy(options);
    PangoFontDescription *desc = pango_font_description_new();
    pango_font_description_set_family(desc, face.family);
    pango_font_description_set_absolute_size(desc, face.pixels * PANGO_SCALE);
    pango_layout_set_font_description(layout, desc);
    pango_layout_set_text(layout, text, -1);

    // Font configuration substitutes silently: a caption in some other face,
    // or with boxes for missing glyphs, must stop the build instead.
    PangoFont *font = pango_context_load_font(pango_layout_get_context(layout), desc);
    PangoFontDescription *got = font ? pango_font_describe(font) : nullptr;
    std::string family = got && pango_font_description_get_family(got) ? pango_font_description_get_family(got) : "";
    if (family != face.family)
        fail(std::string("caption font \"") + face.family + "\" not found (got \"" + family +
             "\"): install " + face.package);
    if (pango_layout_get_unknown_glyphs_count(layout) != 0)
        fail(std::string("caption font lacks a character of \"") + text + "\"");

    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    cairo_move_to(cr, 2, 2);
    pango_cairo_show_layout(cr, layout);
    cairo_surface_flush(surface);

    const unsigned char *px = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    int x0 = kRoom, y0 = kRoom, x1 = -1, y1 = -1;
    for (int y = 0; y < kRoom / 4; ++y)
        for (int x = 0; x < kRoom; ++x)
            if (px[y * stride + x]) {
                x0 = std::min(x0, x), x1 = std::max(x1, x);
                y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
    Ink ink;
    ink.baseline = 2 + pango_layout_get_baseline(layout) / PANGO_SCALE - y0;
    if (x1 >= 0) {
        ink.w = x1 - x0 + 1;
        ink.h = y1 - y0 + 1;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                ink.cover.push_back(px[y * stride + x] / 255.0);
    }
    if (font)
        g_object_unref(font);
    if (got)
        pango_font_description_free(got);
    pango_font_description_free(desc);
    g_object_unref(layout);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    return ink;
}

bool same_column(const Ink &ink, int a, int b)
{
    for (int y = 0; y < ink.h; ++y)
        if (ink.cover[size_t(y * ink.w + a)] != ink.cover[size_t(y * ink.w + b)])
            return false;
    return true;
}

// One column narrower without changing a stroke: drops a column that repeats
// its left neighbour, from the longest run of such columns (a blank gap
// between characters, or the inside of a wide box).
bool drop_repeated_column(Ink &ink)
{
    int best = -1, best_run = 1;
    for (int x = 1; x < ink.w;) {
        int run = 1;
        while (x < ink.w && same_column(ink, x - 1, x))
            ++run, ++x;
        if (run > best_run)
            best_run = run, best = x - 1;
        x += run == 1;
    }
    if (best < 0)
        return false;
    std::vector<double> cover;
    for (int y = 0; y < ink.h; ++y)
        for (int x = 0; x < ink.w; ++x)
            if (x != best)
                cover.push_back(ink.cover[size_t(y * ink.w + x)]);
    ink.cover = cover;
    --ink.w;
    return true;
}

// A caption image of w x 11: the text, centred, in the caption ink.
Canvas caption(int w, const char *text, const CaptionFace &face = kChineseFace)
{
    Ink ink = set_text(text, face);
    while (ink.w > w && drop_repeated_column(ink)) {
    }
    // Latin captions share one baseline (descenders hang below it); a
    // Chinese one is centred, as its characters fill the square.
    int left = (w - ink.w) / 2;
    int top = face.smooth ? kLatinBaseline - ink.baseline : (kCaptionHeight - ink.h) / 2;
    if (ink.w > w || ink.w == 0 || top < 0 || top + ink.h > kCaptionHeight)
        fail(std::string("caption \"") + text + "\" does not fit " + std::to_string(w) + "x11: " +
             std::to_string(ink.w) + "x" + std::to_string(ink.h));
    Canvas c = canvas(w, kCaptionHeight);
    for (int y = 0; y < ink.h; ++y)
        for (int x = 0; x < ink.w; ++x)
            blend(c.px[size_t(top + y) * size_t(w) + size_t(left + x)], kCaptionInk, ink.cover[size_t(y * ink.w + x)]);
    return c;
}

Canvas minimise_window()
{
    Canvas c = canvas(20, 20);
    fill(c, rounded_rect(1.5, 3, 18.5, 17, 1.5), kBlue);
    fill(c, rounded_rect(3, 6.5, 17, 15.5, 0.5), WHITE);
    fill(c, capsule(6.5, 12.5, 13.5, 12.5, 1.2), kDark);
    return c;
}

// Banner letters drawn as strokes in a box of w x h at (x, y).
Inside banner_letter(char ch, double x, double y, double w, double h, double hw)
{
    auto P = [&](double u, double v) { return std::make_pair(x + u * w, y + v * h); };
    switch (ch) {
    case 'C':
        return polyline(arc(x + w / 2, y + h / 2, w / 2, h / 2, 40, 320), hw);
    case 'O':
        return polyline(arc(x + w / 2, y + h / 2, w / 2, h / 2, 0, 360), hw);
    case 'R': {
        auto bowl = arc(x + 0.55 * w, y + 0.26 * h, 0.42 * w, 0.26 * h, -90, 90);
        std::vector<std::pair<double, double>> pts{P(0, 1), P(0, 0), P(0.55, 0)};
        pts.insert(pts.end(), bowl.begin(), bowl.end());
        pts.push_back(P(0, 0.52));
        return any_of({polyline(pts, hw), polyline({P(0.45, 0.52), P(1, 1)}, hw)});
    }
    case 'V':
        return polyline({P(0, 0), P(0.5, 1), P(1, 0)}, hw);
    case 'I':
        return polyline({P(0.5, 0), P(0.5, 1)}, hw);
    case 'X':
        return any_of({polyline({P(0, 0), P(1, 1)}, hw), polyline({P(1, 0), P(0, 1)}, hw)});
    default:
        std::fprintf(stderr, "mkimages: no banner letter '%c'\n", ch);
        std::exit(1);
    }
}

Canvas banner()
{
    Canvas c = canvas(334, 64);
    fill(c, [](double, double) { return true; },
         vertical_gradient(Rgba{0xf4 / 255.0, 0xfb / 255.0, 1, 1}, Rgba{0xbf / 255.0, 0xe1 / 255.0, 0xf9 / 255.0, 1}, 0, 64));
    Canvas mark = emblem(48, kBlue, kGreen);
    fill(c, [](double x, double y) { return x >= 24 && x < 72 && y >= 8 && y < 56; },
         [&](double x, double y) { return mark.px[size_t(int(y) - 8) * 48 + size_t(int(x) - 24)]; });
    const std::string word = "CORVIX";
    double left = 92;
    for (char ch : word) {
        double w = ch == 'I' ? 6 : 24;
        fill(c, banner_letter(ch, left, 9, w, 32, 3.2), kBlue);
        left += w + 12;
    }
    draw_text(c, "802.1X AUTHENTICATION CLIENT", 92, 49, kDark);
    return c;
}

// --- Output. ---

void put_u32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

uint8_t byte_of(double v)
{
    return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

// A GdkPixdata stream: big-endian header, then raw rows (RGB rows padded to rowstride).
std::vector<uint8_t> pixdata(const Canvas &c, bool alpha, uint32_t rowstride)
{
    const uint32_t kMagic = 0x47646b50, kHeader = 24;
    const uint32_t kType = (alpha ? 0x02u : 0x01u) | (0x01u << 16) | (0x01u << 24);
    std::vector<uint8_t> out;
    put_u32(out, kMagic);
    put_u32(out, kHeader + rowstride * uint32_t(c.h));
    put_u32(out, kType);
    put_u32(out, rowstride);
    put_u32(out, uint32_t(c.w));
    put_u32(out, uint32_t(c.h));
    for (int y = 0; y < c.h; ++y) {
        size_t row_start = out.size();
        for (int x = 0; x < c.w; ++x) {
            const Rgba &p = c.px[size_t(y) * size_t(c.w) + size_t(x)];
            out.push_back(byte_of(p.r));
            out.push_back(byte_of(p.g));
            out.push_back(byte_of(p.b));
            if (alpha)
                out.push_back(byte_of(p.a));
        }
        out.resize(row_start + rowstride, 0);
    }
    return out;
}

void write_array(FILE *f, const char *name, const std::vector<uint8_t> &bytes)
{
    std::fprintf(f, "static const guint8 %s[] = {", name);
    for (size_t i = 0; i < bytes.size(); ++i)
        std::fprintf(f, "%s0x%02x,", i % 16 ? "" : "\n", bytes[i]);
    std::fprintf(f, "\n};\n\n");
}

void write_rgba(FILE *f, const char *name, const Canvas &c)
{
    write_array(f, name, pixdata(c, true, uint32_t(c.w) * 4));
}

// The footer line: two colours, space transparent, "." in the window's blue.
void write_footer_xpm(FILE *f)
{
    const std::string text = "CORVIX 2.0  (C) 2011 THE CORVIX AUTHORS - SEE README";
    const int w = 334, h = 20, left = (w - text_width(text)) / 2, top = 6;
    std::fprintf(f, "static const char *const copyright_xpm[] = {\n\"%d %d 2 1\",\n\"  c None\",\n\". c #1670EB\",\n", w, h);
    for (int y = 0; y < h; ++y) {
        std::string row;
        for (int x = 0; x < w; ++x)
            row += text_pixel(text, x - left, y - top) ? '.' : ' ';
        std::fprintf(f, "\"%s\",\n", row.c_str());
    }
    std::fprintf(f, "};\n");
}

// The sizes of the client's icon: the hicolor theme's usual ones.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The emblem as the icon theme's PNG (cairo wants premultiplied ARGB).
void write_png(const Canvas &c, const std::string &path)
{
    cairo_surface_t *surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, c.w, c.h);
    unsigned char *px = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) {
            const Rgba &p = c.px[size_t(y) * size_t(c.w) + size_t(x)];
            uint32_t a = byte_of(p.a);
            uint32_t argb = a << 24 | uint32_t(byte_of(p.r * p.a)) << 16 | uint32_t(byte_of(p.g * p.a)) << 8 |
                            byte_of(p.b * p.a);
            std::memcpy(px + y * stride + x * 4, &argb, 4);
        }
    cairo_surface_mark_dirty(surface);
    cairo_status_t st = cairo_surface_write_to_png(surface, path.c_str());
    cairo_surface_destroy(surface);
    if (st != CAIRO_STATUS_SUCCESS)
        fail("cannot write " + path + ": " + cairo_status_to_string(st));
}

std::string hex(Rgba c)
{
    char out[8];
    std::snprintf(out, sizeof out, "#%02x%02x%02x", byte_of(c.r), byte_of(c.g), byte_of(c.b));
    return out;
}

// The same emblem as vector art, in the 20-unit grid emblem() draws on.
std::string emblem_svg(Rgba body, Rgba dot)
{
    // The open ring: a stroke along the middle of its band, open 40 degrees
    // either side of the right-hand axis.
    const double cx = 9.4, cy = 10, r = (5.6 + 3.5) / 2, band = 5.6 - 3.5;
    const double ex = cx + r * std::cos(40 * M_PI / 180), ey = r * std::sin(40 * M_PI / 180);
    char ring[160];
    std::snprintf(ring, sizeof ring, "M %.3f %.3f A %.3f %.3f 0 1 1 %.3f %.3f", ex, cy + ey, r, r, ex, cy - ey);
    return std::string("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 20 20\">\n") +
           "  <defs><linearGradient id=\"body\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"19\" gradientUnits=\"userSpaceOnUse\">" +
           "<stop offset=\"0\" stop-color=\"" + hex(lighter(body, 0.35)) + "\"/><stop offset=\"1\" stop-color=\"" +
           hex(body) + "\"/></linearGradient></defs>\n" +
           "  <circle cx=\"10\" cy=\"10\" r=\"9.3\" fill=\"url(#body)\"/>\n" +
           "  <path d=\"" + ring + "\" fill=\"none\" stroke=\"#ffffff\" stroke-width=\"" + std::to_string(band) + "\"/>\n" +
           "  <circle cx=\"15\" cy=\"15\" r=\"4.4\" fill=\"#ffffff\"/>\n" +
           "  <circle cx=\"15\" cy=\"15\" r=\"3.3\" fill=\"" + hex(dot) + "\"/>\n</svg>\n";
}

// The window's icon list: the emblem at every size of the icon theme, in a
// header of its own (only the picture loader includes it: it is large).
void write_icon_list(FILE *f)
{
    std::fprintf(f, "// Generated by data/mkimages.cpp: do not edit.\n#pragma once\n\n#include <glib.h>\n\n");
    for (int size : kIconSizes)
        write_rgba(f, ("icon_" + std::to_string(size) + "_inline").c_str(), emblem(size, kBlue, kGreen));
    std::fprintf(f, "static const guint8 *const icon_list_inline[] = {");
    for (int size : kIconSizes)
        std::fprintf(f, "icon_%d_inline, ", size);
    std::fprintf(f, "nullptr};\n");
}

// The icon theme's files under dir: NxN/apps/corvix.png and scalable/apps/corvix.svg.
void write_icon_theme(const std::string &dir)
{
    for (int size : kIconSizes) {
        std::string sub = dir + "/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
        if (g_mkdir_with_parents(sub.c_str(), 0755) != 0)
            fail("cannot make " + sub);
        write_png(emblem(size, kBlue, kGreen), sub + "/corvix.png");
    }
    std::string sub = dir + "/scalable/apps";
    if (g_mkdir_with_parents(sub.c_str(), 0755) != 0)
        fail("cannot make " + sub);
    FILE *f = std::fopen((sub + "/corvix.svg").c_str(), "w");
    if (!f)
        fail("cannot write " + sub + "/corvix.svg");
    std::fputs(emblem_svg(kBlue, kGreen).c_str(), f);
    if (std::fclose(f) != 0)
        fail("cannot write " + sub + "/corvix.svg");
}

void write_images(FILE *f)
{
    std::fprintf(f, "// Generated by data/mkimages.cpp: do not edit.\n#pragma once\n\n#include <glib.h>\n\n");
    write_rgba(f, "tray_inline", emblem(20, kBlue, kGreen));
    write_rgba(f, "traybegin_inline", emblem(20, kGrey, kOrange));
    write_array(f, "logo3_inline", pixdata(banner(), false, 1004));
    write_rgba(f, "save_inline", padlock());
    write_rgba(f, "exit_inline", caption(22, "退出"));
    write_rgba(f, "logon_inline", caption(23, "认证"));
    write_rgba(f, "config_inline", caption(23, "设置"));
    write_rgba(f, "about_inline", caption(23, "关于"));
    write_rgba(f, "mes_inline", round_badge(kBlue, any_of({disc(20, 11.5, 2.7), capsule(20, 17.5, 20, 29, 2.4)})));
    write_rgba(f, "err_inline", round_badge(kRed, any_of({capsule(20, 9.5, 20, 22.5, 2.6), disc(20, 29.5, 2.7)})));
    write_rgba(f, "hide_inline", caption(23, "隐藏"));
    write_rgba(f, "disconnect_inline", caption(23, "断开"));
    write_rgba(f, "reconnect_inline", caption(47, "重新认证"));
    write_rgba(f, "return_inline", caption(23, "返回"));
    write_rgba(f, "ok_inline", caption(23, "确定"));
    write_rgba(f, "popmenu_status_inline", minimise_window());
    Canvas unplug = canvas(20, 20);
    fill(unplug, unplugged(10, 10, 1.05), kDark);
    write_rgba(f, "popmenu_disconnect_inline", unplug);
    Canvas off = canvas(20, 20);
    fill(off, power(10, 11, 7, 2), kRed);
    write_rgba(f, "popmenu_exit_inline", off);
    write_rgba(f, "saveit_inline", caption(23, "保存"));
    write_rgba(f, "cancel_inline", caption(22, "取消"));
    // The same buttons in English, for a window whose texts are English.
    const std::pair<const char *, const char *> english[] = {
        {"exit_en_inline", "Exit"},     {"logon_en_inline", "Log on"},   {"config_en_inline", "Settings"},
        {"about_en_inline", "About"},   {"hide_en_inline", "Hide"},      {"disconnect_en_inline", "Log off"},
        {"reconnect_en_inline", "Retry"}, {"return_en_inline", "Back"}, {"ok_en_inline", "OK"},
        {"saveit_en_inline", "Save"},   {"cancel_en_inline", "Cancel"},
    };
    for (const auto &[name, text] : english)
        write_rgba(f, name, caption(kEnglishCaptionWidth, text, kEnglishFace));
    write_footer_xpm(f);
}

// Writes a generated file whole or not at all: only a complete one replaces the old.
void write_file(const std::string &path, void (*write)(FILE *))
{
    std::string tmp = path + ".tmp";
    FILE *f = std::fopen(tmp.c_str(), "w");
    if (!f)
        fail("cannot write " + tmp);
    write(f);
    if (std::fclose(f) != 0 || std::rename(tmp.c_str(), path.c_str()) != 0)
        fail("cannot write " + path);
}

}  // namespace

// Font configuration and Pango keep their caches until the process ends; a
// sanitized build must not fail on them.
extern "C" const char *__asan_default_options();
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: mkimages IMAGES.h [ICONS.h ICON_THEME_DIR]\n");
        return 2;
    }
    if (argc == 4) {
        write_icon_theme(argv[3]);
        write_file(argv[2], write_icon_list);
    }
    write_file(argv[1], write_images);
    return 0;
}
