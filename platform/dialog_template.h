// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog templates of a compiled resource file (.res): the DLGTEMPLATEEX that Windows loads,
// read with every offset and length checked, so that a damaged file is refused, never trusted.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::resources {

struct Control {
    std::string class_name; // "Button" or "Static", the classes the dialog manager creates
    std::string text;       // UTF-8
    int id;                 // -1 for none
    int x, y, cx, cy;       // dialog units
    uint32_t style;

    bool operator==(const Control&) const = default;
};

struct DialogTemplate {
    std::string name; // as stored: the resource compiler writes names in upper case
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = 0;
    std::string caption;   // UTF-8
    int font_points = 0;   // 0 without DS_SETFONT
    std::string font_face; // UTF-8
    std::vector<Control> controls;

    bool operator==(const DialogTemplate&) const = default;
};

// Every dialog template of `res` that is stored under a name (numbered ones are passed over).
// All or nothing: a file with a fault anywhere -- a length running past its end, a template
// that is not a DIALOGEX, a control of a class the dialog manager cannot create -- yields no
// template, and `fault` (when given) says what was wrong first.
std::vector<DialogTemplate> read_dialogs(std::span<const unsigned char> res,
                                         std::string* fault = nullptr);

// The template stored under `name`, compared without regard to case.
std::optional<DialogTemplate> find_dialog(std::span<const unsigned char> res,
                                          std::string_view name);

// app/tavrene.rc as the resource compiler compiled it at build time.
std::span<const unsigned char> embedded_resources();

} // namespace platform::resources
