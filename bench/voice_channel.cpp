// SPDX-License-Identifier: GPL-3.0-or-later
#include "bench/voice_channel.h"

#include "dsp/stream_format.h"
#include "recording/recording.h"

#include <kissfft.hh>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <numbers>
#include <random>

namespace voice_channel {

namespace {

using cpx = std::complex<double>;
constexpr double fs = dsp::sample_rate_hz;

// The receive filter: Butterworth magnitudes, 4th order at 300 Hz, 8th at 2700 Hz (soft edges,
// as a receiver's are), applied in the frequency domain to the positive frequencies.
double band_gain(double hz) {
    if (hz <= 0) {
        return 0.0;
    }
    return 1.0 / std::sqrt((1.0 + std::pow(300.0 / hz, 8)) * (1.0 + std::pow(hz / 2700.0, 16)));
}

size_t fft_size(size_t n) {
    size_t p = 1;
    while (p < n + 4096) { // room for the filter's ringing before it wraps round
        p *= 2;
    }
    return p;
}

// Analytic signal of `x`, band-limited, shifted by df; its real part.
std::vector<double> shift_and_filter(const std::vector<double>& x, double df_hz) {
    const size_t n = fft_size(x.size());
    std::vector<cpx> a(n, 0.0), b(n);
    std::copy(x.begin(), x.end(), a.begin());
    kissfft<double>(n, false).transform(a.data(), b.data());
    // Positive frequencies doubled, negative ones cleared; the band applied where each bin lands.
    for (size_t k = 0; k < n; ++k) {
        double hz = double(k) * fs / double(n);
        b[k] = k > 0 && k < n / 2 ? 2.0 * b[k] * band_gain(hz + df_hz) / double(n) : 0.0;
    }
    kissfft<double>(n, true).transform(b.data(), a.data());
    std::vector<double> y(x.size());
    for (size_t i = 0; i < y.size(); ++i) {
        double ph = 2.0 * std::numbers::pi * df_hz * double(i) / fs;
        y[i] = (a[i] * std::polar(1.0, ph)).real();
    }
    return y;
}

// Mean power of the 20-ms frames within 40 dB of the loudest: speech while it is spoken.
double active_power(const std::vector<double>& y) {
    const size_t len = size_t(0.02 * fs);
    std::vector<double> p;
    for (size_t i = 0; i + len <= y.size(); i += len) {
        double s = 0;
        for (size_t j = i; j < i + len; ++j) {
            s += y[j] * y[j];
        }
        p.push_back(s / double(len));
    }
    double top = p.empty() ? 0.0 : *std::max_element(p.begin(), p.end());
    double sum = 0;
    int n = 0;
    for (double v : p) {
        if (v >= top * 1e-4) {
            sum += v;
            ++n;
        }
    }
    return n ? sum / n : 0.0;
}

} // namespace

std::vector<float> receive(const std::vector<float>& speech, const Settings& s) {
    std::vector<double> x(speech.begin(), speech.end());
    std::vector<double> y = shift_and_filter(x, s.df_hz);
    double power = active_power(y);
    if (s.snr_db < 150.0 && power > 0) {
        std::mt19937 rng(s.seed);
        std::normal_distribution<double> gauss;
        std::vector<double> noise(x.size());
        for (double& v : noise) {
            v = gauss(rng);
        }
        noise = shift_and_filter(noise, 0.0);
        double np = 0;
        for (double v : noise) {
            np += v * v;
        }
        np /= double(noise.size());
        double k = std::sqrt(power / std::pow(10.0, s.snr_db / 10.0) / np);
        for (size_t i = 0; i < y.size(); ++i) {
            y[i] += k * noise[i];
        }
    }
    // Speech peaks at about half of full scale before the AGC.
    double peak = 0;
    for (double v : y) {
        peak = std::max(peak, std::abs(v));
    }
    const double level = peak > 0 ? 0.5 / peak : 1.0;
    // AGC: the peak detector takes a peak at once and lets it go in 0.5 s; the gain falls in
    // 10 ms and rises back in 0.5 s, holding peaks near 0.4 with at most 10 times the gain.
    auto per_sample = [](double seconds) { return 1.0 - std::exp(-1.0 / (seconds * fs)); };
    const double decay = per_sample(0.5), attack = per_sample(0.01), release = per_sample(0.5);
    double env = 0, gain = 1;
    std::vector<float> out(y.size());
    for (size_t i = 0; i < y.size(); ++i) {
        double v = y[i] * level;
        if (s.agc) {
            env = std::max(std::abs(v), env * (1.0 - decay));
            double want = std::min(0.4 / std::max(env, 1e-9), 10.0);
            gain += (want - gain) * (want < gain ? attack : release);
            v *= gain;
        }
        out[i] = float(std::clamp(v, -1.0, 1.0));
    }
    return out;
}

std::vector<float> loop_to(const std::vector<float>& x, double seconds) {
    std::vector<float> out;
    const size_t n = size_t(seconds * fs);
    while (!x.empty() && out.size() < n) {
        out.insert(out.end(), x.begin(),
                   x.begin() + std::ptrdiff_t(std::min(x.size(), n - out.size())));
    }
    return out;
}

std::vector<float> codec2_file(const std::string& name, std::string& error) {
    recording::Audio audio;
    const std::string wav = "/usr/share/codec2/wav/" + name + ".wav";
    if (std::filesystem::exists(wav)) {
        error = recording::read(wav, dsp::sample_rate_hz, audio);
    } else {
        error = recording::read("/usr/share/codec2/raw/" + name + ".raw", dsp::sample_rate_hz,
                                audio, 8000);
    }
    return error.empty() ? audio.samples : std::vector<float>{};
}

} // namespace voice_channel
