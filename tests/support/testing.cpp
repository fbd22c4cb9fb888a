// SPDX-License-Identifier: GPL-3.0-or-later
// Hooks for driving and inspecting the user interface from tests and tools.
#include "tests/support/testing.h"

#include "platform/host.h"
#include "platform/loop.h"
#include "platform/windows_internal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QWindow>

#include <map>

namespace platform::testing {
namespace {

// Message boxes and beeps, recorded; a box is answered with OK once its time is up, the loop
// running meanwhile as it does under a real box.
class Recorder final : public Notifier {
  public:
    int message_box(HWND owner, const char* text, const char* caption, UINT type) override {
        boxes.push_back(MessageBoxRecord{owner, text, caption, type});
        pump_for(dismiss_after_us);
        return IDOK;
    }
    void beep(UINT) override { ++beeps; }

    std::vector<MessageBoxRecord> boxes;
    int beeps = 0;
    int64_t dismiss_after_us = 0;
};
Recorder recorder;

// Paints and timer messages per window, counted from the start of the process.
class Counter final : public MessageObserver {
  public:
    void delivered(HWND hwnd, UINT msg) override {
        if (msg == WM_PAINT) {
            ++paints[hwnd];
        } else if (msg == WM_TIMER) {
            ++ticks[hwnd];
        }
    }
    std::map<HWND, int> paints;
    std::map<HWND, int> ticks;
};
Counter counter;
const bool counting = (set_message_observer(&counter), true);

win::Window* control(HWND dialog, int id) {
    const win::Window* d = win::find(dialog);
    if (!d) {
        return nullptr;
    }
    for (HWND child : d->children) {
        win::Window* c = win::find(child);
        if (c && c->kind == win::Kind::Control && c->id == id) {
            return c;
        }
    }
    return nullptr;
}

QWidget* widget(HWND hwnd) {
    const win::Window* w = win::find(hwnd);
    return w ? w->widget : nullptr;
}

// What the user sees, when there is a widget.
std::string shown_text(const win::Window& c) {
    if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
        return button->text().toStdString();
    }
    if (auto* label = qobject_cast<QLabel*>(c.widget)) {
        return label->text().toStdString();
    }
    if (auto* group = qobject_cast<QGroupBox*>(c.widget)) {
        return group->title().toStdString();
    }
    return c.text;
}

} // namespace

void on_dialog_ready(std::function<void(HWND dialog)> hook) {
    // Looks every millisecond of platform time, from inside whichever loop runs (a warning box
    // may open before the dialog is shown), until a dialog is on view; gives up after 10 s. A
    // later call, a null hook included, takes the place of a watch still looking.
    static uint64_t current_watch = 0;
    struct Watch {
        std::function<void(HWND)> hook;
        uint64_t id;
        int tries_left = 10'000;
        void look() {
            if (id != current_watch) {
                return;
            }
            for (HWND hwnd : win::all_windows()) {
                const win::Window* w = win::find(hwnd);
                if (w && w->kind == win::Kind::Dialog && w->visible && !w->dialog_ended) {
                    hook(hwnd);
                    return;
                }
            }
            if (--tries_left > 0) {
                schedule_at(now_us() + 1'000, [self = *this]() mutable { self.look(); });
            }
        }
    };
    if (hook) {
        schedule_at(now_us(),
                    [watch = Watch{std::move(hook), ++current_watch}]() mutable { watch.look(); });
    } else {
        ++current_watch;
    }
}

void click(HWND dialog, int control_id) {
    const win::Window* c = control(dialog, control_id);
    if (auto* button = c ? qobject_cast<QAbstractButton*>(c->widget) : nullptr) {
        button->click();
    }
}

void key_event(HWND dialog, int qt_key, int qt_modifiers, bool press, bool repeat) {
    QWidget* top = widget(dialog);
    if (!top) {
        return;
    }
    QWidget* target = top->focusWidget() ? top->focusWidget() : top;
    const QString text = qt_key == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QKeyEvent event(press ? QEvent::KeyPress : QEvent::KeyRelease, qt_key,
                    Qt::KeyboardModifiers(qt_modifiers), text, repeat);
    QApplication::sendEvent(target, &event);
}

void press_key(HWND dialog, int qt_key, int qt_modifiers) {
    key_event(dialog, qt_key, qt_modifiers, true);
    if (win::find(dialog)) {
        key_event(dialog, qt_key, qt_modifiers, false);
    }
}

void close_box(HWND dialog) {
    QWidget* top = widget(dialog);
    if (!top) {
        return;
    }
    if (QWindow* window = top->windowHandle()) {
        window->close(); // as the window system delivers the close box
    } else {
        QCloseEvent event;
        QApplication::sendEvent(top, &event);
    }
}

void move_pointer(HWND window, int x, int y) {
    const win::Window* w = win::find(window);
    if (!w || !w->widget) {
        return;
    }
    const QPointF at(x + w->client.left, y + w->client.top);
    QMouseEvent move(QEvent::MouseMove, at, w->widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w->widget, &move);
}

std::vector<ControlInfo> controls(HWND dialog) {
    std::vector<ControlInfo> out;
    const win::Window* d = win::find(dialog);
    if (!d) {
        return out;
    }
    for (HWND child : d->children) {
        const win::Window* c = win::find(child);
        if (c && c->kind == win::Kind::Control) {
            out.push_back(ControlInfo{c->id, c->class_name, shown_text(*c), c->rect, c->style});
        }
    }
    return out;
}

std::string control_text(HWND dialog, int control_id) {
    const win::Window* c = control(dialog, control_id);
    return c ? shown_text(*c) : std::string();
}

int focused_control(HWND dialog) {
    win::Window* d = win::find(dialog);
    const win::Window* f = d ? win::find(win::host::focused_control(*d)) : nullptr;
    return f ? f->id : 0;
}

std::string window_caption(HWND window) {
    const win::Window* w = win::find(window);
    if (!w) {
        return {};
    }
    return w->widget && w->widget->isWindow() ? w->widget->windowTitle().toStdString() : w->text;
}

int window_count() {
    return static_cast<int>(win::all_windows().size());
}

std::vector<HWND> child_windows(HWND parent) {
    std::vector<HWND> out;
    if (const win::Window* p = win::find(parent)) {
        for (HWND child : p->children) {
            const win::Window* c = win::find(child);
            if (c && c->kind == win::Kind::Plain) {
                out.push_back(child);
            }
        }
    }
    return out;
}

std::string class_name(HWND window) {
    const win::Window* w = win::find(window);
    return w ? w->class_name : std::string();
}

RECT window_rect(HWND window) {
    const win::Window* w = win::find(window);
    return w ? w->rect : RECT{0, 0, 0, 0};
}

bool is_window(HWND window) {
    return win::find(window) != nullptr;
}

const raster::Surface* window_pixels(HWND window) {
    const win::Window* w = win::find(window);
    return w && w->kind == win::Kind::Plain ? &w->surface : nullptr;
}

bool save_screenshot(HWND dialog, const std::string& path) {
    QWidget* top = widget(dialog);
    return top && top->grab().save(QString::fromStdString(path), "PNG");
}

void dismiss_message_boxes_after(int64_t us) {
    recorder.dismiss_after_us = us;
    set_notifier(us >= 0 ? &recorder : nullptr);
}
std::vector<MessageBoxRecord> message_boxes() {
    return recorder.boxes;
}
int beep_count() {
    return recorder.beeps;
}

void clear_records() {
    recorder.boxes.clear();
    recorder.beeps = 0;
}

void unregister_classes() {
    win::forget_classes();
}

int paint_count(HWND window) {
    auto it = counter.paints.find(window);
    return it == counter.paints.end() ? 0 : it->second;
}

int timer_count(HWND window) {
    auto it = counter.ticks.find(window);
    return it == counter.ticks.end() ? 0 : it->second;
}

} // namespace platform::testing
