// Device contexts, stock objects and pens over the software raster. Handles are opaque numbers
// looked up in tables, never dereferenced, so a stale or forged handle fails cleanly.
#include "platform/gdi_internal.h"

#include <cstdint>
#include <unordered_map>

namespace platform::gdi {

namespace {

enum class Kind { Pen, Brush };

struct Object {
    Kind kind;
    COLORREF color;
    bool draws;          // false for the null pen and the hollow brush
    bool stock;          // deleting a stock object is a no-op
    int selected = 0;    // device contexts holding it
    bool doomed = false; // deleted while selected: freed when the last DC lets go
};

struct Dc {
    raster::View view;
    uintptr_t pen;
    uintptr_t brush;
    int x = 0;
    int y = 0;
};

constexpr int ps_null = 5;
constexpr int ps_insideframe = 6;
constexpr int stock_count = NULL_PEN + 1;
// Stock handles sit in a range of their own; created objects and DCs count up from another.
constexpr uintptr_t stock_base = 0x8000;
constexpr uintptr_t first_dynamic = 0x10000;

struct Tables {
    std::unordered_map<uintptr_t, Object> objects;
    std::unordered_map<uintptr_t, Dc> dcs;
    uintptr_t next = first_dynamic;

    Tables() {
        const auto add = [this](int index, Kind kind, COLORREF color, bool draws) {
            objects.emplace(stock_base + static_cast<uintptr_t>(index),
                            Object{kind, color, draws, true});
        };
        add(WHITE_BRUSH, Kind::Brush, RGB(255, 255, 255), true);
        add(LTGRAY_BRUSH, Kind::Brush, RGB(192, 192, 192), true);
        add(GRAY_BRUSH, Kind::Brush, RGB(128, 128, 128), true);
        add(DKGRAY_BRUSH, Kind::Brush, RGB(64, 64, 64), true);
        add(BLACK_BRUSH, Kind::Brush, RGB(0, 0, 0), true);
        add(NULL_BRUSH, Kind::Brush, RGB(0, 0, 0), false);
        add(WHITE_PEN, Kind::Pen, RGB(255, 255, 255), true);
        add(BLACK_PEN, Kind::Pen, RGB(0, 0, 0), true);
        add(NULL_PEN, Kind::Pen, RGB(0, 0, 0), false);
    }

    uintptr_t allocate() {
        // Wrapping would take 2^64 allocations; skip the low ranges all the same.
        const uintptr_t id = next++;
        if (next == 0) {
            next = first_dynamic;
        }
        return id;
    }
};

Tables& tables() {
    static Tables t;
    return t;
}

uintptr_t key(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

Dc* find_dc(HDC dc) {
    auto& t = tables();
    const auto it = t.dcs.find(key(dc));
    return it == t.dcs.end() ? nullptr : &it->second;
}

// A deleted object that is still selected keeps drawing, but can no longer be selected or
// deleted again.
Object* find_object(uintptr_t id, bool even_doomed = false) {
    auto& t = tables();
    const auto it = t.objects.find(id);
    if (it == t.objects.end() || (it->second.doomed && !even_doomed)) {
        return nullptr;
    }
    return &it->second;
}

void release(uintptr_t id) {
    auto& t = tables();
    const auto it = t.objects.find(id);
    if (it == t.objects.end()) {
        return;
    }
    Object& o = it->second;
    if (o.selected > 0) {
        --o.selected;
    }
    if (o.doomed && o.selected == 0) {
        t.objects.erase(it);
    }
}

void hold(uintptr_t id) {
    if (Object* o = find_object(id)) {
        ++o->selected;
    }
}

} // namespace

HDC create_dc(const raster::View& view) {
    auto& t = tables();
    const uintptr_t id = t.allocate();
    const uintptr_t pen = stock_base + BLACK_PEN;
    const uintptr_t brush = stock_base + WHITE_BRUSH;
    t.dcs.emplace(id, Dc{view, pen, brush});
    hold(pen);
    hold(brush);
    return reinterpret_cast<HDC>(id);
}

void release_dc(HDC dc) {
    auto& t = tables();
    const auto it = t.dcs.find(key(dc));
    if (it == t.dcs.end()) {
        return;
    }
    const Dc d = it->second;
    t.dcs.erase(it);
    release(d.pen);
    release(d.brush);
}

void fill_with_brush(const raster::View& view, HBRUSH brush) {
    const Object* o = find_object(key(brush));
    if (o == nullptr || o->kind != Kind::Brush || !o->draws) {
        return;
    }
    raster::fill(view, raster::from_colorref(o->color));
}

int live_objects() {
    const auto& t = tables();
    int count = static_cast<int>(t.dcs.size());
    for (const auto& [id, o] : t.objects) {
        if (!o.stock) {
            ++count;
        }
    }
    return count;
}

} // namespace platform::gdi

HGDIOBJ WINAPI GetStockObject(int object) {
    using namespace platform::gdi;
    if (object < 0 || object >= stock_count) {
        return nullptr;
    }
    return reinterpret_cast<HGDIOBJ>(stock_base + static_cast<uintptr_t>(object));
}

HPEN WINAPI CreatePen(int style, int width, COLORREF color) {
    using namespace platform::gdi;
    (void)width; // every width draws one pixel here
    if (style < PS_SOLID || style > ps_insideframe) {
        return nullptr;
    }
    // Dashed styles draw solid: nothing here asks for dashes.
    auto& t = tables();
    const uintptr_t id = t.allocate();
    t.objects.emplace(id, Object{Kind::Pen, color & 0xFFFFFFu, style != ps_null, false});
    return reinterpret_cast<HPEN>(id);
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    using namespace platform::gdi;
    Dc* d = find_dc(dc);
    const uintptr_t id = key(object);
    const Object* o = find_object(id);
    if (d == nullptr || o == nullptr) {
        return nullptr;
    }
    uintptr_t& slot = o->kind == Kind::Pen ? d->pen : d->brush;
    const uintptr_t previous = slot;
    if (previous != id) {
        hold(id);
        slot = id;
        release(previous);
    }
    return reinterpret_cast<HGDIOBJ>(previous);
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    using namespace platform::gdi;
    auto& t = tables();
    const auto it = t.objects.find(key(object));
    if (it == t.objects.end() || it->second.doomed) {
        return FALSE;
    }
    if (it->second.stock) {
        return TRUE;
    }
    if (it->second.selected > 0) {
        // Still selected somewhere: it goes when the last DC lets go, as Wine does.
        it->second.doomed = true;
        return TRUE;
    }
    t.objects.erase(it);
    return TRUE;
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color) {
    using namespace platform;
    const gdi::Dc* d = gdi::find_dc(dc);
    if (d == nullptr) {
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
        return FALSE;
    }
    const gdi::Object* pen = gdi::find_object(d->pen, true);
    if (pen != nullptr && pen->draws) {
        raster::line(d->view, d->x, d->y, x, y, raster::from_colorref(pen->color));
    }
    d->x = x;
    d->y = y;
    return TRUE;
}
