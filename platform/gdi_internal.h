// SPDX-License-Identifier: GPL-3.0-or-later
// How the window layer hands a surface to the drawing calls.
#pragma once

#include "platform/raster.h"
#include "platform/win32.h"

namespace platform::gdi {

// A device context over `view`, with the stock black pen selected and the current position at
// (0, 0). Released with release_dc.
HDC create_dc(const raster::View& view);
void release_dc(HDC dc);

// Fills the view with a brush (a stock brush from GetStockObject).
void fill_with_brush(const raster::View& view, HBRUSH brush);

// Number of live pens and device contexts, for leak checks in tests.
int live_objects();

} // namespace platform::gdi
