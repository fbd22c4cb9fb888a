// A reader for the DIALOGEX statements of a resource script. It follows what the resource
// compiler does with them (implied control styles, WS_CAPTION from CAPTION, DS_SETFONT from
// FONT, LANGUAGE in force) and skips every other kind of resource.
#include "platform/rc_template.h"
#include "platform/win32.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <set>
#include <unordered_map>

namespace platform::rc {

namespace {

enum class Tok { End, Name, Number, String, Punct, Directive };

struct Token {
    Tok type = Tok::End;
    std::string text; // name, string contents, punctuation or directive line
    uint32_t value = 0;
    int line = 0;
};

struct Failure {
    int line;
    std::string message;
};

[[noreturn]] void fail(int line, std::string message) {
    throw Failure{line, std::move(message)};
}

bool is_name_start(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool is_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool same_word(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

// Splits script text into tokens. Comments vanish; a line whose first non-blank character is
// '#' comes back whole as one Directive token.
class Lexer {
  public:
    Lexer(std::string_view text, int line) : s_(text), line_(line) {
        if (s_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
    }

    Token next() {
        skip_blanks_and_comments();
        Token t;
        if (pos_ >= s_.size()) {
            t.line = last_line_; // the end belongs to the last line that said something
            return t;
        }
        t.line = last_line_ = line_;
        const char c = s_[pos_];
        if (c == '#' && at_line_start_) {
            t.type = Tok::Directive;
            t.text = directive_line();
            return t;
        }
        at_line_start_ = false;
        if (c == '"' || (c == 'L' && peek_char(1) == '"')) {
            pos_ += c == 'L' ? 2 : 1;
            t.type = Tok::String;
            t.text = string_body(t.line);
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            t.type = Tok::Number;
            t.value = number(t.line);
        } else if (is_name_start(c)) {
            const size_t start = pos_;
            while (pos_ < s_.size() && is_name_char(s_[pos_])) {
                ++pos_;
            }
            t.type = Tok::Name;
            t.text = std::string(s_.substr(start, pos_ - start));
        } else if (std::string_view(",|{}()+-~&*/%").find(c) != std::string_view::npos) {
            ++pos_;
            t.type = Tok::Punct;
            t.text = std::string(1, c);
        } else {
            fail(line_, "unexpected character");
        }
        return t;
    }

  private:
    char peek_char(size_t ahead) const {
        return pos_ + ahead < s_.size() ? s_[pos_ + ahead] : '\0';
    }

    void skip_blanks_and_comments() {
        while (pos_ < s_.size()) {
            const char c = s_[pos_];
            if (c == '\n') {
                ++line_;
                ++pos_;
                at_line_start_ = true;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                ++pos_;
            } else if (c == '/' && peek_char(1) == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n') {
                    ++pos_;
                }
            } else if (c == '/' && peek_char(1) == '*') {
                const int start_line = line_;
                pos_ += 2;
                while (pos_ < s_.size() && !(s_[pos_] == '*' && peek_char(1) == '/')) {
                    line_ += s_[pos_] == '\n' ? 1 : 0;
                    ++pos_;
                }
                if (pos_ >= s_.size()) {
                    fail(start_line, "unterminated comment");
                }
                pos_ += 2;
            } else {
                return;
            }
        }
    }

    // The rest of a '#' line, backslash-newline continuations joined, comments kept out.
    std::string directive_line() {
        std::string out;
        ++pos_;
        at_line_start_ = false;
        while (pos_ < s_.size() && s_[pos_] != '\n') {
            const char c = s_[pos_];
            if (c == '\\' &&
                (peek_char(1) == '\n' || (peek_char(1) == '\r' && peek_char(2) == '\n'))) {
                pos_ += peek_char(1) == '\r' ? 3 : 2;
                ++line_;
                out += ' ';
            } else if (c == '/' && peek_char(1) == '/') {
                while (pos_ < s_.size() && s_[pos_] != '\n') {
                    ++pos_;
                }
            } else if (c == '/' && peek_char(1) == '*') {
                skip_blanks_and_comments(); // may run past the line end; the directive ends there
                out += ' ';
                if (at_line_start_) {
                    return out;
                }
            } else {
                out += c;
                ++pos_;
            }
        }
        return out;
    }

    std::string string_body(int line) {
        std::string out;
        while (true) {
            if (pos_ >= s_.size() || s_[pos_] == '\n' || s_[pos_] == '\r') {
                fail(line, "unterminated string");
            }
            const char c = s_[pos_++];
            if (c == '"') {
                if (peek_char(0) != '"') {
                    return out;
                }
                ++pos_; // "" stands for one quote
                out += '"';
            } else if (c == '\\' && pos_ < s_.size()) {
                const char e = s_[pos_];
                const std::string_view from = "nrta\\\"";
                const std::string_view to = "\n\r\t\a\\\"";
                if (const size_t i = from.find(e); i != std::string_view::npos) {
                    out += to[i];
                    ++pos_;
                } else {
                    out += c;
                }
            } else {
                out += c;
            }
        }
    }

    uint32_t number(int line) {
        const size_t start = pos_;
        while (pos_ < s_.size() && is_name_char(s_[pos_])) {
            ++pos_;
        }
        std::string_view digits = s_.substr(start, pos_ - start);
        while (!digits.empty() &&
               std::string_view("lLuU").find(digits.back()) != std::string_view::npos) {
            digits.remove_suffix(1);
        }
        unsigned base = 10;
        if (digits.size() > 1 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
            base = 16;
            digits.remove_prefix(2);
        } else if (digits.size() > 1 && digits[0] == '0') {
            base = 8;
        }
        if (digits.empty()) {
            fail(line, "bad number");
        }
        uint64_t value = 0;
        for (const char d : digits) {
            unsigned v = 99;
            if (std::isdigit(static_cast<unsigned char>(d))) {
                v = static_cast<unsigned>(d - '0');
            } else if (std::isxdigit(static_cast<unsigned char>(d))) {
                v = static_cast<unsigned>(std::tolower(static_cast<unsigned char>(d)) - 'a' + 10);
            }
            if (v >= base) {
                fail(line, "bad number");
            }
            value = value * base + v;
            if (value > 0xFFFFFFFFu) {
                fail(line, "number out of range");
            }
        }
        return static_cast<uint32_t>(value);
    }

    std::string_view s_;
    size_t pos_ = 0;
    int line_;
    int last_line_ = line_;
    bool at_line_start_ = true;
};

// Tokens after the preprocessor: directives obeyed, #define names replaced by their bodies.
class Tokens {
  public:
    explicit Tokens(std::string_view script) : lexer_(script, 1) {}

    const Token& peek() {
        while (pending_.empty()) {
            Token t = lexer_.next();
            if (t.type == Tok::Directive) {
                directive(t);
            } else if (t.type == Tok::Name && defines_.count(t.text) != 0) {
                size_t budget = expansion_limit;
                std::set<std::string> active;
                expand(t, active, budget);
            } else {
                pending_.push_back(std::move(t));
            }
        }
        return pending_.front();
    }

    Token take() {
        peek();
        Token t = std::move(pending_.front());
        pending_.pop_front();
        return t;
    }

  private:
    static constexpr size_t expansion_limit = 100000;

    void directive(const Token& t) {
        Lexer words(t.text, t.line);
        const Token verb = words.next();
        if (verb.type != Tok::Name) {
            fail(t.line, "bad preprocessor line");
        }
        if (verb.text == "pragma" || verb.text == "include") {
            return;
        }
        if (verb.text == "define" || verb.text == "undef") {
            const Token name = words.next();
            if (name.type != Tok::Name) {
                fail(t.line, "bad #" + verb.text);
            }
            if (verb.text == "undef") {
                defines_.erase(name.text);
                return;
            }
            std::vector<Token> body;
            for (Token b = words.next(); b.type != Tok::End; b = words.next()) {
                if (b.type == Tok::Directive) {
                    fail(t.line, "bad #define");
                }
                body.push_back(std::move(b));
            }
            for (Token& b : body) {
                b.line = t.line;
            }
            defines_[name.text] = std::move(body);
            return;
        }
        fail(t.line, "unsupported preprocessor directive #" + verb.text);
    }

    // Like the C preprocessor, a name is not replaced again inside its own replacement.
    void expand(const Token& name, std::set<std::string>& active, size_t& budget) {
        const auto it = defines_.find(name.text);
        if (it == defines_.end() || active.count(name.text) != 0) {
            if (budget == 0) {
                fail(name.line, "macro expansion too large");
            }
            --budget;
            pending_.push_back(name);
            return;
        }
        active.insert(name.text);
        for (Token b : it->second) {
            b.line = name.line;
            expand(b, active, budget);
        }
        active.erase(name.text);
    }

    Lexer lexer_;
    std::map<std::string, std::vector<Token>> defines_;
    std::deque<Token> pending_;
};

// Names the resource compiler knows from the Windows headers.
const std::unordered_map<std::string, uint32_t>& constants() {
    static const std::unordered_map<std::string, uint32_t> table = {
        {"WS_OVERLAPPED", WS_OVERLAPPED},
        {"WS_POPUP", WS_POPUP},
        {"WS_CHILD", WS_CHILD},
        {"WS_MINIMIZE", 0x20000000},
        {"WS_VISIBLE", WS_VISIBLE},
        {"WS_DISABLED", 0x08000000},
        {"WS_CLIPSIBLINGS", 0x04000000},
        {"WS_CLIPCHILDREN", 0x02000000},
        {"WS_MAXIMIZE", 0x01000000},
        {"WS_CAPTION", WS_CAPTION},
        {"WS_BORDER", WS_BORDER},
        {"WS_DLGFRAME", 0x00400000},
        {"WS_VSCROLL", 0x00200000},
        {"WS_HSCROLL", 0x00100000},
        {"WS_SYSMENU", WS_SYSMENU},
        {"WS_THICKFRAME", WS_THICKFRAME},
        {"WS_SIZEBOX", WS_THICKFRAME},
        {"WS_GROUP", WS_GROUP},
        {"WS_TABSTOP", WS_TABSTOP},
        {"WS_MINIMIZEBOX", WS_MINIMIZEBOX},
        {"WS_MAXIMIZEBOX", WS_MAXIMIZEBOX},
        {"WS_OVERLAPPEDWINDOW", 0x00CF0000},
        {"WS_POPUPWINDOW", 0x80880000},
        {"WS_EX_DLGMODALFRAME", 0x00000001},
        {"WS_EX_TOPMOST", 0x00000008},
        {"WS_EX_TRANSPARENT", 0x00000020},
        {"WS_EX_TOOLWINDOW", 0x00000080},
        {"WS_EX_WINDOWEDGE", 0x00000100},
        {"WS_EX_CLIENTEDGE", 0x00000200},
        {"WS_EX_CONTEXTHELP", 0x00000400},
        {"WS_EX_RIGHT", 0x00001000},
        {"WS_EX_STATICEDGE", 0x00020000},
        {"WS_EX_APPWINDOW", 0x00040000},
        {"DS_ABSALIGN", 0x01},
        {"DS_SYSMODAL", 0x02},
        {"DS_LOCALEDIT", 0x20},
        {"DS_SETFONT", DS_SETFONT},
        {"DS_MODALFRAME", DS_MODALFRAME},
        {"DS_NOIDLEMSG", 0x100},
        {"DS_SETFOREGROUND", 0x200},
        {"DS_3DLOOK", 0x04},
        {"DS_FIXEDSYS", 0x08},
        {"DS_NOFAILCREATE", 0x10},
        {"DS_CONTROL", 0x400},
        {"DS_CENTER", 0x800},
        {"DS_CENTERMOUSE", DS_CENTERMOUSE},
        {"DS_CONTEXTHELP", 0x2000},
        {"DS_SHELLFONT", 0x48},
        {"BS_PUSHBUTTON", BS_PUSHBUTTON},
        {"BS_DEFPUSHBUTTON", 0x01},
        {"BS_CHECKBOX", 0x02},
        {"BS_AUTOCHECKBOX", 0x03},
        {"BS_RADIOBUTTON", 0x04},
        {"BS_3STATE", 0x05},
        {"BS_AUTO3STATE", 0x06},
        {"BS_GROUPBOX", BS_GROUPBOX},
        {"BS_USERBUTTON", 0x08},
        {"BS_AUTORADIOBUTTON", 0x09},
        {"BS_OWNERDRAW", 0x0B},
        {"BS_LEFTTEXT", 0x20},
        {"BS_TEXT", 0x00},
        {"BS_ICON", 0x40},
        {"BS_BITMAP", 0x80},
        {"BS_LEFT", 0x100},
        {"BS_RIGHT", 0x200},
        {"BS_CENTER", 0x300},
        {"BS_TOP", 0x400},
        {"BS_BOTTOM", 0x800},
        {"BS_VCENTER", 0xC00},
        {"BS_PUSHLIKE", 0x1000},
        {"BS_MULTILINE", BS_MULTILINE},
        {"BS_NOTIFY", 0x4000},
        {"BS_FLAT", 0x8000},
        {"SS_LEFT", SS_LEFT},
        {"SS_CENTER", SS_CENTER},
        {"SS_RIGHT", SS_RIGHT},
        {"SS_ICON", 0x03},
        {"SS_BLACKRECT", 0x04},
        {"SS_GRAYRECT", 0x05},
        {"SS_WHITERECT", 0x06},
        {"SS_BLACKFRAME", 0x07},
        {"SS_GRAYFRAME", 0x08},
        {"SS_WHITEFRAME", 0x09},
        {"SS_SIMPLE", 0x0B},
        {"SS_LEFTNOWORDWRAP", 0x0C},
        {"SS_OWNERDRAW", 0x0D},
        {"SS_BITMAP", 0x0E},
        {"SS_ETCHEDHORZ", 0x10},
        {"SS_ETCHEDVERT", 0x11},
        {"SS_ETCHEDFRAME", 0x12},
        {"SS_NOPREFIX", 0x80},
        {"SS_NOTIFY", 0x100},
        {"SS_CENTERIMAGE", SS_CENTERIMAGE},
        {"SS_RIGHTJUST", 0x400},
        {"SS_SUNKEN", 0x1000},
        {"SS_ENDELLIPSIS", 0x4000},
        {"SS_PATHELLIPSIS", 0x8000},
        {"SS_WORDELLIPSIS", 0xC000},
        {"IDOK", IDOK},
        {"IDCANCEL", IDCANCEL},
        {"IDABORT", 3},
        {"IDRETRY", 4},
        {"IDIGNORE", 5},
        {"IDYES", 6},
        {"IDNO", 7},
        {"IDC_STATIC", 0xFFFFFFFF},
        {"LANG_NEUTRAL", 0x00},
        {"LANG_CHINESE", 0x04},
        {"LANG_GERMAN", 0x07},
        {"LANG_ENGLISH", 0x09},
        {"LANG_SPANISH", 0x0A},
        {"LANG_FRENCH", 0x0C},
        {"LANG_ITALIAN", 0x10},
        {"LANG_JAPANESE", 0x11},
        {"LANG_KOREAN", 0x12},
        {"LANG_DUTCH", 0x13},
        {"LANG_POLISH", 0x15},
        {"LANG_PORTUGUESE", 0x16},
        {"LANG_RUSSIAN", 0x19},
        {"SUBLANG_NEUTRAL", 0x00},
        {"SUBLANG_DEFAULT", 0x01},
        {"SUBLANG_SYS_DEFAULT", 0x02},
        {"SUBLANG_ENGLISH_US", 0x01},
        {"SUBLANG_ENGLISH_UK", 0x02},
        {"SUBLANG_JAPANESE_JAPAN", 0x01},
        {"SUBLANG_GERMAN", 0x01},
        {"SUBLANG_FRENCH", 0x01},
    };
    return table;
}

constexpr uint32_t default_dialog_style = WS_POPUP | WS_BORDER | WS_SYSMENU;
constexpr int default_language = 0x409; // what the resource compiler assumes without LANGUAGE
constexpr int max_depth = 200;

struct ControlStatement {
    const char* keyword;
    ControlKind kind;
    uint32_t implied;
};

const ControlStatement control_statements[] = {
    {"PUSHBUTTON", ControlKind::PushButton, BS_PUSHBUTTON | WS_TABSTOP},
    {"DEFPUSHBUTTON", ControlKind::DefPushButton, 0x01 | WS_TABSTOP},
    {"GROUPBOX", ControlKind::GroupBox, BS_GROUPBOX},
    {"LTEXT", ControlKind::LeftText, SS_LEFT | WS_GROUP},
    {"CTEXT", ControlKind::CenterText, SS_CENTER | WS_GROUP},
    {"RTEXT", ControlKind::RightText, SS_RIGHT | WS_GROUP},
};

class Parser {
  public:
    explicit Parser(std::string_view script) : tokens_(script) {}

    std::vector<DialogTemplate> run() {
        std::vector<DialogTemplate> dialogs;
        while (tokens_.peek().type != Tok::End) {
            const Token t = tokens_.take();
            if (is_word(t, "LANGUAGE")) {
                language_ = language();
            } else if (is_word(t, "VERSION") || is_word(t, "CHARACTERISTICS")) {
                expression();
            } else if (is_word(t, "STRINGTABLE")) {
                skip_to_block(t);
            } else if (t.type == Tok::Name || t.type == Tok::Number || t.type == Tok::String) {
                const Token type = tokens_.take();
                if (is_word(type, "DIALOGEX") || is_word(type, "DIALOG")) {
                    dialogs.push_back(dialog(t));
                } else if (type.type == Tok::End || type.type == Tok::Punct) {
                    fail(type.line, "expected a resource type after " + describe(t));
                } else {
                    skip_resource(type);
                }
            } else {
                fail(t.line, "expected a resource statement, found " + describe(t));
            }
        }
        return dialogs;
    }

  private:
    static bool is_word(const Token& t, std::string_view word) {
        return t.type == Tok::Name && same_word(t.text, word);
    }

    static bool is_punct(const Token& t, char c) {
        return t.type == Tok::Punct && t.text.size() == 1 && t.text[0] == c;
    }

    static bool opens_block(const Token& t) { return is_word(t, "BEGIN") || is_punct(t, '{'); }
    static bool closes_block(const Token& t) { return is_word(t, "END") || is_punct(t, '}'); }

    static std::string describe(const Token& t) {
        switch (t.type) {
        case Tok::End:
            return "end of script";
        case Tok::String:
            return "a string";
        case Tok::Number:
            return "a number";
        default:
            return "'" + t.text + "'";
        }
    }

    bool accept(char c) {
        if (is_punct(tokens_.peek(), c)) {
            tokens_.take();
            return true;
        }
        return false;
    }

    void expect(char c) {
        const Token t = tokens_.take();
        if (!is_punct(t, c)) {
            fail(t.line, std::string("expected '") + c + "', found " + describe(t));
        }
    }

    std::string string() {
        const Token t = tokens_.take();
        if (t.type != Tok::String) {
            fail(t.line, "expected a string, found " + describe(t));
        }
        return t.text;
    }

    // Arithmetic is done in 32 bits, as the resource compiler does.
    uint32_t expression(int depth = 0) {
        uint32_t v = term(depth);
        while (accept('|')) {
            v |= term(depth);
        }
        return v;
    }

    uint32_t term(int depth) {
        uint32_t v = sum(depth);
        while (accept('&')) {
            v &= sum(depth);
        }
        return v;
    }

    uint32_t sum(int depth) {
        uint32_t v = product(depth);
        while (true) {
            if (accept('+')) {
                v += product(depth);
            } else if (accept('-')) {
                v -= product(depth);
            } else {
                return v;
            }
        }
    }

    uint32_t product(int depth) {
        uint32_t v = unary(depth);
        while (true) {
            const bool divide = is_punct(tokens_.peek(), '/');
            const bool modulo = is_punct(tokens_.peek(), '%');
            if (accept('*')) {
                v *= unary(depth);
            } else if (divide || modulo) {
                const int line = tokens_.take().line;
                const auto a = static_cast<int64_t>(static_cast<int32_t>(v));
                const auto b = static_cast<int64_t>(static_cast<int32_t>(unary(depth)));
                if (b == 0) {
                    fail(line, "division by zero");
                }
                v = static_cast<uint32_t>(divide ? a / b : a % b);
            } else {
                return v;
            }
        }
    }

    uint32_t unary(int depth) {
        if (depth > max_depth) {
            fail(tokens_.peek().line, "expression too deep");
        }
        if (accept('-')) {
            return 0u - unary(depth + 1);
        }
        if (accept('+')) {
            return unary(depth + 1);
        }
        if (is_word(tokens_.peek(), "NOT")) {
            tokens_.take();
            return ~unary(depth + 1);
        }
        if (accept('~')) {
            return ~unary(depth + 1);
        }
        const Token t = tokens_.take();
        if (t.type == Tok::Number) {
            return t.value;
        }
        if (t.type == Tok::Name) {
            const auto& known = constants();
            const auto it = known.find(t.text);
            if (it == known.end()) {
                fail(t.line, "unknown name '" + t.text + "'");
            }
            return it->second;
        }
        if (is_punct(t, '(')) {
            const uint32_t v = expression(depth + 1);
            expect(')');
            return v;
        }
        fail(t.line, "expected a number, found " + describe(t));
    }

    // A style list: terms joined by '|', where `NOT x` takes x's bits away from what the list
    // (starting from the implied styles) has so far.
    uint32_t styles(uint32_t implied) {
        uint32_t v = implied;
        do {
            if (is_word(tokens_.peek(), "NOT")) {
                tokens_.take();
                v &= ~unary(0);
            } else {
                v |= term(0);
            }
        } while (accept('|'));
        return v;
    }

    int language() {
        const uint32_t primary = expression();
        expect(',');
        const uint32_t sub = expression();
        return static_cast<int>(((sub & 0x3Fu) << 10) | (primary & 0x3FFu));
    }

    int integer() { return static_cast<int32_t>(expression()); }

    // Everything up to the next BEGIN ... END block, and the block with its nested blocks.
    void skip_to_block(const Token& start) {
        Token t = tokens_.take();
        while (!opens_block(t)) {
            if (t.type == Tok::End) {
                fail(start.line, "expected BEGIN");
            }
            t = tokens_.take();
        }
        for (int depth = 1; depth > 0;) {
            t = tokens_.take();
            if (t.type == Tok::End) {
                fail(start.line, "missing END");
            }
            depth += opens_block(t) ? 1 : closes_block(t) ? -1 : 0;
        }
    }

    // A resource that is not a dialog: either a file name (`102 ICON "x.ico"`) or a block.
    void skip_resource(const Token& type) {
        static const char* const options[] = {"PRELOAD",  "LOADONCALL",  "FIXED",
                                              "MOVEABLE", "DISCARDABLE", "PURE",
                                              "IMPURE",   "SHARED",      "NONSHARED"};
        while (std::any_of(std::begin(options), std::end(options),
                           [this](const char* o) { return is_word(tokens_.peek(), o); })) {
            tokens_.take();
        }
        if (tokens_.peek().type == Tok::String) {
            tokens_.take();
            return;
        }
        skip_to_block(type);
    }

    DialogTemplate dialog(const Token& name) {
        DialogTemplate d;
        d.name = name.type == Tok::Number ? std::to_string(name.value) : name.text;
        d.language = language_;
        d.x = integer();
        expect(',');
        d.y = integer();
        expect(',');
        d.cx = integer();
        expect(',');
        d.cy = integer();
        if (accept(',')) {
            expression(); // help id
        }

        bool has_style = false;
        bool has_caption = false;
        bool has_font = false;
        while (!opens_block(tokens_.peek())) {
            const Token t = tokens_.take();
            if (is_word(t, "STYLE")) {
                d.style = styles(0);
                has_style = true;
            } else if (is_word(t, "EXSTYLE")) {
                d.ex_style = styles(0);
            } else if (is_word(t, "CAPTION")) {
                d.caption = string();
                has_caption = true;
            } else if (is_word(t, "FONT")) {
                d.font_points = integer();
                expect(',');
                d.font_face = string();
                for (int extra = 0; extra < 3 && accept(','); ++extra) {
                    expression(); // weight, italic, character set
                }
                has_font = true;
            } else if (is_word(t, "LANGUAGE")) {
                d.language = language();
            } else if (is_word(t, "MENU") || is_word(t, "CLASS")) {
                const Token arg = tokens_.take();
                if (arg.type != Tok::Name && arg.type != Tok::Number && arg.type != Tok::String) {
                    fail(arg.line, "expected a name, found " + describe(arg));
                }
            } else if (is_word(t, "VERSION") || is_word(t, "CHARACTERISTICS")) {
                expression();
            } else if (t.type == Tok::End) {
                fail(name.line, "expected BEGIN in dialog " + d.name);
            } else {
                fail(t.line, "unexpected " + describe(t) + " in dialog " + d.name);
            }
        }
        tokens_.take();
        if (!has_style) {
            d.style = default_dialog_style;
        }
        d.style |= (has_caption ? WS_CAPTION : 0) | (has_font ? DS_SETFONT : 0);

        while (true) {
            const Token t = tokens_.take();
            if (closes_block(t)) {
                return d;
            }
            if (t.type == Tok::End) {
                fail(name.line, "missing END in dialog " + d.name);
            }
            const auto* statement =
                std::find_if(std::begin(control_statements), std::end(control_statements),
                             [&t](const ControlStatement& c) { return is_word(t, c.keyword); });
            if (statement == std::end(control_statements)) {
                fail(t.line, "unknown control statement " + describe(t));
            }
            d.controls.push_back(control(*statement));
        }
    }

    Control control(const ControlStatement& statement) {
        Control c{};
        c.kind = statement.kind;
        c.text = string();
        expect(',');
        c.id = integer();
        expect(',');
        c.x = integer();
        expect(',');
        c.y = integer();
        expect(',');
        c.cx = integer();
        expect(',');
        c.cy = integer();
        c.style = WS_CHILD | WS_VISIBLE | statement.implied;
        if (accept(',')) {
            c.style = styles(c.style);
            if (accept(',')) {
                c.ex_style = styles(0);
                if (accept(',')) {
                    expression(); // help id
                }
            }
        }
        if (opens_block(tokens_.peek())) {
            const Token start = tokens_.peek(); // a copy: skipping consumes the peeked token
            skip_to_block(start);               // creation data
        }
        return c;
    }

    Tokens tokens_;
    int language_ = default_language;
};

} // namespace

std::vector<DialogTemplate> parse_dialogs(std::string_view script, ParseError* error) {
    try {
        std::vector<DialogTemplate> dialogs = Parser(script).run();
        if (error != nullptr) {
            *error = ParseError{0, {}};
        }
        return dialogs;
    } catch (const Failure& f) {
        if (error != nullptr) {
            *error = ParseError{f.line, f.message};
        }
        return {};
    }
}

std::optional<DialogTemplate> find_dialog(std::string_view script, std::string_view name) {
    for (DialogTemplate& d : parse_dialogs(script)) {
        if (same_word(d.name, name)) {
            return std::move(d);
        }
    }
    return std::nullopt;
}

} // namespace platform::rc
