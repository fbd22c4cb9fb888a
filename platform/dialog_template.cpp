// SPDX-License-Identifier: GPL-3.0-or-later
// A resource file is a run of entries, each a header (sizes, type, name, language) and then the
// resource's bytes, both starting on a DWORD boundary. Only the dialog entries are opened; every
// read is confined to the part of the file it belongs to, and leaving it is a fault.
#include "platform/dialog_template.h"
#include "platform/win32.h"

#include <strings.h>

namespace platform::resources {

namespace {

constexpr uint16_t rt_dialog = 5;
constexpr uint16_t button_atom = 0x80;
constexpr uint16_t static_atom = 0x82;

struct Fault {
    std::string what;
};

[[noreturn]] void fail(std::string what) {
    throw Fault{std::move(what)};
}

void append_utf8(std::string& out, uint16_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Resource types and names, menus, window classes and control titles are each stored either as
// a string or as 0xFFFF and a number.
struct NameOrNumber {
    bool is_number = false;
    uint16_t number = 0;
    std::string name; // UTF-8
};

// Little-endian reads from one part of the file, which `what` names in faults.
class Part {
  public:
    Part(std::span<const unsigned char> bytes, std::string what)
        : bytes_(bytes), what_(std::move(what)) {}

    void skip(size_t n) {
        if (n > bytes_.size() - pos_) {
            fail(what_ + " is cut short");
        }
        pos_ += n;
    }
    void align() { skip((4 - pos_ % 4) % 4); }

    uint16_t u16() {
        skip(2);
        return static_cast<uint16_t>(bytes_[pos_ - 2] | bytes_[pos_ - 1] << 8);
    }
    uint32_t u32() {
        const uint32_t low = u16();
        return low | static_cast<uint32_t>(u16()) << 16;
    }
    int s16() { return static_cast<int16_t>(u16()); }

    // A zero-terminated UTF-16 string. The program's texts are all in the Basic Multilingual
    // Plane: a surrogate becomes U+FFFD.
    std::string text() {
        std::string out;
        for (uint16_t c = u16(); c != 0; c = u16()) {
            append_utf8(out, c >= 0xD800 && c < 0xE000 ? uint16_t{0xFFFD} : c);
        }
        return out;
    }

    NameOrNumber name_or_number() {
        if (u16() == 0xFFFF) {
            return NameOrNumber{true, u16(), {}};
        }
        pos_ -= 2; // that was the name's first character
        return NameOrNumber{false, 0, text()};
    }

  private:
    std::span<const unsigned char> bytes_;
    std::string what_;
    size_t pos_ = 0;
};

std::string class_of(const NameOrNumber& c, const std::string& dialog) {
    if (c.is_number ? c.number == button_atom : strcasecmp(c.name.c_str(), "Button") == 0) {
        return "Button";
    }
    if (c.is_number ? c.number == static_atom : strcasecmp(c.name.c_str(), "Static") == 0) {
        return "Static";
    }
    // Appended, not `"#" + std::to_string(...)`: an insert at the front that GCC 12 at -O3
    // takes for an overlapping copy (a false -Wrestrict).
    std::string why = "dialog " + dialog + " has a control of class ";
    if (c.is_number) {
        why += '#';
        why += std::to_string(c.number);
    } else {
        why += c.name;
    }
    fail(why + ", which the dialog manager does not create");
}

// DLGITEMTEMPLATEEX, after its DWORD alignment.
Control control(Part& p, const std::string& dialog) {
    Control c{};
    p.skip(8); // help id, extended style
    c.style = p.u32();
    c.x = p.s16();
    c.y = p.s16();
    c.cx = p.s16();
    c.cy = p.s16();
    c.id = static_cast<int32_t>(p.u32());
    c.class_name = class_of(p.name_or_number(), dialog);
    const NameOrNumber title = p.name_or_number();
    if (title.is_number) {
        fail("a control of dialog " + dialog + " shows a resource, not a text");
    }
    c.text = title.name;
    p.skip(p.u16()); // creation data, passed to nobody here
    return c;
}

// DLGTEMPLATEEX and its controls.
DialogTemplate dialog(Part p, std::string name) {
    DialogTemplate d;
    d.name = std::move(name);
    const uint16_t version = p.u16();
    if (version != 1 || p.u16() != 0xFFFF) {
        fail("dialog " + d.name + " is not a DIALOGEX template");
    }
    p.skip(8); // help id, extended style
    d.style = p.u32();
    const int count = p.u16();
    d.x = p.s16();
    d.y = p.s16();
    d.cx = p.s16();
    d.cy = p.s16();
    p.name_or_number(); // menu: dialogs here have none
    p.name_or_number(); // window class: always the dialog class here
    d.caption = p.text();
    if ((d.style & DS_SETFONT) != 0) {
        d.font_points = p.u16();
        p.skip(4); // weight, italic, character set
        d.font_face = p.text();
    }
    for (int i = 0; i < count; ++i) {
        p.align();
        d.controls.push_back(control(p, d.name));
    }
    return d;
}

std::vector<DialogTemplate> read_entries(std::span<const unsigned char> res) {
    std::vector<DialogTemplate> dialogs;
    size_t at = 0;
    while (at < res.size()) {
        Part sizes(res.subspan(at), "a resource header");
        const uint32_t data_size = sizes.u32();
        const uint32_t header_size = sizes.u32();
        if (header_size > res.size() - at) {
            fail("a resource header runs past the end of the file");
        }
        Part header(res.subspan(at, header_size), "a resource header");
        header.skip(8); // the sizes
        const NameOrNumber type = header.name_or_number();
        const NameOrNumber name = header.name_or_number();
        header.align();
        header.skip(16); // data version, memory flags, language, version, characteristics
        const size_t data_at = at + header_size;
        if (data_size > res.size() - data_at) {
            fail("a resource runs past the end of the file");
        }
        // Templates are looked up by name only.
        if (type.is_number && type.number == rt_dialog && !name.is_number) {
            dialogs.push_back(
                dialog(Part(res.subspan(data_at, data_size), "dialog " + name.name), name.name));
        }
        at = data_at + data_size;
        at += (4 - at % 4) % 4;
    }
    return dialogs;
}

} // namespace

std::vector<DialogTemplate> read_dialogs(std::span<const unsigned char> res, std::string* fault) {
    try {
        std::vector<DialogTemplate> dialogs = read_entries(res);
        if (fault != nullptr) {
            fault->clear();
        }
        return dialogs;
    } catch (const Fault& f) {
        if (fault != nullptr) {
            *fault = f.what;
        }
        return {};
    }
}

std::optional<DialogTemplate> find_dialog(std::span<const unsigned char> res,
                                          std::string_view name) {
    for (DialogTemplate& d : read_dialogs(res)) {
        // Names read from the file hold no NUL, so strncasecmp compares all of them.
        if (d.name.size() == name.size() &&
            strncasecmp(d.name.c_str(), name.data(), name.size()) == 0) {
            return std::move(d);
        }
    }
    return std::nullopt;
}

} // namespace platform::resources
