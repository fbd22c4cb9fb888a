// SPDX-License-Identifier: GPL-3.0-or-later
// A connection to rigctld, worked on a thread of its own: the user interface asks (read the rig,
// correct the receiver) and is told through `notify` when the report is ready; it never waits on
// the network. Every exchange with the daemon is bounded by exchange_timeout_ms; after any
// failure the connection is closed, and the rig is read afresh before a value is trusted again.
// The host name is looked up on a thread of its own, within the same bound: a slow name server
// holds up neither the panel's first report nor the link's end.
#pragma once

#include "rig/protocol.h"

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct addrinfo;

namespace rig {

constexpr int exchange_timeout_ms = 1000;
constexpr int stop_check_ms = 20; // how often a waiting exchange looks whether the link ends

// What the user interface shows of the rig.
struct Report {
    bool connected = false;
    bool has_state = false; // `state` was read in full on this connection
    RigState state;
    std::string problem; // why the rig is not connected or not read, in words
    // The last correction: its serial counts presses answered; `result` says what was done or
    // why not; `moved` whether the receiver moved (the reading then starts again).
    uint64_t correction_serial = 0;
    std::string result;
    bool moved = false;
};

class Link {
  public:
    // `notify` runs on the link's thread each time the report changed.
    Link(std::string host, int port, std::function<void()> notify);
    ~Link(); // abandons the exchange under way: returns within about stop_check_ms
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    void poll(); // read the rig again (several requests before it starts make one)
    // One correction on `reading`, planned against the rig as read afresh; through the VFO
    // rather than RIT when `vfo`.
    void correct(const Reading& reading, double step_hz, bool vfo);
    Report report() const;

  private:
    void run();
    void do_poll();
    struct Asked {
        Reading reading;
        double step_hz = 1.0;
        bool vfo = false;
    };
    struct Lookup; // a host name being looked up
    void do_correction(const Asked& asked);
    std::string resolve(::addrinfo*& found, std::chrono::steady_clock::time_point deadline);
    bool wait_for(intptr_t s, bool for_writing, std::chrono::steady_clock::time_point deadline);
    std::string read_state(RigState& s);
    std::string ensure_connected();
    std::string exchange(const std::string& command, const char* name, Answer& answer);
    void disconnect(const std::string& why);
    void store(const RigState& s); // a rig read in full, with mutex_ held
    void publish();

    const std::string host_;
    const int port_;
    std::function<void()> notify_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> stopping_{false};
    bool poll_wanted_ = false;
    bool correction_wanted_ = false;
    Asked asked_;
    Report report_;

    // The link's thread alone.
    intptr_t socket_ = -1;
    bool caps_read_ = false;
    RigState caps_;
    std::shared_ptr<Lookup> lookup_; // one under way, kept across exchanges until it ends

    std::thread thread_;
};

} // namespace rig
