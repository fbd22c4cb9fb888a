// SPDX-License-Identifier: GPL-3.0-or-later
// repaint_floor: the least a Qt program can do to show what Tavrene's XY pane shows: a window
// with one 91 x 91 widget whose image is rewritten and repainted on a 10 ms timer, nothing else
// (no audio, no signal processing, no Win32 layer). Its CPU use on a display is the floor under
// the program's own figure. Runs until it is closed or killed.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdint>

namespace {

class Pane : public QWidget {
  public:
    Pane() : image_(91, 91, QImage::Format_RGB32) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFixedSize(91, 91);
    }
    void tick() {
        // A gray pane with a moving dot, rewritten whole as each repaint of the pane is.
        image_.fill(0xFF808080u);
        ++frame_;
        image_.setPixel(static_cast<int>(frame_ % 89) + 1, 45, 0xFFFFFF64u);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(QRect(0, 0, 91, 91), image_);
    }

  private:
    QImage image_;
    uint64_t frame_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle("repaint_floor");
    window.resize(370, 180);
    auto* pane = new Pane;
    pane->setParent(&window);
    pane->move(30, 39);
    window.show();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [pane] { pane->tick(); });
    timer.start(10);
    return app.exec();
}
