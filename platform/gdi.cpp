// SPDX-License-Identifier: GPL-3.0-or-later
// Device contexts, stock objects and pens over the software raster. Handles are opaque numbers
// looked up in tables, never dereferenced, so a stale or forged handle fails cleanly.
#include "platform/gdi_internal.h"
#include "platform/trace.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

namespace platform::gdi {

namespace {

enum class Kind { Pen, Brush };

struct Object {
    Kind kind;
    COLORREF color;
    bool draws;          // false for the null pen and the hollow brush
    bool doomed = false; // deleted while selected: freed when no DC holds it any more
};

struct Dc {
    raster::View view;
    uintptr_t pen;
    uintptr_t brush;
    int x = 0;
    int y = 0;
};

// Stock handles sit in a range of their own, indexed by GetStockObject's argument; pens and DCs
// count up from another.
constexpr uintptr_t stock_base = 0x8000;
constexpr Object stock[] = {
    {Kind::Brush, RGB(255, 255, 255), true}, // WHITE_BRUSH
    {Kind::Brush, RGB(192, 192, 192), true}, // LTGRAY_BRUSH
    {Kind::Brush, RGB(128, 128, 128), true}, // GRAY_BRUSH
    {Kind::Brush, RGB(64, 64, 64), true},    // DKGRAY_BRUSH
    {Kind::Brush, RGB(0, 0, 0), true},       // BLACK_BRUSH
    {Kind::Brush, RGB(0, 0, 0), false},      // NULL_BRUSH
    {Kind::Pen, RGB(255, 255, 255), true},   // WHITE_PEN
    {Kind::Pen, RGB(0, 0, 0), true},         // BLACK_PEN
    {Kind::Pen, RGB(0, 0, 0), false},        // NULL_PEN
};
constexpr uintptr_t stock_count = std::size(stock);
static_assert(stock_count == NULL_PEN + 1);

std::unordered_map<uintptr_t, Object> pens; // the only objects that are created
std::unordered_map<uintptr_t, Dc> dcs;
uintptr_t next_handle = 0x10000;

uintptr_t key(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

bool is_stock(uintptr_t id) {
    return id >= stock_base && id < stock_base + stock_count;
}

Dc* find_dc(HDC dc) {
    const auto it = dcs.find(key(dc));
    return it == dcs.end() ? nullptr : &it->second;
}

// A deleted pen that is still selected keeps drawing, but can no longer be selected or deleted
// again.
const Object* find_object(uintptr_t id, bool even_doomed = false) {
    if (is_stock(id)) {
        return &stock[id - stock_base];
    }
    const auto it = pens.find(id);
    if (it == pens.end() || (it->second.doomed && !even_doomed)) {
        return nullptr;
    }
    return &it->second;
}

// A DC let go of `id`: a deleted pen goes once no DC holds it.
void let_go(uintptr_t id) {
    const auto it = pens.find(id);
    if (it == pens.end() || !it->second.doomed) {
        return;
    }
    if (std::none_of(dcs.begin(), dcs.end(),
                     [id](const auto& dc) { return dc.second.pen == id; })) {
        pens.erase(it);
    }
}

} // namespace

HDC create_dc(const raster::View& view) {
    const uintptr_t id = next_handle++;
    dcs.emplace(id, Dc{view, stock_base + BLACK_PEN, stock_base + WHITE_BRUSH});
    return reinterpret_cast<HDC>(id);
}

void release_dc(HDC dc) {
    const auto it = dcs.find(key(dc));
    if (it == dcs.end()) {
        return;
    }
    const uintptr_t pen = it->second.pen;
    dcs.erase(it);
    let_go(pen);
}

void fill_with_brush(const raster::View& view, HBRUSH brush) {
    const Object* o = find_object(key(brush));
    if (o == nullptr || o->kind != Kind::Brush || !o->draws) {
        return;
    }
    raster::fill(view, raster::from_colorref(o->color));
}

int live_objects() {
    return static_cast<int>(dcs.size() + pens.size());
}

} // namespace platform::gdi

HGDIOBJ WINAPI GetStockObject(int object) {
    using namespace platform::gdi;
    if (object < 0 || object >= static_cast<int>(stock_count)) {
        platform::trace::refused(__func__, "not one of the stock objects kept", object);
        return nullptr;
    }
    return reinterpret_cast<HGDIOBJ>(stock_base + static_cast<uintptr_t>(object));
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
    using namespace platform::gdi;
    (void)width; // every width draws one pixel here
    if (style != PS_SOLID) {
        // The only style the program draws with.
        platform::trace::refused(__func__, "only PS_SOLID", style, width, color);
        return nullptr;
    }
    const uintptr_t id = next_handle++;
    pens.emplace(id, Object{Kind::Pen, color & 0xFFFFFFu, true});
    return reinterpret_cast<HPEN>(id);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    using namespace platform::gdi;
    Dc* d = find_dc(dc);
    const uintptr_t id = key(object);
    const Object* o = find_object(id);
    if (d == nullptr || o == nullptr) {
        platform::trace::refused(
            __func__, d == nullptr ? "not a device context" : "not a GDI object", dc, object);
        return nullptr;
    }
    uintptr_t& slot = o->kind == Kind::Pen ? d->pen : d->brush;
    const uintptr_t previous = slot;
    slot = id;
    let_go(previous);
    return reinterpret_cast<HGDIOBJ>(previous);
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    using namespace platform::gdi;
    const uintptr_t id = key(object);
    if (is_stock(id)) {
        return TRUE; // stock objects stay
    }
    const auto it = pens.find(id);
    if (it == pens.end() || it->second.doomed) {
        platform::trace::refused(__func__, "not a pen, or already deleted", object);
        return FALSE;
    }
    // Still selected somewhere: it goes when the last DC lets go, as Wine does.
    it->second.doomed = true;
    let_go(id);
    return TRUE;
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color) {
    using namespace platform;
    const gdi::Dc* d = gdi::find_dc(dc);
    if (d == nullptr) {
        trace::refused(__func__, "not a device context", dc, x, y, color);
        return static_cast<COLORREF>(-1);
    }
    // A clipped pixel is not drawn, but the answer is the colour all the same, as in Wine's GDI.
    const uint32_t pixel = raster::from_colorref(color);
    raster::set_pixel(d->view, x, y, pixel);
    return raster::to_colorref(pixel);
}

BOOL WINAPI MoveToEx(HDC dc, int x, int y, LPPOINT previous) {
    using namespace platform::gdi;
    Dc* d = find_dc(dc);
    if (d == nullptr) {
        platform::trace::refused(__func__, "not a device context", dc, x, y, previous);
        return FALSE;
    }
    if (previous != nullptr) {
        previous->x = d->x;
        previous->y = d->y;
    }
    d->x = x;
    d->y = y;
    return TRUE;
}

BOOL WINAPI LineTo(HDC dc, int x, int y) {
    using namespace platform;
    gdi::Dc* d = gdi::find_dc(dc);
    if (d == nullptr) {
        trace::refused(__func__, "not a device context", dc, x, y);
        return FALSE;
    }
    const gdi::Object* pen = gdi::find_object(d->pen, true);
    if (pen->draws) {
        raster::line(d->view, d->x, d->y, x, y, raster::from_colorref(pen->color));
    }
    d->x = x;
    d->y = y;
    return TRUE;
}
