// The host's real audio: the default input and output through Qt Multimedia, in push mode, on
// the user-interface thread.
#include "platform/wave_backend.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>

#include <vector>

namespace platform::wave {
namespace {

constexpr int64_t kPollUs = 10'000;

QAudioFormat stream_format() {
    QAudioFormat f;
    f.setSampleRate(kRate);
    f.setChannelCount(1);
    f.setSampleFormat(QAudioFormat::UInt8);
    return f;
}

bool broken(QAudio::State state, QAudio::Error error) {
    return state == QAudio::StoppedState && error != QAudio::NoError;
}

template <class T> void drop(std::unique_ptr<T>& object) {
    if (!object) {
        return;
    }
    QObject::disconnect(object.get(), nullptr, nullptr, nullptr);
    object->reset(); // drops what the host still holds
    object.reset();
}

class QtOutput final : public OutputStream {
  public:
    QtOutput(OutputFeed& feed, const QAudioDevice& device) : feed_(feed), device_(device) {}
    ~QtOutput() override {
        stop_polling();
        drop(sink_);
    }

    void queued() override {
        if (dead_) {
            return;
        }
        if (!sink_ && !open_sink()) {
            return;
        }
        if (!poll_) {
            pump();
        }
    }

    void reset() override {
        stop_polling();
        drop(sink_); // a new sink starts with the next write
    }

  private:
    bool open_sink() {
        sink_ = std::make_unique<QAudioSink>(device_, stream_format());
        QObject::connect(sink_.get(), &QAudioSink::stateChanged, sink_.get(),
                         [this](QAudio::State s) {
                             if (broken(s, sink_->error())) {
                                 fail();
                             }
                         });
        io_ = sink_->start();
        if (!io_ || sink_->error() == QAudio::OpenError) {
            fail();
            return false;
        }
        return true;
    }

    // PulseAudio pre-buffers: writing only when a whole block fits would never start playback.
    // Whatever room the sink has is filled at once.
    void pump() {
        poll_ = 0;
        if (dead_) {
            return;
        }
        qsizetype room = sink_->bytesFree();
        if (room > 0) {
            buffer_.resize(static_cast<size_t>(room));
            size_t got = feed_.pull(buffer_.data(), buffer_.size());
            if (got) {
                io_->write(reinterpret_cast<const char*>(buffer_.data()), qint64(got));
            }
            if (got < buffer_.size()) {
                return; // dry: the next write wakes us
            }
        }
        poll_ = schedule_at(now_us() + kPollUs, [this] { pump(); });
    }

    void stop_polling() {
        if (poll_) {
            cancel_task(poll_);
        }
        poll_ = 0;
    }

    void fail() {
        if (dead_) {
            return;
        }
        dead_ = true;
        stop_polling();
        feed_.failed();
    }

    OutputFeed& feed_;
    QAudioDevice device_;
    std::unique_ptr<QAudioSink> sink_;
    QIODevice* io_ = nullptr;
    std::vector<uint8_t> buffer_;
    TaskId poll_ = 0;
    bool dead_ = false;
};

class QtInput final : public InputStream {
  public:
    QtInput(InputFeed& feed, const QAudioDevice& device) : feed_(feed), device_(device) {}
    ~QtInput() override { drop(source_); }

    void start() override {
        if (dead_ || source_) {
            return;
        }
        source_ = std::make_unique<QAudioSource>(device_, stream_format());
        QObject::connect(source_.get(), &QAudioSource::stateChanged, source_.get(),
                         [this](QAudio::State s) {
                             if (broken(s, source_->error())) {
                                 fail();
                             }
                         });
        io_ = source_->start();
        if (!io_ || source_->error() == QAudio::OpenError) {
            fail();
            return;
        }
        // Delivered as soon as the host hands it over: no latency of our own.
        QObject::connect(io_, &QIODevice::readyRead, source_.get(), [this] { drain(); });
    }

    void stop() override { drop(source_); }

  private:
    void drain() {
        if (dead_) {
            return;
        }
        QByteArray bytes = io_->readAll();
        if (!bytes.isEmpty()) {
            feed_.deliver(reinterpret_cast<const uint8_t*>(bytes.constData()),
                          static_cast<size_t>(bytes.size()));
        }
    }

    void fail() {
        if (dead_) {
            return;
        }
        dead_ = true;
        feed_.failed();
    }

    InputFeed& feed_;
    QAudioDevice device_;
    std::unique_ptr<QAudioSource> source_;
    QIODevice* io_ = nullptr;
    bool dead_ = false;
};

class QtBackend final : public Backend {
  public:
    MMRESULT open_output(OutputFeed& feed, std::unique_ptr<OutputStream>& stream) override {
        QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return MMSYSERR_BADDEVICEID;
        }
        stream = std::make_unique<QtOutput>(feed, device);
        return MMSYSERR_NOERROR;
    }

    MMRESULT open_input(InputFeed& feed, std::unique_ptr<InputStream>& stream) override {
        QAudioDevice device = QMediaDevices::defaultAudioInput();
        if (device.isNull()) {
            return MMSYSERR_BADDEVICEID;
        }
        stream = std::make_unique<QtInput>(feed, device);
        return MMSYSERR_NOERROR;
    }
};

} // namespace

std::shared_ptr<Backend> make_qt_backend() {
    return std::make_shared<QtBackend>();
}

} // namespace platform::wave
