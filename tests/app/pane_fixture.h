// SPDX-License-Identifier: GPL-3.0-or-later
// Panes of the application hosted by a plain window, outside the dialog, so their pixels can be
// checked one by one.
#pragma once

#include "app/tavrene.h"
#include "audio/capture.h"
#include "panes/panes.h"
#include "platform/loop.h"
#include "tests/support/testing.h"

#include <gtest/gtest.h>

#include <cstdint>

constexpr uint32_t gray = 0x808080;
constexpr uint32_t black = 0x000000;
constexpr uint32_t yellow = 0xFFFF64;
constexpr uint32_t green = 0x64FF64;

class PaneTest : public ::testing::Test {
  public:
    void SetUp() override;
    void TearDown() override;

    // A bordered 91 x 91 pane of `pane_class` at the Reference area's place; waits for its
    // first paint. An XY pane is stored as the XY pane first, as the dialog does.
    HWND create_pane(const char* pane_class, bool is_xy_pane = false);
    // Client pixel (x, y), 0..88.
    uint32_t pixel(HWND pane, int x, int y) const;
    // Lets the loop run `ms` of (virtual) time.
    static void run_for_ms(int ms) { platform::pump_for(int64_t{ms} * 1000); }

    HWND host = nullptr;
};
