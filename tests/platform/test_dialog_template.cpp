// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog-template reader: the program's own compiled template, lookup by name, damaged
// copies of the real file, and the template forms windres writes that the real file lacks.
#include "platform/dialog_template.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace res = platform::resources;

constexpr uint32_t child_visible = WS_CHILD | WS_VISIBLE;

std::vector<unsigned char> embedded() {
    const auto bytes = res::embedded_resources();
    return {bytes.begin(), bytes.end()};
}

TEST(DialogTemplate, TheEmbeddedResourcesHoldTheMainDialog) {
    const auto d = res::find_dialog(res::embedded_resources(), "Tavrene");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->name, "TAVRENE");
    EXPECT_EQ(d->caption, "SSB Tavrene Ver 1.2");
    EXPECT_EQ(d->font_points, 9);
    EXPECT_EQ(d->font_face,
              "\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF");
    EXPECT_EQ(d->x, 220);
    EXPECT_EQ(d->y, 0);
    EXPECT_EQ(d->cx, 221);
    EXPECT_EQ(d->cy, 104);
    EXPECT_EQ(d->style,
              static_cast<uint32_t>(DS_SETFONT | DS_MODALFRAME | DS_CENTERMOUSE | WS_VISIBLE |
                                    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));

    struct Want {
        const char* class_name;
        int id;
        const char* text;
        int x, y, cx, cy;
        uint32_t style;
    };
    const Want want[] = {
        {"Button", 1001, "On/Off", 122, 17, 20, 61, 0x50012000},
        {"Button", -1, "Observation", 5, 5, 95, 85, 0x50000007},
        {"Static", -1, "f1+df", 26, 80, 37, 8, 0x50020201},
        {"Static", -1, "f2+df", 76, 43, 21, 8, 0x50020001},
        {"Button", -1, "Reference", 115, 5, 100, 85, 0x50000007},
        {"Static", -1, "f1=1,000Hz f2=2,000Hz", 121, 93, 85, 8, 0x50020202},
        {"Static", -1, "When stable, df=0", 21, 93, 85, 8, 0x50020200},
        {"Static", -1, "Wave Form", 153, 80, 50, 8, 0x50020201},
    };
    ASSERT_EQ(d->controls.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const res::Control& c = d->controls[i];
        SCOPED_TRACE(want[i].text);
        EXPECT_EQ(c.class_name, want[i].class_name);
        EXPECT_EQ(c.id, want[i].id);
        EXPECT_EQ(c.text, want[i].text);
        EXPECT_EQ(std::vector<int>({c.x, c.y, c.cx, c.cy}),
                  std::vector<int>({want[i].x, want[i].y, want[i].cx, want[i].cy}));
        EXPECT_EQ(c.style, want[i].style);
    }
    EXPECT_EQ(d->controls[0].style,
              static_cast<uint32_t>(child_visible | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE));
}

TEST(DialogTemplate, NamesAreFoundWithoutRegardToCase) {
    std::string fault = "untouched";
    EXPECT_EQ(res::read_dialogs(res::embedded_resources(), &fault).size(), 1u);
    EXPECT_EQ(fault, "");
    for (const char* name : {"Tavrene", "TAVRENE", "tavrene", "tAvReNe"}) {
        EXPECT_TRUE(res::find_dialog(res::embedded_resources(), name).has_value()) << name;
    }
    // 102 is the icon group's number, 5 the dialog type's.
    for (const char* name : {"Tavren", "Tavrene2", "", "102", "#102", "5", "#5"}) {
        EXPECT_FALSE(res::find_dialog(res::embedded_resources(), name).has_value()) << name;
    }
}

std::vector<unsigned char> utf16(std::string_view ascii) {
    std::vector<unsigned char> out;
    for (const char c : ascii) {
        out.push_back(static_cast<unsigned char>(c));
        out.push_back(0);
    }
    return out;
}

size_t offset_of(const std::vector<unsigned char>& bytes, const std::vector<unsigned char>& part) {
    const auto at = std::search(bytes.begin(), bytes.end(), part.begin(), part.end());
    EXPECT_NE(at, bytes.end());
    return static_cast<size_t>(at - bytes.begin());
}

std::vector<unsigned char> operator+(std::vector<unsigned char> a,
                                     const std::vector<unsigned char>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Damage to the real file: every truncation and a set of corrupted fields. What is read is
// either the whole, unchanged template or nothing with a reason; under ASan, never a stray read.
TEST(DialogTemplate, DamagedResourcesYieldNothingAndAReason) {
    const std::vector<unsigned char> whole = embedded();
    const auto full = res::find_dialog(whole, "Tavrene");
    ASSERT_TRUE(full.has_value());

    // Landmarks, found by what is stored there.
    const std::vector<unsigned char> dialog_type = {0xFF, 0xFF, 5, 0};
    const size_t header = offset_of(whole, dialog_type + utf16("TAVRENE")) - 8;
    const size_t tpl = header + (whole[header + 4] | whole[header + 5] << 8);
    const size_t on_off =
        offset_of(whole, std::vector<unsigned char>{0xFF, 0xFF, 0x80, 0} + utf16("On/Off"));
    const size_t wave_form = offset_of(whole, utf16("Wave Form") + utf16(std::string(1, '\0')));
    const size_t dialog_end = wave_form + 22; // the title, then an empty creation-data count

    int readable = 0;
    for (size_t n = 0; n < whole.size(); ++n) {
        // A copy of its own, so that a read past its end is caught.
        const std::vector<unsigned char> prefix(whole.begin(), whole.begin() + n);
        std::string fault;
        const auto dialogs = res::read_dialogs(prefix, &fault);
        if (n < dialog_end) {
            ASSERT_TRUE(dialogs.empty()) << n;
        } else if (fault.empty()) {
            ASSERT_EQ(dialogs.size(), 1u) << n;
            EXPECT_EQ(dialogs[0], *full) << n;
            // The icon group's entry starts within 4 bytes; its own end depends on the icon.
            readable += n < dialog_end + 4 ? 1 : 0;
        }
        ASSERT_TRUE(fault.empty() || dialogs.empty()) << n;
    }
    // Up to the icon group, whole entries only where the file ends in the two bytes of padding
    // after the dialog, or just before them.
    EXPECT_EQ(readable, 3);

    struct Corruption {
        const char* what;
        size_t at;
        uint32_t value;
        int width;
        const char* fault;
    };
    const Corruption corruptions[] = {
        {"data size past the end", header, 0xFFFFFFF0, 4, "resource runs past the end"},
        {"header size past the end", header + 4, 0x10000, 4, "header runs past the end"},
        {"header too short for its fields", header + 4, 12, 4, "resource header is cut short"},
        {"data size within the template", header, 100, 4, "dialog TAVRENE is cut short"},
        {"template version 2", tpl, 2, 2, "not a DIALOGEX"},
        {"plain DLGTEMPLATE signature", tpl + 2, 0, 2, "not a DIALOGEX"},
        {"a control more than stored", tpl + 16, 9, 2, "dialog TAVRENE is cut short"},
        {"creation data past the end", wave_form + 20, 2, 2, "dialog TAVRENE is cut short"},
        {"last title unterminated", wave_form + 18, 'x', 2, "dialog TAVRENE is cut short"},
        {"an edit control", on_off + 2, 0x81, 2, "class #129"},
        {"a title by number", on_off + 4, 0xFFFF, 2, "shows a resource"},
    };
    for (const Corruption& c : corruptions) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned char> bytes = whole;
        for (int i = 0; i < c.width; ++i) {
            bytes[c.at + i] = static_cast<unsigned char>(c.value >> (8 * i));
        }
        std::string fault;
        EXPECT_TRUE(res::read_dialogs(bytes, &fault).empty());
        EXPECT_NE(fault.find(c.fault), std::string::npos) << fault;
        EXPECT_FALSE(res::find_dialog(bytes, "Tavrene").has_value());
    }

    // Changes that leave a readable template: no controls; a lone surrogate in the caption.
    std::vector<unsigned char> no_controls = whole;
    no_controls[tpl + 16] = 0;
    const auto empty = res::find_dialog(no_controls, "Tavrene");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->controls.empty());
    EXPECT_EQ(empty->font_face, full->font_face);
    std::vector<unsigned char> lone = whole;
    const size_t caption = offset_of(whole, utf16("SSB"));
    lone[caption] = 0x00;
    lone[caption + 1] = 0xD8;
    const auto replaced = res::find_dialog(lone, "Tavrene");
    ASSERT_TRUE(replaced.has_value());
    EXPECT_EQ(replaced->caption, "\xEF\xBF\xBDSB Tavrene Ver 1.2");
}

// Scripts compiled by the resource compiler at test time.
std::vector<unsigned char> compile(const std::string& script) {
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("tavrene_res_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(reinterpret_cast<uintptr_t>(&script)));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "s.rc", std::ios::binary) << script;
    const std::string command = "x86_64-w64-mingw32-windres -O res \"" + (dir / "s.rc").string() +
                                "\" -o \"" + (dir / "s.res").string() + "\" 2>&1";
    std::vector<unsigned char> bytes;
    if (std::system(command.c_str()) == 0) {
        std::ifstream in(dir / "s.res", std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(bytes.empty()) << script;
    return bytes;
}

TEST(DialogTemplate, ReadsWhatTheResourceCompilerWrites) {
    if (std::system("x86_64-w64-mingw32-windres --version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "x86_64-w64-mingw32-windres is not installed";
    }
    // Other resources around it, a numbered template, no font, a class by name, creation data.
    const auto bytes = compile(R"(#pragma code_page(65001)
#include <windows.h>
LANGUAGE LANG_GERMAN, SUBLANG_DEFAULT
1 VERSIONINFO
FILEVERSION 1,2,0,0
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040704b0"
        BEGIN
            VALUE "FileDescription", "x"
        END
    END
END
STRINGTABLE
BEGIN
    1, "eins"
END
100 DIALOGEX 0, 0, 1, 1
BEGIN
END
Plain DIALOGEX (0 - 1), 2, 3, 4
EXSTYLE WS_EX_TOPMOST
CAPTION "ラジオ radio"
BEGIN
    CONTROL "c", 7, "Button", BS_GROUPBOX, 1, 2, 3, 4
    BEGIN
        1, 2, 3
    END
    LTEXT "t", -1, 5, 6, 7, 8, NOT WS_GROUP, WS_EX_CLIENTEDGE
END
)");
    std::string fault = "untouched";
    const auto dialogs = res::read_dialogs(bytes, &fault);
    EXPECT_EQ(fault, "");
    ASSERT_EQ(dialogs.size(), 1u);
    const res::DialogTemplate& d = dialogs[0];
    EXPECT_EQ(d.name, "PLAIN");
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({-1, 2, 3, 4}));
    EXPECT_EQ(d.style & DS_SETFONT, 0u);
    EXPECT_EQ(d.font_points, 0);
    EXPECT_EQ(d.font_face, "");
    EXPECT_EQ(d.caption, "\xE3\x83\xA9\xE3\x82\xB8\xE3\x82\xAA radio");
    const std::vector<res::Control> want = {
        {"Button", "c", 7, 1, 2, 3, 4, child_visible | BS_GROUPBOX},
        {"Static", "t", -1, 5, 6, 7, 8, child_visible | SS_LEFT},
    };
    EXPECT_EQ(d.controls, want);
    EXPECT_TRUE(res::find_dialog(bytes, "plain").has_value());
    EXPECT_FALSE(res::find_dialog(bytes, "100").has_value());

    // Forms the dialog manager cannot take.
    struct Refused {
        const char* body;
        const char* fault;
    };
    const Refused refused[] = {
        {"A DIALOG 0, 0, 1, 1\nBEGIN\nEND\n", "dialog A is not a DIALOGEX"},
        {"A DIALOGEX 0, 0, 1, 1\nBEGIN\n EDITTEXT 1, 0, 0, 1, 1\nEND\n", "class #129"},
        {"A DIALOGEX 0, 0, 1, 1\nBEGIN\n CONTROL \"\", 1, \"Trackbar\", 0, 0, 0, 1, 1\nEND\n",
         "class TRACKBAR"},
    };
    for (const Refused& r : refused) {
        const auto compiled = compile(std::string("#include <windows.h>\n") + r.body);
        EXPECT_TRUE(res::read_dialogs(compiled, &fault).empty()) << r.body;
        EXPECT_NE(fault.find(r.fault), std::string::npos) << fault;
    }
}

} // namespace
