// The dialog templates of a resource script (.rc), read at run time from the script's text so
// that one script serves both hosts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::rc {

enum class ControlKind { PushButton, DefPushButton, GroupBox, LeftText, CenterText, RightText };

struct Control {
    ControlKind kind;
    std::string text; // UTF-8
    int id;           // -1 for none (0xFFFF in the compiled template)
    int x, y, cx, cy; // dialog units
    uint32_t style;   // the full style: the statement's implied styles plus the listed ones
    uint32_t ex_style;
};

struct DialogTemplate {
    std::string name; // as written, e.g. "TAVRENE"
    int language = 0; // LANGID, e.g. 1041 for LANG_JAPANESE, SUBLANG_DEFAULT
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = 0;
    uint32_t ex_style = 0;
    std::string caption; // UTF-8
    int font_points = 0;
    std::string font_face; // UTF-8
    std::vector<Control> controls;
};

struct ParseError {
    int line;
    std::string message;
};

// Parses every DIALOGEX statement of a script; other statements are skipped.
std::vector<DialogTemplate> parse_dialogs(std::string_view script, ParseError* error = nullptr);

// Finds a template by name, without regard to case.
std::optional<DialogTemplate> find_dialog(std::string_view script, std::string_view name);

// The resource script embedded into the build (app/tavrene.rc).
std::string_view embedded_script();

} // namespace platform::rc
