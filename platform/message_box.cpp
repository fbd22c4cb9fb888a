// SPDX-License-Identifier: GPL-3.0-or-later
// MessageBoxA and MessageBeep. The box runs this layer's loop while it is open, so posted
// messages, device reports and timers keep being dispatched.
#include "platform/host.h"
#include "platform/loop.h"
#include "platform/trace.h"
#include "platform/windows_internal.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <cstdio>

namespace {
platform::Notifier* notifier = nullptr;
}

void platform::set_notifier(Notifier* n) {
    notifier = n;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    using namespace platform;
    const char* body = text ? text : "";
    const char* title = caption ? caption : "Error";
    if (notifier) {
        return notifier->message_box(owner, body, title, type);
    }
    if (!have_display()) {
        std::fprintf(stderr, "%s: %s\n", title, body);
        return IDOK;
    }
    const UINT icon_type = type & 0xF0;
    const QMessageBox::Icon icon = icon_type == MB_ICONHAND          ? QMessageBox::Critical
                                   : icon_type == MB_ICONEXCLAMATION ? QMessageBox::Warning
                                                                     : QMessageBox::NoIcon;
    const win::Window* o = win::find(owner);
    QWidget* parent = o ? o->widget : nullptr;
    QPointer<QMessageBox> box = new QMessageBox(icon, QString::fromUtf8(title),
                                                QString::fromUtf8(body), QMessageBox::Ok, parent);
    box->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
    bool done = false;
    QObject::connect(box, &QMessageBox::finished, [&done] { done = true; });
    QObject::connect(box, &QObject::destroyed, [&done] { done = true; });
    box->show();
    while (!done) {
        pump_once(true);
    }
    delete box; // null when something else deleted it; its `destroyed` only sets `done` again
    return IDOK;
}

BOOL WINAPI MessageBeep(UINT type) {
    if (notifier) {
        notifier->beep(type);
    } else if (platform::have_display()) {
        QApplication::beep();
    } else {
        platform::trace::refused(__func__, "no display: ignored", type);
    }
    return TRUE;
}
