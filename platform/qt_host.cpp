// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt host: start-up (host_main) and the widgets that present windows: dialogs, their
// native controls, and panes that show the raster surface the application drew.
#include "platform/host.h"
#include "platform/wave_backend.h"
#include "platform/windows_internal.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextOption>
#include <QThread>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform::win::host {
namespace {

// A window the application draws: shows its surface, frame included. Pixels are scaled by the
// device pixel ratio without smoothing (QPainter's default).
class PaneWidget : public QWidget {
  public:
    PaneWidget(HWND hwnd, QWidget* parent) : QWidget(parent), hwnd_(hwnd) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setMouseTracking(true);
    }
    // Most repaints of a live pane draw what is already on screen (the capture block changes
    // about twenty times a second, the repaint timer runs at a hundred): only a changed image
    // is sent on to the display.
    void take(const raster::Surface& s) {
        if (image_.width() == s.width && image_.height() == s.height && shown_ == s.pixels) {
            return;
        }
        shown_ = s.pixels;
        if (image_.width() != s.width || image_.height() != s.height) {
            image_ = QImage(s.width, s.height, QImage::Format_RGB32);
        }
        for (int y = 0; y < s.height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(image_.scanLine(y));
            for (int x = 0; x < s.width; ++x) {
                row[x] = 0xFF000000u | s.at(x, y);
            }
        }
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).drawImage(0, 0, image_); // nothing before the first surface comes
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        // The widget lives no longer than its window's record (free_window deletes it first).
        const Window* w = ::platform::win::find(hwnd_);
        const POINT client{static_cast<LONG>(e->position().x()) - w->client.left,
                           static_cast<LONG>(e->position().y()) - w->client.top};
        const POINT screen{static_cast<LONG>(e->globalPosition().x()),
                           static_cast<LONG>(e->globalPosition().y())};
        pointer_moved(hwnd_, client, screen);
    }

  private:
    HWND hwnd_;
    QImage image_;
    std::vector<uint32_t> shown_; // the surface as last sent to the display
};

// Qt's keys and the virtual keys Windows gives them, for the keys a dialog takes (Qt's Backtab
// is Shift+Tab).
constexpr std::pair<int, UINT> virtual_keys[] = {
    {Qt::Key_Tab, VK_TAB},      {Qt::Key_Backtab, VK_TAB},   {Qt::Key_Return, VK_RETURN},
    {Qt::Key_Enter, VK_RETURN}, {Qt::Key_Escape, VK_ESCAPE}, {Qt::Key_Space, VK_SPACE},
    {Qt::Key_F4, VK_F4},
};

// The virtual key of a Qt key the dialog takes, 0 for one it does not: those above, and the
// letters (mnemonics), whose virtual keys are their upper-case codes as Qt's are.
UINT virtual_key(int qt_key) {
    const auto* found = std::ranges::find(virtual_keys, qt_key, &std::pair<int, UINT>::first);
    if (found != std::end(virtual_keys)) {
        return found->second;
    }
    return qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z ? static_cast<UINT>(qt_key) : 0;
}

// The dialog manager takes mnemonics; Qt's own shortcut for a '&' in a button's text would
// click the button a second way.
void no_qt_shortcut(QAbstractButton* button) {
    button->setShortcut(QKeySequence());
}

// The top-level window of a dialog. It never closes by itself: close requests go to the dialog
// manager. So do keys: every key that reaches the dialog or one of its controls (it filters the
// events of both) becomes the keyboard message Windows would post; the widgets never see keys
// themselves, so focus moves, default buttons and clicks by key are all the dialog manager's.
class DialogWidget : public QWidget {
  public:
    explicit DialogWidget(HWND hwnd) : QWidget(nullptr), hwnd_(hwnd) {
        setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                       Qt::WindowCloseButtonHint);
        installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const bool press = event->type() == QEvent::KeyPress;
        if (!press && event->type() != QEvent::KeyRelease) {
            return QWidget::eventFilter(watched, event);
        }
        const auto* e = static_cast<QKeyEvent*>(event);
        const UINT key = virtual_key(e->key());
        // The window system repeats a held key as release and press; Windows only repeats the
        // key going down.
        if (key == 0 || (!press && e->isAutoRepeat())) {
            return true;
        }
        const bool alt = (e->modifiers() & Qt::AltModifier) != 0;
        // lParam: a repeat count of one, Alt held (bit 29), the key down before (bit 30) and
        // the key going up (bit 31).
        const LPARAM flags = 1 | (LPARAM{alt} << 29) | (LPARAM{!press || e->isAutoRepeat()} << 30) |
                             (LPARAM{!press} << 31);
        const UINT msg =
            alt ? (press ? WM_SYSKEYDOWN : WM_SYSKEYUP) : (press ? WM_KEYDOWN : WM_KEYUP);
        dialog::key_message(hwnd_, msg, key, flags, (e->modifiers() & Qt::ShiftModifier) != 0);
        return true;
    }
    void closeEvent(QCloseEvent* e) override {
        e->ignore();
        SendMessageA(hwnd_, WM_SYSCOMMAND, SC_CLOSE, 0); // as the caption's close box does
    }

  private:
    HWND hwnd_;
};

// A push button whose text wraps (BS_MULTILINE), breaking inside a word when it must.
class MultilineButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void paintEvent(QPaintEvent*) override {
        QStylePainter p(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        option.text.clear();
        p.drawControl(QStyle::CE_PushButton, option);
        QTextOption layout(Qt::AlignCenter);
        layout.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        p.setPen(palette().color(QPalette::ButtonText));
        p.drawText(QRectF(rect().adjusted(2, 2, -2, -2)), text(), layout);
    }
};

} // namespace

void create_widget(Window& w) {
    if (!have_display()) {
        return;
    }
    // With a display every window has a widget; CreateWindowExA refuses a parent that is gone.
    QWidget* parent = w.parent ? find(w.parent)->widget : nullptr;
    auto* pane = new PaneWidget(w.handle, parent);
    pane->setGeometry(w.rect.left, w.rect.top, w.rect.right - w.rect.left,
                      w.rect.bottom - w.rect.top);
    if (!parent) {
        pane->setWindowTitle(QString::fromStdString(w.text));
        pane->setFixedSize(pane->size());
    }
    w.widget = pane;
    if (w.visible) {
        pane->show();
        if (parent) {
            pane->raise(); // the newest sibling is on top
        }
    }
}

void destroy_widget(Window& w) {
    delete w.widget;
    w.widget = nullptr;
}

void present(Window& w) {
    if (w.widget) {
        static_cast<PaneWidget*>(w.widget)->take(w.surface);
    }
}

void create_dialog_widget(Window& dialog, const std::string& font_face, int font_pixels) {
    auto* widget = new DialogWidget(dialog.handle);
    QFont font;
    font.setFamilies({QString::fromStdString(font_face), QStringLiteral("IPAGothic"),
                      QStringLiteral("IPA Gothic")});
    font.setPixelSize(font_pixels);
    font.setStyleStrategy(QFont::PreferMatch);
    widget->setFont(font);
    widget->setWindowTitle(QString::fromStdString(dialog.text));
    widget->setFixedSize(dialog.rect.right - dialog.rect.left,
                         dialog.rect.bottom - dialog.rect.top);
    dialog.widget = widget;
}

void create_control_widget(Window& control, Window& dialog) {
    const QString text = QString::fromStdString(control.text);
    QWidget* widget = nullptr;
    if (control.class_name == "Button" && (control.style & 0xF) == BS_GROUPBOX) {
        widget = new QGroupBox(text, dialog.widget);
        // As on Windows, a group box is only a frame: clicks go through to what it encloses.
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
    } else if (control.class_name == "Button" &&
               ((control.style & 0xF) == BS_CHECKBOX || (control.style & 0xF) == BS_AUTOCHECKBOX)) {
        auto* box = new QCheckBox(text, dialog.widget);
        const HWND hwnd = control.handle;
        // Qt turns the box over on a click; dialog::clicked turns the window's state over with it
        // (or, for a box that is not automatic, show_check turns it back).
        QObject::connect(box, &QCheckBox::clicked, [hwnd] {
            dialog::clicked(hwnd);
            if (Window* w = find(hwnd)) {
                show_check(*w);
            }
        });
        no_qt_shortcut(box);
        widget = box;
    } else if (control.class_name == "Button") {
        QPushButton* button = (control.style & BS_MULTILINE)
                                  ? new MultilineButton(text, dialog.widget)
                                  : new QPushButton(text, dialog.widget);
        button->setDefault((control.style & 0xF) == BS_DEFPUSHBUTTON);
        const HWND hwnd = control.handle;
        QObject::connect(button, &QPushButton::clicked, [hwnd] { dialog::clicked(hwnd); });
        no_qt_shortcut(button);
        widget = button;
    } else {
        auto* label = new QLabel(text, dialog.widget);
        Qt::Alignment align = Qt::AlignLeft;
        if ((control.style & 0xF) == SS_CENTER) {
            align = Qt::AlignHCenter;
        } else if ((control.style & 0xF) == SS_RIGHT) {
            align = Qt::AlignRight;
        }
        const bool centre_vertically = (control.style & SS_CENTERIMAGE) != 0;
        label->setAlignment(align | (centre_vertically ? Qt::AlignVCenter : Qt::AlignTop));
        label->setWordWrap(!centre_vertically);
        widget = label;
    }
    widget->setFocusPolicy((control.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::NoFocus);
    widget->installEventFilter(dialog.widget);
    widget->setGeometry(control.rect.left, control.rect.top, control.rect.right - control.rect.left,
                        control.rect.bottom - control.rect.top);
    widget->setVisible(control.visible);
    control.widget = widget;
}

void show_dialog(Window& dialog, bool center_on_pointer) {
    QWidget* widget = dialog.widget;
    QPoint at(dialog.rect.left, dialog.rect.top);
    if (center_on_pointer) {
        const QPoint pointer = QCursor::pos();
        QScreen* screen = QGuiApplication::screenAt(pointer);
        if (!screen) {
            screen = QGuiApplication::primaryScreen();
        }
        at = pointer - QPoint(widget->width() / 2, widget->height() / 2);
        if (screen) {
            const QRect area = screen->availableGeometry();
            at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - widget->width())));
            at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - widget->height())));
        }
    }
    widget->move(at);
    widget->show();
    if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
        widget->raise(); // the offscreen platform has no stacking and says so
    }
    widget->activateWindow();
}

void hide(Window& dialog) {
    dialog.widget->hide();
}

void set_text(Window& control) {
    const QString text = QString::fromStdString(control.text);
    if (auto* button = qobject_cast<QAbstractButton*>(control.widget)) {
        button->setText(text);
        no_qt_shortcut(button);
    } else if (auto* label = qobject_cast<QLabel*>(control.widget)) {
        label->setText(text);
    } else {
        static_cast<QGroupBox*>(control.widget)->setTitle(text);
    }
}

void focus(Window& control) {
    control.widget->setFocus(Qt::TabFocusReason);
}

void show_default(Window& button) {
    static_cast<QPushButton*>(button.widget)->setDefault((button.style & 0xF) == BS_DEFPUSHBUTTON);
}

void show_check(Window& check_box) {
    static_cast<QCheckBox*>(check_box.widget)->setChecked(check_box.checked == BST_CHECKED);
}

HWND focused_control(Window& dialog) {
    if (!dialog.widget) {
        return nullptr;
    }
    QWidget* focused = dialog.widget->focusWidget();
    for (HWND child : dialog.children) {
        if (focused && find(child)->widget == focused) { // children are all live windows
            return child;
        }
    }
    return nullptr;
}

} // namespace platform::win::host

namespace platform {
namespace {

// A function of libxcb, looked up at run time: Qt's X platform plugin loads the library anyway,
// the program does not link it. Null when it is not there.
template <class F> F* xcb_function(const char* name) {
    static void* xcb = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_LOCAL);
    return xcb ? reinterpret_cast<F*>(dlsym(xcb, name)) : nullptr;
}

int connection_error(xcb_connection_t* c) {
    static auto* has_error = xcb_function<int(xcb_connection_t*)>("xcb_connection_has_error");
    return has_error ? has_error(c) : 0;
}

// True when an X server accepts a connection on $DISPLAY, authorisation included.
bool x_server_answers() {
    auto* connect = xcb_function<xcb_connection_t*(const char*, int*)>("xcb_connect");
    auto* disconnect = xcb_function<void(xcb_connection_t*)>("xcb_disconnect");
    if (!connect || !disconnect) {
        return false;
    }
    xcb_connection_t* c = connect(nullptr, nullptr);
    const bool ok = c && connection_error(c) == 0;
    if (c) {
        disconnect(c);
    }
    return ok;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Whether QApplication can start without aborting inside Qt.
bool display_available() {
    const std::string platform = environment("QT_QPA_PLATFORM");
    if (!platform.empty() && platform.rfind("xcb", 0) != 0) {
        return true;
    }
    if (platform.empty() && !environment("WAYLAND_DISPLAY").empty()) {
        return true;
    }
    return !environment("DISPLAY").empty() && x_server_answers();
}

char instance_marker;

std::string program_name = "tavrene";
QtMessageHandler qt_message_handler = nullptr;
std::atomic<bool> leaving{false};

// The connection to the X server has failed: the server went away or cut us off.
bool display_connection_lost() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 && x11->connection() && connection_error(x11->connection()) != 0;
}

// Qt's X plugin reports a lost display with a warning and then calls exit() from inside its event
// dispatch; the static destructors that exit() runs would then tear down audio streams under a
// toolkit that is half gone. The warning is the last moment the toolkit is whole: close the audio
// devices there, say so in one line and end without running any destructor.
void on_qt_message(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const bool serious = type != QtDebugMsg && type != QtInfoMsg;
    if (serious && (leaving || display_connection_lost())) {
        if (QThread::currentThread() == QCoreApplication::instance()->thread() &&
            !leaving.exchange(true)) {
            wave::close_all();
            std::fprintf(stderr, "%s: lost the connection to the display\n", program_name.c_str());
            std::_Exit(1);
        }
        return; // the user-interface thread says it, once
    }
    if (qt_message_handler) {
        qt_message_handler(type, context, text);
    }
}

} // namespace

HINSTANCE host_instance() {
    return reinterpret_cast<HINSTANCE>(&instance_marker);
}

bool have_display() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

int host_main(int argc, char** argv, WinMainEntry entry) {
    static int arg_count = argc; // Qt keeps a reference for the application's lifetime
    if (argc > 0 && argv[0] && *argv[0]) {
        program_name = argv[0];
        program_name = program_name.substr(program_name.find_last_of('/') + 1);
    }
    std::unique_ptr<QCoreApplication> app;
    if (display_available()) {
        app = std::make_unique<QApplication>(arg_count, argv);
        qt_message_handler = qInstallMessageHandler(on_qt_message);
    } else {
        std::fprintf(stderr, "%s: cannot open a display\n", program_name.c_str());
        app = std::make_unique<QCoreApplication>(arg_count, argv);
    }
    char command_line[] = "";
    const int code = entry(host_instance(), nullptr, command_line, SW_SHOWNORMAL);
    // Windows the program left behind end with it, as on Windows.
    for (HWND hwnd : win::all_windows()) {
        const win::Window* w = win::find(hwnd);
        if (w && !w->parent) {
            DestroyWindow(hwnd);
        }
    }
    return code;
}

} // namespace platform
