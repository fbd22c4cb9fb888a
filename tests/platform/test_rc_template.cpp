// The resource-script reader: the real template, the resource compiler's rules, malformed
// scripts, and agreement with the MinGW resource compiler where it is installed.
#include "platform/rc_template.h"
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace rc = platform::rc;
using rc::ControlKind;

constexpr uint32_t child_visible = WS_CHILD | WS_VISIBLE;

rc::DialogTemplate only_dialog(const std::string& script) {
    rc::ParseError error{-1, "untouched"};
    const auto dialogs = rc::parse_dialogs(script, &error);
    EXPECT_EQ(error.message, "") << "line " << error.line;
    EXPECT_EQ(dialogs.size(), 1u);
    return dialogs.empty() ? rc::DialogTemplate{} : dialogs.front();
}

rc::ParseError error_of(const std::string& script) {
    rc::ParseError error{};
    const auto dialogs = rc::parse_dialogs(script, &error);
    EXPECT_TRUE(dialogs.empty());
    EXPECT_FALSE(error.message.empty()) << script;
    return error;
}

TEST(RcTemplate, TheEmbeddedScriptHoldsTheMainDialog) {
    const auto d = rc::find_dialog(rc::embedded_script(), "Tavrene");
    ASSERT_TRUE(d.has_value());
    EXPECT_EQ(d->name, "TAVRENE");
    EXPECT_EQ(d->language, 1041);
    EXPECT_EQ(d->caption, "SSB Tavrene Ver 1.2");
    EXPECT_EQ(d->font_points, 9);
    EXPECT_EQ(d->font_face,
              "\xEF\xBC\xAD\xEF\xBC\xB3 \xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF");
    EXPECT_EQ(d->font_face, "ＭＳ ゴシック");
    EXPECT_EQ(d->x, 220);
    EXPECT_EQ(d->y, 0);
    EXPECT_EQ(d->cx, 221);
    EXPECT_EQ(d->cy, 104);
    EXPECT_EQ(d->style, 0x10CA10C0u); // as the MinGW resource compiler writes it
    EXPECT_EQ(d->style,
              static_cast<uint32_t>(DS_SETFONT | DS_MODALFRAME | DS_CENTERMOUSE | WS_VISIBLE |
                                    WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_EQ(d->style & (WS_POPUP | WS_MAXIMIZEBOX | WS_THICKFRAME), 0u);
    EXPECT_EQ(d->ex_style, 0u);

    struct Want {
        ControlKind kind;
        int id;
        const char* text;
        int x, y, cx, cy;
        uint32_t style;
    };
    const Want want[] = {
        {ControlKind::PushButton, 1001, "On/Off", 122, 17, 20, 61, 0x50012000},
        {ControlKind::GroupBox, -1, "Observation", 5, 5, 95, 85, 0x50000007},
        {ControlKind::CenterText, -1, "f1+df", 26, 80, 37, 8, 0x50020201},
        {ControlKind::CenterText, -1, "f2+df", 76, 43, 21, 8, 0x50020001},
        {ControlKind::GroupBox, -1, "Reference", 115, 5, 100, 85, 0x50000007},
        {ControlKind::RightText, -1, "f1=1,000Hz f2=2,000Hz", 121, 93, 85, 8, 0x50020202},
        {ControlKind::LeftText, -1, "When stable, df=0", 21, 93, 85, 8, 0x50020200},
        {ControlKind::CenterText, -1, "Wave Form", 153, 80, 50, 8, 0x50020201},
    };
    ASSERT_EQ(d->controls.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        const rc::Control& c = d->controls[i];
        SCOPED_TRACE(want[i].text);
        EXPECT_EQ(c.kind, want[i].kind);
        EXPECT_EQ(c.id, want[i].id);
        EXPECT_EQ(c.text, want[i].text);
        EXPECT_EQ(c.x, want[i].x);
        EXPECT_EQ(c.y, want[i].y);
        EXPECT_EQ(c.cx, want[i].cx);
        EXPECT_EQ(c.cy, want[i].cy);
        EXPECT_EQ(c.style, want[i].style);
        EXPECT_EQ(c.ex_style, 0u);
    }
    EXPECT_EQ(d->controls[0].style,
              static_cast<uint32_t>(child_visible | WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE));
}

TEST(RcTemplate, NamesAreFoundWithoutRegardToCase) {
    const std::string_view script = rc::embedded_script();
    for (const char* name : {"Tavrene", "TAVRENE", "tavrene", "tAvReNe"}) {
        EXPECT_TRUE(rc::find_dialog(script, name).has_value()) << name;
    }
    for (const char* name : {"Tavren", "Tavrene2", "", "102"}) {
        EXPECT_FALSE(rc::find_dialog(script, name).has_value()) << name;
    }
    const char* two = "a DIALOGEX 0,0,1,1 BEGIN END\nB dialogex 0,0,2,2 { }\n";
    EXPECT_EQ(rc::find_dialog(two, "b")->cx, 2);
    EXPECT_EQ(rc::find_dialog(two, "A")->cx, 1);
    EXPECT_FALSE(rc::find_dialog("a DIALOGEX 0,0,1,1 BEGIN", "a").has_value());
}

// What the resource compiler adds or assumes, checked against what windres writes.
TEST(RcTemplate, ImpliedStylesFollowTheResourceCompiler) {
    // No STYLE: a popup with border and system menu; CAPTION adds WS_CAPTION in any order.
    EXPECT_EQ(only_dialog("A DIALOGEX 1,2,3,4\nBEGIN\nEND\n").style, 0x80880000u);
    EXPECT_EQ(only_dialog("A DIALOGEX 1,2,3,4\nCAPTION \"x\"\nBEGIN\nEND\n").style, 0x80C80000u);
    EXPECT_EQ(only_dialog("A DIALOGEX 1,2,3,4 CAPTION \"x\" STYLE WS_VISIBLE | NOT WS_VISIBLE"
                          " | WS_CHILD BEGIN END")
                  .style,
              0x40C00000u);
    // FONT adds DS_SETFONT.
    const auto font = only_dialog("B DIALOGEX 1,2,3,4\nSTYLE WS_VISIBLE\nFONT 8, \"MS Shell Dlg\","
                                  " 400, 0, 0x1\nEXSTYLE WS_EX_TOPMOST\nBEGIN\nEND");
    EXPECT_EQ(font.style, 0x10000040u);
    EXPECT_EQ(font.ex_style, 0x8u);
    EXPECT_EQ(font.font_points, 8);
    EXPECT_EQ(font.font_face, "MS Shell Dlg");

    const auto d = only_dialog(R"(C DIALOGEX 0, 0, 100, 50
STYLE WS_POPUP
BEGIN
    PUSHBUTTON "a", 5, 1, 2, 3, 4, NOT WS_TABSTOP | NOT WS_VISIBLE
    LTEXT "b", -1, 1, 2, 3, 4, NOT WS_GROUP, WS_EX_CLIENTEDGE
    DEFPUSHBUTTON "OK", IDOK, 1, 2, 3, 4
    PUSHBUTTON "Cancel", IDCANCEL, 1, 2, 3, 4, WS_DISABLED, 0, 77
    GROUPBOX "g", IDC_STATIC, 1, 2, 3, 4
    CTEXT "c", 7, 1, 2, 3, 4, SS_CENTERIMAGE | SS_NOPREFIX
    RTEXT "r", 8, 1, 2, 3, 4
END)");
    ASSERT_EQ(d.controls.size(), 7u);
    EXPECT_EQ(d.controls[0].style, static_cast<uint32_t>(WS_CHILD));
    EXPECT_EQ(d.controls[1].style, child_visible | SS_LEFT);
    EXPECT_EQ(d.controls[1].ex_style, 0x200u);
    EXPECT_EQ(d.controls[2].kind, ControlKind::DefPushButton);
    EXPECT_EQ(d.controls[2].id, IDOK);
    EXPECT_EQ(d.controls[2].style, child_visible | WS_TABSTOP | 1u);
    EXPECT_EQ(d.controls[3].id, IDCANCEL);
    EXPECT_EQ(d.controls[3].style, child_visible | WS_TABSTOP | 0x08000000u);
    EXPECT_EQ(d.controls[4].id, -1);
    EXPECT_EQ(d.controls[4].style, child_visible | BS_GROUPBOX);
    EXPECT_EQ(d.controls[5].style, child_visible | WS_GROUP | SS_CENTER | SS_CENTERIMAGE | 0x80u);
    EXPECT_EQ(d.controls[6].style, child_visible | WS_GROUP | SS_RIGHT);
}

TEST(RcTemplate, LanguageDefinesCommentsAndOtherResources) {
    const auto dialogs = rc::parse_dialogs(R"(// A script with everything around the dialogs.
#pragma code_page(65001)
#include "resource.h"
#define IDD_FIRST 100
#define IDC_GO    (IDD_FIRST + 1) // trailing comment
#define WIDE 3 * 40 - \
             20
#define TITLE "Quote ""here"""
/* A block comment with a dialog in it:
X DIALOGEX 0, 0, 1, 1
BEGIN END */
1 VERSIONINFO
 FILEVERSION 1,2,0,0
 FILEFLAGSMASK 0x3fL
BEGIN
    BLOCK "StringFileInfo"
    BEGIN
        BLOCK "040904b0"
        BEGIN
            VALUE "FileDescription", "END of the world"
        END
    END
END
102 ICON "tavrene.ico"
STRINGTABLE
LANGUAGE LANG_GERMAN, SUBLANG_DEFAULT
{
    1, "eins"
}
IDR_MENU MENU DISCARDABLE
BEGIN
    POPUP "&File" { MENUITEM "E&xit", 1 }
END
FIRST DIALOGEX 0, 0, WIDE, 50
CAPTION TITLE
BEGIN
    PUSHBUTTON "Go", IDC_GO, 0x10, 010, -1, +2
END
LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT
IDD_FIRST DIALOG 0, 0, 1, 1
BEGIN
END
THIRD DIALOGEX 0, 0, 1, 1
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_UK
BEGIN
END
FOURTH DIALOGEX 0, 0, 1, 1
BEGIN
END
)");
    ASSERT_EQ(dialogs.size(), 4u);
    const rc::DialogTemplate& first = dialogs[0];
    EXPECT_EQ(first.name, "FIRST");
    EXPECT_EQ(first.language, 1033); // no LANGUAGE yet: US English, as the compiler assumes
    EXPECT_EQ(first.cx, 100);
    EXPECT_EQ(first.caption, "Quote \"here\"");
    ASSERT_EQ(first.controls.size(), 1u);
    EXPECT_EQ(first.controls[0].id, 101);
    EXPECT_EQ(first.controls[0].x, 16);
    EXPECT_EQ(first.controls[0].y, 8);
    EXPECT_EQ(first.controls[0].cx, -1);
    EXPECT_EQ(first.controls[0].cy, 2);
    EXPECT_EQ(dialogs[1].name, "100"); // a defined name is its number
    EXPECT_EQ(dialogs[1].language, 1041);
    EXPECT_EQ(dialogs[2].language, 0x809); // its own LANGUAGE
    EXPECT_EQ(dialogs[3].language, 1041);  // the one in force again
}

TEST(RcTemplate, MalformedScriptsGiveTheLineAndAReason) {
    struct Case {
        const char* script;
        int line;
        const char* words;
    };
    const Case cases[] = {
        {"A DIALOGEX 0,0,1,1\nCAPTION \"open\nBEGIN\nEND\n", 2, "unterminated string"},
        {"A DIALOGEX 0,0,1,1\nCAPTION \"open", 2, "unterminated string"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT \"x\", 1, 0, 0, 1, 1\n", 1, "missing END"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT \"x\", 1, 0, 0, 1, 1\n/* END", 4,
         "unterminated comment"},
        {"A DIALOGEX 0,0,1,12abc\nBEGIN\nEND\n", 1, "bad number"},
        {"A DIALOGEX 0,0,1,0x\nBEGIN\nEND\n", 1, "bad number"},
        {"A DIALOGEX 0,0,1,09\nBEGIN\nEND\n", 1, "bad number"},
        {"A DIALOGEX 0,0,1,99999999999\nBEGIN\nEND\n", 1, "out of range"},
        {"A DIALOGEX 0,0,1\nBEGIN\nEND\n", 2, "expected ','"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  EDITTEXT 1, 0, 0, 1, 1\nEND\n", 3, "unknown control"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT \"x\", IDC_NOPE, 0, 0, 1, 1\nEND\n", 3, "IDC_NOPE"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT 5, 1, 0, 0, 1, 1\nEND\n", 3, "expected a string"},
        {"A DIALOGEX 0,0,1,1\nFOO\nBEGIN\nEND\n", 2, "unexpected"},
        {"A DIALOGEX 0,0,1,1\nSTYLE WS_CHILD |\n", 2, "expected a number"},
        {"A DIALOGEX 0,0,1,1/0\nBEGIN\nEND\n", 1, "division by zero"},
        {"\n#if 0\nA DIALOGEX 0,0,1,1 BEGIN END\n#endif\n", 2, "unsupported"},
        {"#define A A\nX DIALOGEX 0,0,1,A BEGIN END", 2, "unknown name 'A'"},
        {"1 VERSIONINFO\nFILEVERSION 1,0,0,0\n", 1, "expected BEGIN"},
        {"1 MENU\nBEGIN\n POPUP \"x\"\n BEGIN\nEND\n", 1, "missing END"},
        // Creation data after a control that never closes, with a long expansion inside it:
        // reported at the block's opening brace.
        {"#define M 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27\n"
         "A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT \"x\", 1, 0, 0, 1, 1\n  {\n  M\n",
         5, "missing END"},
        {"A\n", 1, "resource type"},
        {", DIALOGEX", 1, "resource statement"},
        {"A DIALOGEX 0,0,1,1\nBEGIN\n  LTEXT \"\xFF\", 1, 0, 0, 1, 1 @\nEND\n", 3,
         "unexpected character"},
    };
    for (const Case& c : cases) {
        const rc::ParseError e = error_of(c.script);
        EXPECT_EQ(e.line, c.line) << c.script;
        EXPECT_NE(e.message.find(c.words), std::string::npos) << e.message << "\n" << c.script;
        EXPECT_FALSE(rc::find_dialog(c.script, "A").has_value());
    }
}

// Scripts built to blow up a naive reader: they must end in an error, quickly.
TEST(RcTemplate, HostileScriptsEndInAnError) {
    std::string bomb;
    for (int i = 0; i < 40; ++i) {
        bomb += "#define M" + std::to_string(i) + " M" + std::to_string(i + 1) + " M" +
                std::to_string(i + 1) + "\n";
    }
    bomb += "A DIALOGEX 0,0,1,M0 BEGIN END\n";
    EXPECT_NE(error_of(bomb).message.find("too large"), std::string::npos);

    const std::string deep = "A DIALOGEX 0,0,1," + std::string(100000, '(') + "1" +
                             std::string(100000, ')') + " BEGIN END";
    EXPECT_NE(error_of(deep).message.find("too deep"), std::string::npos);
    const std::string negatives = "A DIALOGEX 0,0,1," + std::string(100000, '-') + "1 BEGIN END";
    EXPECT_NE(error_of(negatives).message.find("too deep"), std::string::npos);
    error_of(std::string(100000, '{'));
    error_of("1 RCDATA " + std::string(100000, '{'));
}

// Every prefix of the real script, and random damage to it, parses or fails cleanly.
TEST(RcTemplate, DamagedScriptsNeverCrash) {
    const std::string script(rc::embedded_script());
    int failures = 0;
    for (size_t n = 0; n < script.size(); ++n) {
        rc::ParseError e{};
        const auto dialogs = rc::parse_dialogs(script.substr(0, n), &e);
        failures += dialogs.empty() ? 1 : 0;
        if (!e.message.empty()) {
            ASSERT_GE(e.line, 1);
            ASSERT_LE(e.line, 40);
        }
    }
    EXPECT_GT(failures, 0);
    std::mt19937 rng(3);
    for (int i = 0; i < 2000; ++i) {
        std::string damaged = script;
        for (int k = 0; k < 4; ++k) {
            damaged[rng() % damaged.size()] = static_cast<char>(rng());
        }
        rc::ParseError e{};
        rc::parse_dialogs(damaged, &e);
    }
}

// The Windows build compiles the same script with windres: both must read it the same way.
// The compiled .res is read back here; skipped when the cross tools are not installed. One
// known difference: windres drops the implied WS_GROUP of a text control whose style list is
// given, where the Microsoft compiler (and this reader) keep it, so scripts say WS_GROUP.
class ResReader {
  public:
    explicit ResReader(std::vector<unsigned char> bytes) : b_(std::move(bytes)) {}

    std::vector<rc::DialogTemplate> dialogs() {
        std::vector<rc::DialogTemplate> out;
        while (p_ + 8 <= b_.size()) {
            const size_t start = p_;
            const uint32_t data_size = u32();
            const uint32_t header_size = u32();
            const std::string type = name();
            const std::string id = name();
            align();
            p_ += 6; // data version, memory flags
            const int language = u16();
            p_ = start + header_size;
            const size_t data = p_;
            if (type == "#5") {
                out.push_back(dialog(id, language));
            }
            p_ = data + data_size;
            align();
        }
        return out;
    }

  private:
    uint16_t u16() {
        const auto v = static_cast<uint16_t>(b_.at(p_) | b_.at(p_ + 1) << 8);
        p_ += 2;
        return v;
    }
    uint32_t u32() {
        const uint32_t lo = u16();
        return lo | static_cast<uint32_t>(u16()) << 16;
    }
    void align() { p_ = (p_ + 3) & ~size_t{3}; }
    std::string text() {
        std::string s;
        for (uint32_t c = u16(); c != 0; c = u16()) {
            if (c >= 0xD800 && c < 0xDC00) {
                c = 0x10000 + ((c - 0xD800) << 10) + (u16() - 0xDC00);
            }
            if (c < 0x80) {
                s += static_cast<char>(c);
            } else if (c < 0x800) {
                s += static_cast<char>(0xC0 | c >> 6);
                s += static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                s += static_cast<char>(0xE0 | c >> 12);
                s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
                s += static_cast<char>(0x80 | (c & 0x3F));
            } else {
                s += static_cast<char>(0xF0 | c >> 18);
                s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
                s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
                s += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        return s;
    }
    std::string name() { // a string, or "#n" for a number
        if (b_.at(p_) == 0xFF && b_.at(p_ + 1) == 0xFF) {
            p_ += 2;
            return "#" + std::to_string(u16());
        }
        return text();
    }
    rc::DialogTemplate dialog(const std::string& id, int language) {
        rc::DialogTemplate d;
        d.name = id[0] == '#' ? id.substr(1) : id;
        d.language = language;
        p_ += 8; // version, signature, help id
        d.ex_style = u32();
        d.style = u32();
        const int count = u16();
        d.x = static_cast<int16_t>(u16());
        d.y = static_cast<int16_t>(u16());
        d.cx = static_cast<int16_t>(u16());
        d.cy = static_cast<int16_t>(u16());
        name(); // menu
        name(); // class
        d.caption = text();
        if ((d.style & DS_SETFONT) != 0) {
            d.font_points = u16();
            p_ += 4; // weight, italic, character set
            d.font_face = text();
        }
        for (int i = 0; i < count; ++i) {
            align();
            rc::Control c{};
            p_ += 4; // help id
            c.ex_style = u32();
            c.style = u32();
            c.x = static_cast<int16_t>(u16());
            c.y = static_cast<int16_t>(u16());
            c.cx = static_cast<int16_t>(u16());
            c.cy = static_cast<int16_t>(u16());
            c.id = static_cast<int32_t>(u32());
            const std::string cls = name();
            c.text = name();
            const size_t extra = u16(); // creation data
            p_ += extra;
            const uint32_t low = c.style & 0xF;
            if (cls == "#128") {
                c.kind = low == BS_GROUPBOX ? ControlKind::GroupBox
                         : low == 1         ? ControlKind::DefPushButton
                                            : ControlKind::PushButton;
            } else {
                c.kind = low == SS_RIGHT    ? ControlKind::RightText
                         : low == SS_CENTER ? ControlKind::CenterText
                                            : ControlKind::LeftText;
            }
            d.controls.push_back(c);
        }
        return d;
    }

    std::vector<unsigned char> b_;
    size_t p_ = 0;
};

TEST(RcTemplate, ReadsScriptsAsTheWindowsResourceCompilerDoes) {
    if (std::system("x86_64-w64-mingw32-windres --version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "x86_64-w64-mingw32-windres is not installed";
    }
    // The icon file is not at hand here; the icon statement is covered by the tests above.
    std::string real(rc::embedded_script());
    real.erase(real.find("102 ICON"), std::string_view("102 ICON \"tavrene.ico\"").size());
    const std::vector<std::string> scripts = {
        real,
        "#include <windows.h>\nA DIALOGEX 1,2,3,4\nCAPTION \"x\"\nBEGIN\nEND\n"
        "LANGUAGE LANG_GERMAN, SUBLANG_DEFAULT\n"
        "B DIALOGEX (0-1),2,3,4,5\nSTYLE WS_VISIBLE\nFONT 9, \"f\", 700, 1, 0\nBEGIN\nEND\n",
        "#pragma code_page(65001)\n#include <windows.h>\n#define ID 4\n"
        "#define IDC_STATIC (-1)\nC DIALOGEX 1,2,3,4\nCAPTION \"\"\"q\"\" \\\\ \"\n"
        "EXSTYLE WS_EX_TOPMOST | WS_EX_TOOLWINDOW\n"
        "STYLE WS_VISIBLE | NOT WS_VISIBLE | WS_CHILD | DS_CENTER\n{\n"
        "  PUSHBUTTON \"a\", ID * 2, 1, 2, 3, 4, NOT WS_TABSTOP | NOT WS_VISIBLE\n"
        "  LTEXT \"b\", IDC_STATIC, 1, 2, 3, 4, NOT WS_GROUP, WS_EX_CLIENTEDGE\n"
        "  DEFPUSHBUTTON \"OK\", IDOK, 1, 2, 3, 4, BS_MULTILINE, 0, 9\n"
        "  GROUPBOX \"g\", 65535, 1, 2, 3, 4, WS_TABSTOP\n"
        "  CTEXT \"c\", 0x7fffffff, 1, 2, 3, 4, SS_NOPREFIX | WS_BORDER | WS_GROUP\n"
        "  RTEXT \"\xE3\x81\x82\", -2, 1, 2, 3, 4\n}\n",
    };
    const auto dir =
        std::filesystem::temp_directory_path() /
        ("tavrene_rc_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
         std::to_string(reinterpret_cast<uintptr_t>(&scripts)));
    std::filesystem::create_directories(dir);
    for (size_t i = 0; i < scripts.size(); ++i) {
        SCOPED_TRACE("script " + std::to_string(i));
        const auto rc_path = dir / "s.rc";
        const auto res_path = dir / "s.res";
        std::ofstream(rc_path, std::ios::binary) << scripts[i];
        const std::string command = "x86_64-w64-mingw32-windres -O res \"" + rc_path.string() +
                                    "\" -o \"" + res_path.string() + "\" 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << scripts[i];
        std::ifstream in(res_path, std::ios::binary);
        ResReader reader(std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {}));
        const auto theirs = reader.dialogs();
        rc::ParseError error{};
        const auto ours = rc::parse_dialogs(scripts[i], &error);
        EXPECT_EQ(error.message, "");
        ASSERT_EQ(ours.size(), theirs.size());
        for (size_t k = 0; k < ours.size(); ++k) {
            const rc::DialogTemplate& a = ours[k];
            const rc::DialogTemplate& b = theirs[k];
            EXPECT_TRUE(a.name == b.name || rc::find_dialog(scripts[i], b.name).has_value());
            EXPECT_EQ(a.language, b.language);
            EXPECT_EQ(a.style, b.style) << std::hex << a.style << " " << b.style;
            EXPECT_EQ(a.ex_style, b.ex_style);
            EXPECT_EQ(a.caption, b.caption);
            EXPECT_EQ(a.font_points, b.font_points);
            EXPECT_EQ(a.font_face, b.font_face);
            EXPECT_EQ(std::vector<int>({a.x, a.y, a.cx, a.cy}),
                      std::vector<int>({b.x, b.y, b.cx, b.cy}));
            ASSERT_EQ(a.controls.size(), b.controls.size());
            for (size_t j = 0; j < a.controls.size(); ++j) {
                const rc::Control& p = a.controls[j];
                const rc::Control& q = b.controls[j];
                SCOPED_TRACE(p.text);
                EXPECT_EQ(p.kind, q.kind);
                EXPECT_EQ(p.text, q.text);
                // The template stores ids of -1 as 0xFFFF.
                EXPECT_TRUE(p.id == q.id || (p.id & 0xFFFF) == (q.id & 0xFFFF))
                    << p.id << " " << q.id;
                EXPECT_EQ(p.style, q.style) << std::hex << p.style << " " << q.style;
                EXPECT_EQ(p.ex_style, q.ex_style);
                EXPECT_EQ(std::vector<int>({p.x, p.y, p.cx, p.cy}),
                          std::vector<int>({q.x, q.y, q.cx, q.cy}));
            }
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
