// SPDX-License-Identifier: GPL-3.0-or-later
#include "rig/link.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace rig {

namespace {

using Clock = std::chrono::steady_clock;

#if defined(_WIN32)
using Socket = SOCKET;
constexpr int no_signal_flag = 0;
bool connect_in_progress() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
void close_socket(Socket s) {
    closesocket(s);
}
bool set_non_blocking(Socket s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}
// Winsock is started once for the process and left to the process's end.
bool start_sockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}
#else
using Socket = int;
constexpr int no_signal_flag = MSG_NOSIGNAL; // a closed peer is an error, not SIGPIPE
bool connect_in_progress() {
    return errno == EINPROGRESS;
}
void close_socket(Socket s) {
    ::close(s);
}
bool set_non_blocking(Socket s) {
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
bool start_sockets() {
    return true;
}
#endif

Socket as_socket(intptr_t s) {
    return static_cast<Socket>(s);
}

} // namespace

Link::Link(std::string host, int port, std::function<void()> notify)
    : host_(std::move(host)), port_(port), notify_(std::move(notify)) {
    thread_ = std::thread([this] { run(); });
}

struct Link::Lookup {
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    int error = 0;
    addrinfo* found = nullptr;
    ~Lookup() {
        if (found != nullptr) {
            freeaddrinfo(found);
        }
    }
};

Link::~Link() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    // Every wait of the link's thread looks at stopping_ each stop_check_ms; a name lookup
    // under way is left to end by itself on its own thread.
    thread_.join();
    if (socket_ != -1) {
        close_socket(as_socket(socket_));
    }
}

void Link::poll() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        poll_wanted_ = true;
    }
    wake_.notify_all();
}

void Link::correct(const Reading& reading, double step_hz, bool vfo) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        correction_wanted_ = true;
        asked_ = Asked{reading, step_hz, vfo};
    }
    wake_.notify_all();
}

Report Link::report() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return report_;
}

void Link::run() {
    for (;;) {
        bool correction = false;
        Asked asked;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || poll_wanted_ || correction_wanted_; });
            if (stopping_) {
                return;
            }
            correction = correction_wanted_;
            correction_wanted_ = false;
            if (!correction) {
                poll_wanted_ = false;
            }
            asked = asked_;
        }
        if (correction) {
            do_correction(asked);
        } else {
            do_poll();
        }
    }
}

// Waits until `s` can be read (or written), false on `deadline` or when the link ends.
bool Link::wait_for(intptr_t socket, bool for_writing, Clock::time_point deadline) {
    const Socket s = as_socket(socket);
    for (;;) {
        if (stopping_) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const long slice = std::min<long>(static_cast<long>(left.count()), stop_check_ms * 1000L);
        fd_set set, failed;
        FD_ZERO(&set);
        FD_SET(s, &set);
        // Winsock reports a connection refused in the exception set, not as writable.
        FD_ZERO(&failed);
        FD_SET(s, &failed);
        timeval tv{};
        tv.tv_sec = slice / 1'000'000;
        tv.tv_usec = slice % 1'000'000;
        const int n = select(static_cast<int>(s) + 1, for_writing ? nullptr : &set,
                             for_writing ? &set : nullptr, for_writing ? &failed : nullptr, &tv);
        if (n != 0) {
            return n > 0;
        }
    }
}

// The host's addresses into `found` (the caller frees them), or why not (`found` then null). The
// lookup runs on a thread of its own, which may outlive the link: one that is still under way at
// `deadline` is waited for again by the next exchange rather than started afresh.
std::string Link::resolve(addrinfo*& found, Clock::time_point deadline) {
    if (!lookup_) {
        lookup_ = std::make_shared<Lookup>();
        std::thread([lookup = lookup_, host = host_, port = std::to_string(port_)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* result = nullptr;
            const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->error = error;
            lookup->found = result;
            lookup->done = true;
            lookup->ended.notify_all();
        }).detach();
    }
    std::unique_lock<std::mutex> lock(lookup_->mutex);
    while (!lookup_->done && !stopping_ && Clock::now() < deadline) {
        lookup_->ended.wait_for(lock, std::chrono::milliseconds(stop_check_ms));
    }
    if (!lookup_->done) {
        return "looking up " + host_ + ", no answer yet after 1 s";
    }
    const bool ok = lookup_->error == 0 && lookup_->found != nullptr;
    found = std::exchange(lookup_->found, nullptr);
    lock.unlock();
    lookup_.reset();
    return ok ? std::string{} : "cannot find the host " + host_;
}

void Link::publish() {
    // A link that ends tells no one: the window it would post to may be gone.
    if (notify_ && !stopping_) {
        notify_();
    }
}

void Link::disconnect(const std::string& why) {
    if (socket_ != -1) {
        close_socket(as_socket(socket_));
        socket_ = -1;
    }
    caps_read_ = false;
    std::lock_guard<std::mutex> lock(mutex_);
    report_.connected = false;
    report_.has_state = false;
    report_.problem = why;
}

std::string Link::ensure_connected() {
    if (socket_ != -1) {
        return {};
    }
    if (!start_sockets()) {
        return "no network (Winsock did not start)";
    }
    addrinfo* found = nullptr;
    if (std::string why =
            resolve(found, Clock::now() + std::chrono::milliseconds(exchange_timeout_ms));
        !why.empty()) {
        return why;
    }
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(exchange_timeout_ms);
    // The panel names the address: these say only what happened there.
    std::string why = "no rigctld listening";
    for (addrinfo* a = found; a != nullptr && socket_ == -1; a = a->ai_next) {
        const Socket s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == static_cast<Socket>(-1)) {
            continue;
        }
        bool connected = false;
        if (set_non_blocking(s)) {
            if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
                connected = true;
            } else if (connect_in_progress()) {
                if (wait_for(static_cast<intptr_t>(s), true, deadline)) {
                    int error = 0;
                    socklen_t length = sizeof error;
                    connected = getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                                           &length) == 0 &&
                                error == 0;
                } else {
                    why = "no answer within 1 s";
                }
            }
        }
        if (connected) {
            const int on = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
            socket_ = static_cast<intptr_t>(s);
        } else {
            close_socket(s);
        }
    }
    freeaddrinfo(found);
    return socket_ == -1 ? why : std::string{};
}

std::string Link::exchange(const std::string& command, const char* name, Answer& answer) {
    const Socket s = as_socket(socket_);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(exchange_timeout_ms);
    const std::string line = "+" + command + "\n";
    size_t sent = 0;
    while (sent < line.size()) {
        if (!wait_for(socket_, true, deadline)) {
            return "no answer from the rig within 1 s";
        }
        const auto n =
            send(s, line.data() + sent, static_cast<int>(line.size() - sent), no_signal_flag);
        if (n <= 0) {
            return "the connection to rigctld broke";
        }
        sent += static_cast<size_t>(n);
    }
    AnswerReader reader(name);
    char buffer[4096];
    for (;;) {
        if (!wait_for(socket_, false, deadline)) {
            return "no answer from the rig within 1 s";
        }
        const auto n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return "rigctld closed the connection";
        }
        switch (reader.feed(buffer, static_cast<size_t>(n))) {
        case AnswerReader::Result::more:
            continue;
        case AnswerReader::Result::bad:
            return reader.error();
        case AnswerReader::Result::done:
            answer = reader.answer();
            return {};
        }
    }
}

// Reads everything the panel shows, in full, or nothing.
std::string Link::read_state(RigState& s) {
    std::string why = ensure_connected();
    Answer a;
    if (why.empty() && !caps_read_) {
        // What the rig can do is asked once a connection: it does not change while it lasts.
        why = exchange("\\dump_caps", "dump_caps", a);
        if (why.empty()) {
            why = read_caps(a, caps_);
        }
        caps_read_ = why.empty();
    }
    s = caps_;
    if (why.empty() && (why = exchange("f", "get_freq", a)).empty()) {
        why = read_frequency(a, s);
    }
    if (why.empty() && (why = exchange("m", "get_mode", a)).empty()) {
        why = read_mode(a, s);
    }
    if (why.empty() && s.has_rit && (why = exchange("j", "get_rit", a)).empty()) {
        why = read_rit(a, s);
    }
    if (why.empty() && (why = exchange("t", "get_ptt", a)).empty()) {
        why = read_ptt(a, s);
    }
    return why;
}

// With mutex_ held.
void Link::store(const RigState& s) {
    report_.connected = true;
    report_.has_state = true;
    report_.state = s;
    report_.problem.clear();
}

void Link::do_poll() {
    RigState s;
    const std::string why = read_state(s);
    if (!why.empty()) {
        disconnect(why);
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        store(s);
    }
    publish();
}

void Link::do_correction(const Asked& asked) {
    std::string result;
    bool moved = false;
    RigState before, after;
    bool read_after = false;
    std::string why = read_state(before);
    if (!why.empty()) {
        disconnect(why);
        result = "Not corrected: " + why;
    } else if (const Correction c =
                   plan_correction(asked.reading, asked.step_hz, before, asked.vfo);
               !c.refused.empty()) {
        result = c.refused;
    } else {
        char value[32];
        std::snprintf(value, sizeof value, "%.0f", c.target_hz);
        Answer a;
        why = exchange(std::string(c.via_rit ? "J " : "F ") + value,
                       c.via_rit ? "set_rit" : "set_freq", a);
        if (why.empty() && a.status != 0) {
            result =
                "The rig refused the correction (Hamlib error " + std::to_string(a.status) + ")";
        } else if (!why.empty() || !(why = read_state(after)).empty()) {
            // A command that timed out may still be carried out when the daemon comes back.
            disconnect(why);
            result = "Not confirmed: " + why + "; the rig may still move";
            moved = true;
        } else {
            read_after = true;
            const double actual = after.receive_hz() - before.receive_hz();
            moved = actual != 0;
            const double df = asked.reading.df_hz;
            result = correction_report(actual, df_after_move(df, actual, before.sideband()),
                                       asked.step_hz, c.via_rit ? "RX" : "VFO");
            if (std::fabs(actual - c.move_hz) > 0.5) {
                result = "The rig did not move as asked: " + result;
            }
        }
    }
    {
        // The state the correction left and its report come together: the panel never sees
        // the rig moved without knowing that the meter moved it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (read_after) {
            store(after);
        }
        ++report_.correction_serial;
        report_.result = result;
        report_.moved = moved;
    }
    publish();
}

} // namespace rig
