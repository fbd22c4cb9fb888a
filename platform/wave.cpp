// SPDX-License-Identifier: GPL-3.0-or-later
// waveIn*/waveOut*: handles, header queues, flags and notifications, over a backend that only
// moves bytes (wave_backend.h).
#include "platform/wave_backend.h"

#include "platform/trace.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <vector>

namespace platform::wave {
namespace {

std::shared_ptr<Backend>& selected_backend() {
    static std::shared_ptr<Backend> backend;
    return backend;
}

// A failing stream is inside its own callback when it reports; it is destroyed a moment later.
template <class Stream> void retire(std::unique_ptr<Stream> stream) {
    std::shared_ptr<Stream> last(std::move(stream));
    schedule_at(now_us(), [last] {});
}

void notify(HWND hwnd, UINT msg, void* handle, WAVEHDR* header) {
    if (hwnd) {
        PostMessageA(hwnd, msg, reinterpret_cast<WPARAM>(handle), reinterpret_cast<LPARAM>(header));
    }
}

void hand_back(WAVEHDR* h) {
    h->dwFlags = (h->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
}

struct Device {
    HWND hwnd = nullptr;
    void* handle = nullptr;
    std::deque<WAVEHDR*> queue;
};

struct OutDevice final : Device, OutputFeed {
    std::unique_ptr<OutputStream> stream;
    bool lost = false;     // the host went away: nothing more can be written
    size_t taking = 0;     // index in the queue of the first header not wholly taken
    size_t taken = 0;      // bytes of that header already taken
    uint64_t front_at = 0; // position of the queue's front header (bytes since start or reset)

    size_t pull(uint8_t* dst, size_t max) override {
        while (taking < queue.size()) {
            const WAVEHDR* h = queue[taking];
            const size_t n = std::min<size_t>(h->dwBufferLength - taken, max);
            if (n) {
                std::memcpy(dst, h->lpData + taken, n);
            }
            taken += n;
            if (taken == h->dwBufferLength) {
                ++taking;
                taken = 0;
            }
            if (n || !max) {
                return n;
            }
        }
        return 0;
    }

    void played(uint64_t bytes) override {
        while (taking > 0 && front_at + queue.front()->dwBufferLength <= bytes) {
            WAVEHDR* h = queue.front();
            front_at += h->dwBufferLength;
            queue.pop_front();
            --taking;
            hand_back(h);
            notify(hwnd, MM_WOM_DONE, handle, h);
        }
    }

    void return_all() {
        while (!queue.empty()) {
            WAVEHDR* h = queue.front();
            queue.pop_front();
            hand_back(h);
            notify(hwnd, MM_WOM_DONE, handle, h);
        }
        taking = 0;
        taken = 0;
        front_at = 0;
    }

    void failed() override {
        retire(std::move(stream));
        lost = true;
        return_all();
    }
};

struct InDevice final : Device, InputFeed {
    std::unique_ptr<InputStream> stream;
    int sample_bytes = 1; // 2 for 16-bit samples
    bool started = false;
    int64_t heard_at = 0; // when the host last delivered
    TaskId watchdog = 0;
    Pacer silence{[this](size_t n) { record_silence(n); }};

    ~InDevice() { stop_watching(); }

    void deliver(const uint8_t* src, size_t n) override {
        if (!started) {
            return;
        }
        heard_at = now_us();
        if (silence.running()) {
            silence.stop();
            watch();
        }
        fill(src, n);
    }

    void fill(const uint8_t* src, size_t n) {
        while (started && n && !queue.empty()) {
            WAVEHDR* h = queue.front();
            size_t k = std::min<size_t>(h->dwBufferLength - h->dwBytesRecorded, n);
            std::memcpy(h->lpData + h->dwBytesRecorded, src, k);
            h->dwBytesRecorded += static_cast<DWORD>(k);
            src += k;
            n -= k;
            if (h->dwBytesRecorded == h->dwBufferLength) {
                complete_front();
            }
        }
    }

    void record_silence(size_t samples) {
        const size_t n = samples * size_t(sample_bytes);
        silence_bytes.assign(n, sample_bytes == 1 ? silence_byte : 0);
        fill(silence_bytes.data(), n);
    }

    // Looks again when the input would have been quiet for the stall time.
    void watch() {
        if (watchdog) {
            cancel_task(watchdog);
        }
        watchdog = schedule_at(heard_at + input_stall_us, [this] {
            watchdog = 0;
            if (now_us() - heard_at >= input_stall_us) {
                silence.start(); // until the host delivers again
            } else {
                watch();
            }
        });
    }

    void start_watching() {
        heard_at = now_us();
        watch();
    }

    void stop_watching() {
        if (watchdog) {
            cancel_task(watchdog);
        }
        watchdog = 0;
        silence.stop();
    }

    void complete_front() {
        WAVEHDR* h = queue.front();
        queue.pop_front();
        hand_back(h);
        notify(hwnd, MM_WIM_DATA, handle, h);
    }

    void return_all() {
        while (!queue.empty()) {
            complete_front();
        }
    }

    void failed() override {
        retire(std::move(stream));
        return_all();
        if (started) {
            stop_watching();
            silence.start();
        }
    }

    std::vector<uint8_t> silence_bytes;
};

struct Registry {
    uintptr_t next_id = 0x7a0010;
    std::map<void*, std::unique_ptr<OutDevice>> outs;
    std::map<void*, std::unique_ptr<InDevice>> ins;
    bool shutdown_hooked = false;
};

Registry& registry() {
    static Registry r;
    return r;
}

void* new_handle() {
    return reinterpret_cast<void*>(registry().next_id += 0x10);
}

OutDevice* find(HWAVEOUT h) {
    auto& outs = registry().outs;
    auto it = outs.find(h);
    return it == outs.end() ? nullptr : it->second.get();
}

InDevice* find(HWAVEIN h) {
    auto& ins = registry().ins;
    auto it = ins.find(h);
    return it == ins.end() ? nullptr : it->second.get();
}

void hook_shutdown() {
    // Host streams must not outlive the toolkit they were made with.
    Registry& r = registry();
    if (r.shutdown_hooked || !QCoreApplication::instance()) {
        return;
    }
    qAddPostRoutine(close_all);
    r.shutdown_hooked = true;
}

// The one stream format, and for capture its 16-bit form as well: a receiver's AGC leaves speech
// at any level, and 8 bits resolve too little of a quiet voice.
bool supported(const WAVEFORMATEX* f, bool input) {
    const WORD bytes = f->wBitsPerSample / 8;
    return f->wFormatTag == WAVE_FORMAT_PCM && f->nChannels == 1 &&
           (f->wBitsPerSample == 8 || (input && f->wBitsPerSample == 16)) &&
           f->nSamplesPerSec == sample_rate && f->nAvgBytesPerSec == sample_rate * bytes &&
           f->nBlockAlign == bytes;
}

MMRESULT check_open(const void* handle_out, UINT device, const WAVEFORMATEX* format, DWORD flags,
                    bool input) {
    if (!handle_out || !format) {
        return MMSYSERR_INVALPARAM;
    }
    if (flags != CALLBACK_WINDOW && flags != CALLBACK_NULL) {
        return MMSYSERR_INVALFLAG;
    }
    if (device != WAVE_MAPPER && device != 0) {
        return MMSYSERR_BADDEVICEID;
    }
    if (!supported(format, input)) {
        return WAVERR_BADFORMAT;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT check_header(const WAVEHDR* h, UINT size) {
    if (!h || size < sizeof(WAVEHDR)) {
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

// Preparing and unpreparing only mark the header, for either family. As in winmm, a header that
// is already as asked is left alone (unpreparing looks at it before the handle); unpreparing
// refuses a header that is in a device's queue.
MMRESULT mark_prepared(const Device* dev, WAVEHDR* h, UINT size, bool prepared) {
    if (!prepared && !check_header(h, size) && !(h->dwFlags & WHDR_PREPARED)) {
        return MMSYSERR_NOERROR;
    }
    if (!dev) {
        return MMSYSERR_INVALHANDLE;
    }
    if (MMRESULT r = check_header(h, size)) {
        return r;
    }
    if (prepared && (h->dwFlags & WHDR_PREPARED)) {
        return MMSYSERR_NOERROR;
    }
    if (h->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    h->dwFlags =
        prepared ? (h->dwFlags | WHDR_PREPARED) : (h->dwFlags & ~static_cast<DWORD>(WHDR_PREPARED));
    return MMSYSERR_NOERROR;
}

MMRESULT check_queueable(const WAVEHDR* h, UINT size) {
    if (MMRESULT r = check_header(h, size)) {
        return r;
    }
    if (!(h->dwFlags & WHDR_PREPARED)) {
        return WAVERR_UNPREPARED;
    }
    if (h->dwFlags & WHDR_INQUEUE) {
        return WAVERR_STILLPLAYING;
    }
    if (!h->lpData && h->dwBufferLength) {
        return MMSYSERR_INVALPARAM;
    }
    return MMSYSERR_NOERROR;
}

HWND callback_window(DWORD_PTR callback, DWORD flags) {
    return flags == CALLBACK_WINDOW ? reinterpret_cast<HWND>(callback) : nullptr;
}

// The rest of an open, once the backend has made the stream: a handle, the registry entry and
// the open report.
template <typename Dev>
void* add_device(std::unique_ptr<Dev> dev, std::map<void*, std::unique_ptr<Dev>>& devices,
                 DWORD_PTR callback, DWORD flags, UINT opened) {
    hook_shutdown();
    dev->hwnd = callback_window(callback, flags);
    dev->handle = new_handle();
    void* handle = dev->handle;
    notify(dev->hwnd, opened, handle, nullptr);
    devices[handle] = std::move(dev);
    return handle;
}

// Closing is refused while a header is queued; otherwise the stream goes and the report follows.
template <typename Dev>
MMRESULT close_device(Dev* dev, std::map<void*, std::unique_ptr<Dev>>& devices, UINT closed) {
    if (!dev) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!dev->queue.empty()) {
        return WAVERR_STILLPLAYING;
    }
    auto node = devices.extract(dev->handle);
    node.mapped()->stream.reset();
    notify(node.mapped()->hwnd, closed, node.key(), nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT enqueue(Device* dev, WAVEHDR* header, UINT size) {
    if (!dev) {
        return MMSYSERR_INVALHANDLE;
    }
    if (MMRESULT r = check_queueable(header, size)) {
        return r;
    }
    header->dwFlags = (header->dwFlags | WHDR_INQUEUE) & ~static_cast<DWORD>(WHDR_DONE);
    header->lpNext = nullptr;
    dev->queue.push_back(header);
    return MMSYSERR_NOERROR;
}

// What each refusal means in this layer, for the trace.
const char* refusal_reason(MMRESULT r) {
    switch (r) {
    case MMSYSERR_INVALPARAM:
        return "MMSYSERR_INVALPARAM: a null pointer, or a header size under sizeof(WAVEHDR)";
    case MMSYSERR_INVALFLAG:
        return "MMSYSERR_INVALFLAG: only CALLBACK_WINDOW and CALLBACK_NULL are supported";
    case MMSYSERR_BADDEVICEID:
        return "MMSYSERR_BADDEVICEID: only WAVE_MAPPER or device 0, and a sound server with one";
    case WAVERR_BADFORMAT:
        return "WAVERR_BADFORMAT: only PCM, mono, 8-bit, 11025 samples per second";
    case MMSYSERR_INVALHANDLE:
        return "MMSYSERR_INVALHANDLE: not an open device";
    case WAVERR_STILLPLAYING:
        return "WAVERR_STILLPLAYING: a header is in the device's queue";
    case WAVERR_UNPREPARED:
        return "WAVERR_UNPREPARED: the header is not prepared";
    case MMSYSERR_NODRIVER:
        return "MMSYSERR_NODRIVER: the sound server is gone";
    case MMSYSERR_ALLOCATED:
        return "MMSYSERR_ALLOCATED: the sound server refused the stream";
    default:
        return "refused";
    }
}

template <typename... Args> MMRESULT traced(MMRESULT r, const char* call, const Args&... args) {
    if (r != MMSYSERR_NOERROR) {
        trace::refused(call, refusal_reason(r), args...);
    }
    return r;
}

} // namespace

void set_backend(std::shared_ptr<Backend> backend) {
    selected_backend() = std::move(backend);
}

std::shared_ptr<Backend> current_backend() {
    auto& b = selected_backend();
    if (!b) {
        b = make_pulse_backend();
    }
    return b;
}

void close_all() {
    Registry& r = registry();
    // Streams may call back into their device while being destroyed; take them out first.
    auto outs = std::move(r.outs);
    auto ins = std::move(r.ins);
    r.outs.clear();
    r.ins.clear();
    for (auto& [h, d] : outs) {
        d->stream.reset();
    }
    for (auto& [h, d] : ins) {
        d->stream.reset();
    }
    r.shutdown_hooked = false;
}

int open_device_count() {
    return static_cast<int>(registry().outs.size() + registry().ins.size());
}

Pacer::Pacer(std::function<void(size_t)> on_bytes, int64_t period_us)
    : on_bytes_(std::move(on_bytes)), period_us_(period_us) {}

Pacer::~Pacer() {
    stop();
}

void Pacer::start() {
    stop();
    running_ = true;
    start_us_ = now_us();
    done_ = 0;
    arm();
}

void Pacer::stop() {
    if (task_) {
        cancel_task(task_);
    }
    task_ = 0;
    running_ = false;
}

void Pacer::arm() {
    task_ = schedule_at(now_us() + period_us_, [this] {
        task_ = 0;
        tick();
    });
}

void Pacer::tick() {
    auto due = static_cast<uint64_t>((now_us() - start_us_) * sample_rate / 1'000'000);
    size_t n = due - done_;
    done_ = due;
    arm(); // before the callback, which may stop the pacer
    if (n) {
        on_bytes_(n);
    }
}

} // namespace platform::wave

using namespace platform::wave;

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT handle, UINT device, LPCWAVEFORMATEX format,
                            DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    if (MMRESULT r = check_open(handle, device, format, flags, false)) {
        return traced(r, __func__, handle, device, format, callback, flags);
    }
    auto dev = std::make_unique<OutDevice>();
    if (MMRESULT r = current_backend()->open_output(*dev, dev->stream)) {
        return traced(r, __func__, handle, device, format, callback, flags);
    }
    *handle = static_cast<HWAVEOUT>(
        add_device(std::move(dev), registry().outs, callback, flags, MM_WOM_OPEN));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return traced(mark_prepared(find(handle), header, size, true), __func__, handle, header, size);
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    return traced(mark_prepared(find(handle), header, size, false), __func__, handle, header, size);
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT handle, LPWAVEHDR header, UINT size) {
    OutDevice* dev = find(handle);
    if (dev && dev->lost) {
        return traced(MMSYSERR_NODRIVER, __func__, handle, header, size);
    }
    if (MMRESULT r = enqueue(dev, header, size)) {
        return traced(r, __func__, handle, header, size);
    }
    dev->stream->queued();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT handle) {
    OutDevice* dev = find(handle);
    if (!dev) {
        return traced(MMSYSERR_INVALHANDLE, __func__, handle);
    }
    if (dev->stream) {
        dev->stream->reset();
    }
    dev->return_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT handle) {
    return traced(close_device(find(handle), registry().outs, MM_WOM_CLOSE), __func__, handle);
}

MMRESULT WINAPI waveInOpen(LPHWAVEIN handle, UINT device, LPCWAVEFORMATEX format,
                           DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    if (MMRESULT r = check_open(handle, device, format, flags, true)) {
        return traced(r, __func__, handle, device, format, callback, flags);
    }
    auto dev = std::make_unique<InDevice>();
    dev->sample_bytes = format->nBlockAlign;
    if (MMRESULT r = current_backend()->open_input(*dev, dev->stream, format->wBitsPerSample)) {
        return traced(r, __func__, handle, device, format, callback, flags);
    }
    *handle = static_cast<HWAVEIN>(
        add_device(std::move(dev), registry().ins, callback, flags, MM_WIM_OPEN));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInPrepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return traced(mark_prepared(find(handle), header, size, true), __func__, handle, header, size);
}

MMRESULT WINAPI waveInUnprepareHeader(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    return traced(mark_prepared(find(handle), header, size, false), __func__, handle, header, size);
}

MMRESULT WINAPI waveInAddBuffer(HWAVEIN handle, LPWAVEHDR header, UINT size) {
    // winmm looks at the header before the handle here (waveOutWrite does it the other way).
    if (MMRESULT r = check_queueable(header, size)) {
        return traced(r, __func__, handle, header, size);
    }
    if (MMRESULT r = enqueue(find(handle), header, size)) {
        return traced(r, __func__, handle, header, size);
    }
    header->dwBytesRecorded = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInStart(HWAVEIN handle) {
    InDevice* dev = find(handle);
    if (!dev) {
        return traced(MMSYSERR_INVALHANDLE, __func__, handle);
    }
    if (!dev->started) {
        dev->started = true;
        if (dev->stream) {
            dev->start_watching();
            dev->stream->start();
        } else {
            dev->silence.start();
        }
    }
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInReset(HWAVEIN handle) {
    InDevice* dev = find(handle);
    if (!dev) {
        return traced(MMSYSERR_INVALHANDLE, __func__, handle);
    }
    dev->started = false;
    dev->stop_watching();
    if (dev->stream) {
        dev->stream->stop();
    }
    dev->return_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveInClose(HWAVEIN handle) {
    return traced(close_device(find(handle), registry().ins, MM_WIM_CLOSE), __func__, handle);
}
