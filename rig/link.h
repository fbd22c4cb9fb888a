// SPDX-License-Identifier: GPL-3.0-or-later
// A connection to rigctld, worked on a thread of its own: the user interface asks (read the rig,
// correct the receiver) and is told through `notify` when the report is ready; it never waits on
// the network. Every exchange with the daemon is bounded by exchange_timeout_ms; after any
// failure the connection is closed, and the rig is read afresh before a value is trusted again.
#pragma once

#include "rig/protocol.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace rig {

constexpr int exchange_timeout_ms = 1000;

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
    ~Link(); // waits for the exchange under way, at most about exchange_timeout_ms
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    void poll(); // read the rig again (several requests before it starts make one)
    // One correction by `df_hz`, planned against the rig as read afresh.
    void correct(double df_hz, bool reading_ok, double step_hz);
    Report report() const;

  private:
    void run();
    void do_poll();
    void do_correction(double df_hz, bool reading_ok, double step_hz);
    std::string read_state(RigState& s);
    std::string ensure_connected();
    std::string exchange(const std::string& command, const char* name, Answer& answer);
    void disconnect(const std::string& why);
    void store(const RigState& s); // a rig read in full
    void publish();

    const std::string host_;
    const int port_;
    std::function<void()> notify_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool poll_wanted_ = false;
    bool correction_wanted_ = false;
    double correction_df_ = 0.0;
    bool correction_ok_ = false;
    double correction_step_ = 1.0;
    Report report_;

    // The link's thread alone.
    intptr_t socket_ = -1;
    bool caps_read_ = false;
    RigState caps_;

    std::thread thread_;
};

} // namespace rig
