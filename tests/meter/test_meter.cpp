// SPDX-License-Identifier: GPL-3.0-or-later
// tavrene-meter in process, on the simulated link: the reading of a two-tone heard with the own
// tone off, what the window and the log say of each kind of reading, the drift plot's span, and
// the rig panel against rigctld and against daemons that fail it.
#include "meter/meter.h"
#include "tests/app/app_fixture.h"

#include <Qt>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

namespace {

class MeterTest : public AppTest {
  public:
    void SetUp() override {
        AppTest::SetUp();
        meter_options = MeterOptions{};
        meter_options.demo = true;
        meter_path_options = radio_path::PathOptions{};
        meter_demo_path = path;
    }
    void TearDown() override {
        meter_demo_path = nullptr;
        AppTest::TearDown();
    }
    static std::string text(HWND dialog, int id) {
        return platform::testing::control_text(dialog, id);
    }
    static bool reading_near(double hz, double within) {
        const dsp::DfReading r = meter_reading();
        return r.has_df && std::fabs(r.df_hz - hz) < within;
    }
    static bool good_second() {
        const dsp::DfReading r = meter_reading();
        return r.has_df && r.verdict == dsp::Verdict::good && r.span_s >= 1.0 - 1e-9;
    }
    // Runs the loop until `done` or `ms` of real time, and the longest the loop was ever held
    // up by one unit of work: the rig's network must never stall the user interface.
    static bool run_until_real(const std::function<bool()>& done, int ms, double* longest_ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!done() && std::chrono::steady_clock::now() < end) {
            const auto t = std::chrono::steady_clock::now();
            if (!platform::pump_once(false)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            const double took =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t)
                    .count();
            *longest_ms = std::max(*longest_ms, took);
        }
        return done();
    }
};

TEST_F(MeterTest, ReadsAHeardTwoToneWithTheOwnOffAndForgetsTheOwnAfterOff) {
    path->set_df(2.5);
    path->set_station(true);
    EXPECT_EQ(run([&](HWND dialog) {
                  EXPECT_TRUE(run_until([] { return reading_near(2.5, 0.005); }, 5000));
                  EXPECT_EQ(reading_source(), ReadingSource::heard);
                  EXPECT_TRUE(run_until([] { return meter_shown_reading().good; }, 5000));
                  EXPECT_NEAR(meter_shown_reading().df_hz, 2.5, 0.005);
                  EXPECT_EQ(text(dialog, source_text_id), "Heard tone");

                  press_and_wait(dialog, "Off");
                  EXPECT_FALSE(meter_reading().has_df) << "a heard reading carried over to On";
                  EXPECT_TRUE(run_until([] { return reading_near(2.5, 0.005); }, 5000));
                  run_for_ms(600);
                  EXPECT_EQ(text(dialog, source_text_id), "Own tone");

                  // The other station has gone quiet: after Off nothing is read, not even the
                  // own tone's tail still on its way back.
                  path->set_station(false);
                  path->set_delay_ms(300);
                  press_and_wait(dialog, "On");
                  for (int i = 0; i < 40; ++i) {
                      run_for_ms(100);
                      ASSERT_FALSE(meter_reading().has_df)
                          << "a reading " << i * 100 << " ms after Off";
                  }
                  // Nothing arrives: the voice is read, and there is none.
                  EXPECT_EQ(text(dialog, source_text_id), "Heard voice");
                  EXPECT_FALSE(meter_shown_reading().has_df);
                  EXPECT_EQ(text(dialog, verdict_text_id), "No voice");
                  // It comes back and is read afresh.
                  path->set_df(-1.25);
                  path->set_station(true);
                  EXPECT_TRUE(run_until([] { return reading_near(-1.25, 0.005); }, 5000));
                  platform::testing::close_box(dialog);
              }),
              0);
}

// The readout as drawn: each figure's seven segments (and the plus sign's upright) sampled at
// their middles, right to left from the last figure; "-" for the dash that stands alone.
std::string readout_on_pane(HWND dialog) {
    HWND pane = nullptr;
    for (HWND w : platform::testing::child_windows(dialog)) {
        pane = platform::testing::class_name(w) == "MeterReadout" ? w : pane;
    }
    const platform::raster::Surface& s = *platform::testing::window_pixels(pane);
    const int width = s.width - 2, height = s.height - 2; // inside the one-pixel border
    const auto lit = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < height &&
               platform::raster::to_colorref(s.at(x + 1, y + 1)) == RGB(255, 190, 40);
    };
    const int middles[7][2] = {{10, 2}, {18, 11}, {18, 29}, {10, 38}, {2, 29}, {2, 11}, {10, 20}};
    const auto cell = [&](int x, int y) {
        int bits = 0;
        for (int i = 0; i < 7; ++i) {
            bits |= lit(x + middles[i][0], y + middles[i][1]) << i;
        }
        return bits;
    };
    const std::string figures = "0123456789";
    const int segments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const int y = (height - 40) / 2;
    std::string text;
    for (int x = width - 8 - 20; x >= 0; x -= 30) {
        const int bits = cell(x, y);
        if (bits == 0) {
            break;
        }
        const int* figure = std::find(segments, segments + 10, bits);
        text.insert(0, 1,
                    bits == 0x40 ? (lit(x + 10, y + 14) ? '+' : '-')
                                 : (figure == segments + 10 ? '?' : figures[figure - segments]));
        if (lit(x - 9, y + 38) && text.find('.') == std::string::npos) {
            text.insert(0, ".");
            x -= 10;
        }
    }
    return text.empty() && cell((width - 20) / 2, y) == 0x40 ? "-" : text;
}

// With a log that cannot be opened, which is said in the window, the meter runs on.
TEST_F(MeterTest, ReadoutDrawsTheReadingInSevenSegmentFigures) {
    meter_options.csv_path = "/nonexistent/dir/x.csv";
    struct Case {
        double df;
        const char* shown;
    } const cases[] = {
        {7.372, "+7.372"}, {-0.25, "-0.250"}, {0.0002, "0.000"}, {-45.125, "-45.125"}};
    EXPECT_EQ(run([&](HWND dialog) {
                  run_for_ms(100);
                  EXPECT_EQ(readout_on_pane(dialog), "-");
                  EXPECT_EQ(text(dialog, message_text_id),
                            "Cannot open the log file /nonexistent/dir/x.csv: No such file or "
                            "directory");
                  for (const Case& c : cases) {
                      path->set_df(c.df);
                      press_and_wait(dialog, "Off");
                      // The steady reading of a clean link, a second long: within 0.3 mHz, so
                      // the figures shown are those of df.
                      EXPECT_TRUE(run_until(good_second, 5000));
                      run_for_ms(100);
                      EXPECT_EQ(readout_on_pane(dialog), c.shown);
                      EXPECT_EQ(text(dialog, verdict_text_id), "Good");
                      press_and_wait(dialog, "On");
                      run_for_ms(100);
                      EXPECT_EQ(readout_on_pane(dialog), "-") << "after Off";
                  }
                  platform::testing::close_box(dialog);
              }),
              0);
}

// The log's first line decides how it is carried on: a new file gets the columns, an earlier
// version's log its own five (a voice line there is the two-tone's), and a file that is not a
// meter's log is left alone.
TEST(MeterLog, KeepsEachFileInItsOwnColumns) {
    const std::string dir = ::testing::TempDir();
    using S = ReadingSource;
    using V = dsp::VoiceState;
    struct Case {
        const char* name;
        const char* before; // nullptr: no such file
        S source;
        V voice;           // the voice's state, at +13.74 Hz beside a two-tone's +0.5 Hz
        const char* after; // the file after one line
        const char* error; // part of the message when refused
    } const cases[] = {
        {"new.csv", nullptr, S::heard, V::reading,
         "time_utc,df_hz,rms,snr_db,verdict,source\nT,0.5000,63.0,40.0,good,heard\n", ""},
        {"own.csv", "time_utc,df_hz,rms,snr_db,verdict,source\n", S::own, V::no_voice,
         "time_utc,df_hz,rms,snr_db,verdict,source\nT,0.5000,63.0,40.0,good,own\n", ""},
        {"voice.csv", nullptr, S::voice, V::reading,
         "time_utc,df_hz,rms,snr_db,verdict,source\nT,13.7,63.0,,reading,voice\n", ""},
        {"ambiguous.csv", nullptr, S::voice, V::ambiguous,
         "time_utc,df_hz,rms,snr_db,verdict,source\nT,,63.0,,ambiguous,voice\n", ""},
        {"older.csv", "time_utc,df_hz,rms,snr_db,verdict\r\nT,,0.0,,no_signal\r\n", S::voice,
         V::reading,
         "time_utc,df_hz,rms,snr_db,verdict\r\nT,,0.0,,no_signal\r\nT,0.5000,63.0,40.0,good\n", ""},
        {"notes.txt", "my notes\n", S::heard, V::no_voice, "my notes\n",
         "its first line is not the meter's columns"},
        {"missing/x.csv", nullptr, S::heard, V::no_voice, nullptr, "Cannot open the log file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir + c.name;
        std::remove(file.c_str());
        if (c.before) {
            std::FILE* f = std::fopen(file.c_str(), "wb");
            std::fputs(c.before, f);
            std::fclose(f);
        }
        std::string error;
        const dsp::DfReading reading{
            .has_df = true, .df_hz = 0.5, .rms = 63, .snr_db = 40, .verdict = dsp::Verdict::good};
        const bool opened = csv_open(file, error);
        EXPECT_EQ(opened, *c.error == '\0') << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        const dsp::VoiceReading voice{.state = c.voice, .df_hz = 13.74, .uncertainty_hz = 0.6};
        if (opened) {
            EXPECT_TRUE(csv_append(reading, voice, c.source, error)) << error;
        }
        csv_close();
        std::ifstream in(file, std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        // The time of day is the one thing not compared.
        for (size_t at; (at = text.find("\n20")) != std::string::npos;) {
            text.replace(at + 1, text.find(',', at) - at - 1, "T");
        }
        EXPECT_EQ(text, c.after ? c.after : "");
    }
}

// What the window says of each kind of reading, given it: the readout holds figures only, the
// verdict text and the message line the words (above the log's failure). The capture is stopped
// first, so that no reading of the link replaces the one given.
TEST_F(MeterTest, ShowsEachKindOfReadingInFiguresAndWords) {
    meter_options.csv_path = "/nonexistent/dir/x.csv";
    const std::string log = "Cannot open the log file /nonexistent/dir/x.csv: No such file or "
                            "directory";
    using enum dsp::VoiceState;
    using enum ReadingSource;
    const auto said = [](dsp::VoiceState s, double df, double sd, const std::vector<double>& open) {
        dsp::VoiceReading v{.state = s, .df_hz = df, .uncertainty_hz = sd};
        for (double hz : open) {
            v.candidates_hz[v.candidate_count++] = hz;
        }
        return v;
    };
    const dsp::DfReading good{.has_df = true, .df_hz = 2.5, .verdict = dsp::Verdict::good};
    struct Case {
        ReadingSource source;
        dsp::VoiceReading voice;
        const char *readout, *label, *verdict, *message;
    } const cases[] = {
        {voice, said(reading, 13.74, 0.61, {}), "+13.7", "Heard voice", "Reading",
         "+13.7 Hz +- 0.6"},
        {voice, said(reading, -0.04, 0.3, {}), "0.0", "Heard voice", "Reading", "0.0 Hz +- 0.3"},
        {voice, said(listening, 0, 0, {}), "-", "Heard voice", "Listening...", ""},
        {voice, said(ambiguous, 0, 0, {12.4, -107.6}), "-", "Heard voice", "Ambiguous",
         "Ambiguous: +12.4 or -107.6 Hz"},
        {voice, said(no_voice, 0, 0, {}), "-", "Heard voice", "No voice", ""},
        {heard, said(reading, 9, 0, {}), "+2.500", "Heard tone", "Good", ""},
        {own, said(no_voice, 0, 0, {}), "+2.500", "Own tone", "Good", ""},
    };
    EXPECT_EQ(run([&](HWND dialog) {
                  EXPECT_EQ(text(dialog, drift_top_text_id), "+0.01 Hz");
                  run_for_ms(300); // the capture has opened and runs
                  meter_capture_reset();
                  run_for_ms(100);
                  for (const Case& c : cases) {
                      SCOPED_TRACE(c.readout + std::string(" ") + c.verdict);
                      display_reading(dialog, good, c.voice, c.source);
                      EXPECT_EQ(text(dialog, source_text_id), c.label);
                      EXPECT_EQ(text(dialog, verdict_text_id), c.verdict);
                      EXPECT_EQ(text(dialog, message_text_id),
                                *c.message ? c.message + ("\n" + log) : log);
                      run_for_ms(50);
                      EXPECT_EQ(readout_on_pane(dialog), c.readout);
                  }
                  // The voice's reading went on the drift plot too, whose scale is in hertz.
                  display_tick(dialog);
                  EXPECT_EQ(text(dialog, drift_top_text_id), "+20 Hz");
                  // A steady reading is a level trace: its newest column holds a point.
                  for (int i = 0; i < 2; ++i) {
                      display_reading(dialog, good, {}, own);
                      display_tick(dialog);
                  }
                  run_for_ms(50);
                  HWND drift = nullptr;
                  for (HWND w : platform::testing::child_windows(dialog))
                      drift = platform::testing::class_name(w) == "MeterDrift" ? w : drift;
                  const platform::raster::Surface& s = *platform::testing::window_pixels(drift);
                  int lit = 0;
                  for (int y = 0; y < s.height; ++y)
                      lit +=
                          platform::raster::to_colorref(s.at(s.width - 2, y)) == RGB(255, 255, 100);
                  EXPECT_GT(lit, 0) << "a steady reading left no trace";
                  platform::testing::close_box(dialog);
              }),
              0);
}

// The span follows the session's length in half-second ticks, not the audio: ticked directly.
TEST_F(MeterTest, DriftPlotWidensItsSpanAsTheSessionGrows) {
    EXPECT_EQ(run([&](HWND dialog) {
                  const auto span_after = [&](int ticks) {
                      for (int i = 0; i < ticks; ++i) {
                          display_tick(dialog);
                      }
                      return text(dialog, drift_span_text_id);
                  };
                  // The timer may have ticked a few times before: a margin of 10 ticks.
                  EXPECT_EQ(span_after(0), "df, last 2 min");
                  EXPECT_EQ(span_after(230), "df, last 2 min");
                  EXPECT_EQ(span_after(20), "df, last 10 min");
                  EXPECT_EQ(span_after(940), "df, last 10 min");
                  EXPECT_EQ(span_after(20), "df, last 1 h");
                  EXPECT_EQ(span_after(7200), "df, last 1 h");
                  platform::testing::close_box(dialog);
              }),
              0);
}

// A TCP server on 127.0.0.1 that answers every connection with `reply` (nothing at all for the
// empty string), as rigctld never would.
class FakeDaemon {
  public:
    explicit FakeDaemon(std::string reply) : reply_(std::move(reply)) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        bind(listener_, reinterpret_cast<sockaddr*>(&a), n);
        listen(listener_, 4);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                const int c = accept(listener_, nullptr, nullptr);
                if (c < 0) {
                    return;
                }
                if (!reply_.empty()) {
                    // What fits: a client that stops reading must not hold this thread.
                    send(c, reply_.data(), reply_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                }
                clients_.push_back(c);
            }
        });
    }
    ~FakeDaemon() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);
        close(listener_);
        thread_.join();
        for (int c : clients_) {
            close(c);
        }
    }
    int port = 0;

  private:
    std::string reply_;
    int listener_ = -1;
    std::atomic<bool> stop_{false};
    std::vector<int> clients_;
    std::thread thread_;
};

TEST_F(MeterTest, RigPanelSaysWhyItHasNoRigAndNeverStallsTheWindow) {
    platform::use_virtual_clock(false); // the network keeps real time
    struct Case {
        const char* name;
        std::string reply;
        bool listening;
        const char* status;
    } const cases[] = {
        {"no daemon", "", false, "not connected: no rigctld listening"},
        {"hung daemon", "", true, "not connected: no answer from the rig within 1 s"},
        {"a web server", "HTTP/1.1 400 Bad Request\r\n\r\n", true, "not a rigctld answer"},
        {"an endless line", std::string(1 << 20, 'x'), true, "a line longer than 1024 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDaemon daemon(c.reply);
        meter_options.rig = true;
        meter_options.rig_port = daemon.port;
        std::chrono::steady_clock::time_point closed_at;
        if (!c.listening) {
            meter_options.rig_port = FakeDaemon("").port; // closed again at once
        }
        double longest_ms = 0;
        EXPECT_EQ(
            run([&](HWND dialog) {
                const auto status = [&] { return text(dialog, rig_status_text_id); };
                EXPECT_TRUE(
                    run_until_real([&] { return status().find(c.status) != std::string::npos; },
                                   3000, &longest_ms))
                    << status();
                platform::testing::click(dialog, correct_button_id);
                EXPECT_TRUE(run_until_real(
                    [&] { return text(dialog, rig_result_text_id).rfind("Not corrected", 0) == 0; },
                    3000, &longest_ms))
                    << text(dialog, rig_result_text_id);
                // Closed in the middle of an exchange (a hung one waits its whole second).
                platform::testing::click(dialog, correct_button_id);
                run_until_real([] { return false; }, 100, &longest_ms);
                closed_at = std::chrono::steady_clock::now();
                platform::testing::close_box(dialog);
            }),
            0);
        EXPECT_LT(longest_ms, 100) << "the window was held up";
        const auto closing = std::chrono::steady_clock::now() - closed_at;
        EXPECT_LT(closing, std::chrono::milliseconds(200)) << "the exchange was waited for";
    }
}

// rigctld with its dummy rig (Hamlib's model 1) on a free port of 127.0.0.1.
class Rigctld {
  public:
    explicit Rigctld(int at_port = 0) : port(at_port ? at_port : FakeDaemon("").port) { start(); }
    ~Rigctld() { stop(); }
    void start() {
        pid_ = fork();
        if (pid_ == 0) {
            const std::string p = std::to_string(port);
            execlp("rigctld", "rigctld", "-m", "1", "-T", "127.0.0.1", "-t", p.c_str(), nullptr);
            _exit(127);
        }
        // It takes about 0.2 s to listen; a second daemon on a busy port exits at once.
        for (int i = 0; i < 150 && command("f") == "failed"; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(waitpid(pid_, nullptr, WNOHANG), 0) << "rigctld ended";
    }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    // One command through Hamlib's rigctl: the first line it prints, "failed" when it fails.
    std::string command(const std::string& args) const {
        const std::string line =
            "rigctl -m 2 -r 127.0.0.1:" + std::to_string(port) + " " + args + " 2>/dev/null";
        std::string out;
        char buffer[256];
        std::FILE* p = popen(line.c_str(), "r");
        while (p && std::fgets(buffer, sizeof buffer, p)) {
            out += buffer;
        }
        return p && pclose(p) == 0 ? out.substr(0, out.find('\n')) : "failed";
    }
    const int port;

  private:
    pid_t pid_ = -1;
};

TEST_F(MeterTest, CorrectRxZeroBeatsTheDemoLinkThroughRigctld) {
    platform::use_virtual_clock(false);
    struct Case {
        const char* mode;
        const char* result;
        const char* rit;
        const char* freq = "145000000";
        bool vfo = false;
    } const cases[] = {
        {"USB", "RX +7 Hz; residual +0.372 Hz (rig step 1 Hz)", "7"},
        {"LSB", "RX -7 Hz; residual +0.372 Hz (rig step 1 Hz)", "-7"},
        {"LSB", "VFO -7 Hz; residual +0.372 Hz (rig step 1 Hz)", "0", "144999993", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + (c.vfo ? " VFO" : ""));
        Rigctld rigctld;
        ASSERT_EQ(rigctld.command(std::string("M ") + c.mode + " 2400"), "");
        meter_options.rig = true;
        meter_options.rig_port = rigctld.port;
        meter_options.rig_vfo = c.vfo;
        meter_path_options.link.df_hz = 7.372;
        path->set_df(7.372);
        double longest_ms = 0;
        EXPECT_EQ(
            run([&](HWND dialog) {
                const auto result = [&] { return text(dialog, rig_result_text_id); };
                const auto status = [&] { return text(dialog, rig_status_text_id); };
                EXPECT_TRUE(run_until_real(
                    [&] { return status().find(std::string(c.mode)) != std::string::npos; }, 3000,
                    &longest_ms))
                    << status();
                platform::testing::click(dialog, correct_button_id);
                // Tone off and nothing arriving: the voice reading is on show, and it has none.
                EXPECT_TRUE(
                    run_until_real([&] { return result().rfind("No voice reading yet", 0) == 0; },
                                   3000, &longest_ms))
                    << result();
                press_and_wait(dialog, "Off");
                EXPECT_TRUE(run_until_real(good_second, 5000, &longest_ms));
                platform::testing::click(dialog, correct_button_id);
                EXPECT_TRUE(run_until_real([&] { return result() == c.result; }, 3000, &longest_ms))
                    << result();
                EXPECT_EQ(rigctld.command("j"), c.rit);
                EXPECT_EQ(rigctld.command("f"), c.freq);
                EXPECT_FALSE(meter_reading().has_df) << "the fit ran across the jump";
                EXPECT_TRUE(
                    run_until_real([] { return reading_near(0.372, 0.01); }, 5000, &longest_ms))
                    << meter_reading().df_hz;
                EXPECT_TRUE(run_until_real(good_second, 5000, &longest_ms));
                platform::testing::click(dialog, correct_button_id);
                EXPECT_TRUE(run_until_real(
                    [&] { return result().find("within the rig's step") != std::string::npos; },
                    5000, &longest_ms))
                    << result();

                // A daemon that dies is reported, and found again once it is back.
                rigctld.stop();
                EXPECT_TRUE(run_until_real(
                    [&] { return status().find("not connected") != std::string::npos; }, 3000,
                    &longest_ms))
                    << status();
                rigctld.start();
                EXPECT_TRUE(run_until_real(
                    [&] {
                        return status().find("Rig connected: 145000000 Hz FM") != std::string::npos;
                    },
                    3000, &longest_ms))
                    << status();
                press_and_wait(dialog, "On");
                platform::testing::close_box(dialog);
            }),
            0);
        EXPECT_LT(longest_ms, 100) << "the window was held up";
    }
}

// Track corrects once by itself, stands back when rigctl turns the dial, and comes back after
// the pause.
TEST_F(MeterTest, TrackCorrectsByItselfAndStandsBackWhenTheDialMoves) {
    platform::use_virtual_clock(false);
    Rigctld rigctld;
    ASSERT_EQ(rigctld.command("M USB 2400"), "");
    meter_options.rig = true;
    meter_options.rig_port = rigctld.port;
    meter_path_options.link.df_hz = 7.372;
    path->set_df(7.372);
    double longest_ms = 0;
    EXPECT_EQ(run([&](HWND dialog) {
                  const auto shows = [&](const std::string& start, int ms) {
                      const auto now = [&] { return text(dialog, rig_result_text_id); };
                      EXPECT_TRUE(run_until_real([&] { return now().rfind(start, 0) == 0; }, ms,
                                                 &longest_ms))
                          << now();
                  };
                  press_and_wait(dialog, "Off");
                  platform::testing::press_key(dialog, Qt::Key_T, Qt::AltModifier);
                  EXPECT_EQ(IsDlgButtonChecked(dialog, track_check_id), UINT{BST_CHECKED});
                  shows("Track: RX +7 Hz", 6000);
                  EXPECT_EQ(rigctld.command("j"), "7");
                  // The operator's hand: 3 Hz up, which the reading then shows (-2.6 Hz).
                  EXPECT_EQ(rigctld.command("J 10"), "");
                  const auto turned = std::chrono::steady_clock::now();
                  shows("Track paused: the dial moved (10 s from the last turn)", 3000);
                  shows("Track: RX -3 Hz", 14000);
                  EXPECT_GE(std::chrono::steady_clock::now() - turned, std::chrono::seconds(10));
                  EXPECT_EQ(rigctld.command("j"), "7");
                  platform::testing::close_box(dialog);
              }),
              0);
    EXPECT_LT(longest_ms, 100) << "the window was held up";
}

} // namespace
