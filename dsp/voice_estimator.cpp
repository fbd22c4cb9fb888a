// SPDX-License-Identifier: GPL-3.0-or-later
// Per frame: a Hann-windowed spectrum, zero-padded four times, gives the frequencies of its peaks
// (quadratic interpolation of the log magnitude). Differences between peaks propose a fundamental;
// the one whose comb takes the most peaks, with the fewest holes, numbers them, and a weighted
// least-squares line f_k = k F0 + df through the numbered peaks gives F0, df and their covariance
// together. Fitting peak frequencies rather than correlating a comb with magnitudes keeps the band
// edges and the spectral envelope out of the result.
//
// Renumbering the peaks by m moves df by m F0: every frame proposes df + m F0 for all m, each with
// its own variance. Each frame adds the log of its proposals (Gaussians) to a grid of df; while F0
// wanders, only the true df is proposed frame after frame. A frame counts only inside a stretch
// that looks like speech: enough harmonic frames, a fundamental that glides and a level that
// comes and goes with syllables; steady combs (modems, tones, a monotone) never count.
#include "dsp/voice_estimator.h"

#include "dsp/stream_format.h"

#include <kissfft.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace dsp {

namespace {

constexpr double fs = sample_rate_hz;
// 46 ms: short enough for a gliding pitch; the Hann main lobe (+-43 Hz) still parts harmonics
// 70 Hz apart.
constexpr size_t frame_len = 512;
constexpr size_t hop = 256;      // 23 ms
constexpr size_t fft_len = 4096; // zero-padded: 2.7 Hz bins, small interpolation bias
constexpr double bin_hz = fs / fft_len;
constexpr double search_lo_hz = 200.0, search_hi_hz = 3000.0;
constexpr int max_peaks = 40;
constexpr double min_f0 = 70.0, max_f0 = 400.0;
constexpr int min_harmonics = 4; // numbered peaks a frame needs to count as voiced
constexpr double peak_prominence_db = 6.0;
// A voiced frame's comb: how far a peak may sit from its harmonic, how much of the peaks' weight
// over its span it must take, and how closely the peaks it takes must fit it.
constexpr double harmonic_tolerance = 0.04; // of F0
constexpr double min_share = 0.5;
constexpr double max_rms_share = 0.015; // of F0
constexpr double max_rms_hz = 3.0;
constexpr double peak_floor_db = 8.0; // above the frame's 20th percentile

// The df grid reaches past the range read, so that an alias just outside it is seen.
constexpr double grid_half_hz = 520.0;
constexpr double grid_step_hz = 0.25;
constexpr int grid_points = int(2 * grid_half_hz / grid_step_hz) + 1;
constexpr double min_sigma_hz = 1.0; // no single frame may claim more than this
constexpr double likelihood_floor = 0.05;

// The stretch judged for speech, and what speech shows over it.
constexpr int presence_frames = int(2.0 * fs / hop); // 2 s
constexpr double min_harmonic_share = 0.12;
constexpr double min_glide = 0.004;       // median |dF0|/F0 between neighbouring voiced frames
constexpr double min_level_spread_db = 6; // p90 - p10 of the frame levels
constexpr double hold_s = 3.0;            // a reading outlives a pause this long as "reading"
constexpr double restart_gap_s = 8.0;     // after this much without voice, a new reading

// Reading versus ambiguous: the top of the grid must lead every other peak (at least this far
// away) by this much log evidence.
constexpr double min_separation_hz = 12.0;
constexpr double min_lead = 16.0;
constexpr double min_voiced_s = 1.0; // before any reading
// The aliases df +- F0 part from df only as far as F0 has moved: the fundamentals counted must
// spread (standard deviation) at least this much.
constexpr double min_f0_spread_hz = 6.0;
constexpr double ambiguous_after_s = 2; // before "ambiguous" rather than "listening"
constexpr double frames_per_error = 4.0;
constexpr double systematic_hz = 0.5;

// A new voice: among the latest voiced frames, too few agree with the reading.
constexpr int change_window = 48;
constexpr double max_agree_share_change = 0.3;
constexpr double agree_tolerance_hz = 4.0;

constexpr int ring_size = 4096; // frame records, about 94 s

// A voice just at the end of the range reads a little beyond it half the time.
constexpr double max_read_hz = VoiceEstimator::max_df_hz + 5.0;

struct Peak {
    double hz, weight;
};

struct Frame {
    bool harmonic = false;
    bool counted = false;
    double level_db = -200.0;
    double f0 = 0.0, df = 0.0; // df as numbered, in (-F0/2, F0/2]
    double var_df = 0.0, var_f0 = 0.0, cov = 0.0;
};

double frame_sigma(const Frame& f, int m) {
    double v = f.var_df + m * m * f.var_f0 + 2.0 * m * f.cov;
    return std::sqrt(std::max(v, 0.0) + min_sigma_hz * min_sigma_hz);
}

// Weighted least squares f = k F0 + df over the peaks numbered on `f0` and `df0` (each harmonic
// takes its strongest peak near it); returns the number of peaks taken. `missing` counts the
// harmonics between the lowest and highest taken that have no peak.
int fit_comb(const std::vector<Peak>& peaks, double f0, double df0, Frame& out, int& missing,
             double& share, double& rms) {
    constexpr int max_k = 63;
    std::array<const Peak*, max_k + 1> taken{};
    int n = 0, kmin = max_k, kmax = 0;
    for (const Peak& p : peaks) {
        double k = std::round((p.hz - df0) / f0);
        double r = p.hz - df0 - k * f0;
        if (k < 1 || k > max_k || std::abs(r) > std::max(harmonic_tolerance * f0, 5.0) ||
            taken[size_t(k)]) {
            continue;
        }
        taken[size_t(k)] = &p;
        kmin = std::min(kmin, int(k));
        kmax = std::max(kmax, int(k));
        ++n;
    }
    missing = n > 0 ? (kmax - kmin + 1 - n) : 0;
    if (n < 3) {
        return n;
    }
    double sw = 0, sk = 0, skk = 0, sf = 0, skf = 0;
    for (int k = kmin; k <= kmax; ++k) {
        if (const Peak* p = taken[size_t(k)]) {
            sw += p->weight;
            sk += p->weight * k;
            skk += p->weight * k * k;
            sf += p->weight * p->hz;
            skf += p->weight * k * p->hz;
        }
    }
    double det = sw * skk - sk * sk;
    if (det <= 0) {
        return 0;
    }
    double f0_fit = (sw * skf - sk * sf) / det;
    double df_fit = (skk * sf - sk * skf) / det;
    double ss = 0;
    for (int k = kmin; k <= kmax; ++k) {
        if (const Peak* p = taken[size_t(k)]) {
            double r = p->hz - k * f0_fit - df_fit;
            ss += p->weight * r * r;
        }
    }
    // The peaks' weight the comb takes, against all the peaks' weight over its span.
    double span_weight = 0;
    for (const Peak& p : peaks) {
        double k = (p.hz - df_fit) / f0_fit;
        span_weight += k > kmin - 0.5 && k < kmax + 0.5 ? p.weight : 0.0;
    }
    share = sw / std::max(span_weight, sw);
    rms = std::sqrt(ss / sw);
    // Residual variance per unit weight, floored: a handful of peaks can fit too well by chance.
    double s2 = std::max(ss / (n - 2), 0.25 * sw / n);
    out.f0 = f0_fit;
    out.df = df_fit;
    out.var_f0 = s2 * sw / det;
    out.var_df = s2 * skk / det;
    out.cov = -s2 * sk / det;
    return n;
}

double percentile(std::vector<double>& v, double q) {
    if (v.empty()) {
        return 0.0;
    }
    size_t i = std::min(v.size() - 1, size_t(q * double(v.size())));
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(i), v.end());
    return v[i];
}

} // namespace

struct VoiceEstimator::State {
    kissfft<float> fft{fft_len / 2, false};
    std::vector<float> input = std::vector<float>(frame_len, 0.0f);
    size_t fill = 0;
    std::vector<float> window = std::vector<float>(frame_len);
    std::vector<float> padded = std::vector<float>(fft_len, 0.0f);
    std::vector<std::complex<float>> spectrum = std::vector<std::complex<float>>(fft_len / 2);
    std::vector<double> log_power = std::vector<double>(fft_len / 2);
    std::vector<Peak> peaks;
    std::vector<double> candidates, scratch, scratch2, f0s;

    std::vector<Frame> ring = std::vector<Frame>(ring_size);
    long long frames = 0;             // frames analysed since the start
    long long restart_frame = 0;      // the first frame of the current reading
    long long last_voiced_frame = -1; // the latest frame counted
    std::vector<double> grid = std::vector<double>(grid_points, 0.0); // summed log evidence
    std::vector<double> likelihood = std::vector<double>(grid_points, 0.0);
    double voiced_s = 0.0;
    VoiceReading reading;
};

VoiceEstimator::VoiceEstimator() : state_(new State) {
    for (size_t i = 0; i < frame_len; ++i) {
        state_->window[i] =
            float(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (double(i) + 0.5) / frame_len));
    }
    state_->peaks.reserve(max_peaks);
    state_->candidates.reserve(max_peaks * max_peaks * 4);
    state_->scratch.reserve(presence_frames);
    state_->scratch2.reserve(presence_frames);
    state_->f0s.reserve(ring_size);
}

VoiceEstimator::~VoiceEstimator() {
    delete state_;
}

void VoiceEstimator::reset() {
    State& s = *state_;
    unsigned serial = s.reading.serial + 1;
    std::fill(s.input.begin(), s.input.end(), 0.0f);
    s.fill = 0;
    std::fill(s.ring.begin(), s.ring.end(), Frame{});
    s.frames = 0;
    s.restart_frame = 0;
    s.last_voiced_frame = -1;
    std::fill(s.grid.begin(), s.grid.end(), 0.0);
    s.voiced_s = 0.0;
    s.reading = VoiceReading{};
    s.reading.serial = serial;
}

const VoiceReading& VoiceEstimator::reading() const {
    return state_->reading;
}

namespace {

// The peaks of one frame's spectrum, strongest first.
void find_peaks(const std::vector<double>& lp, std::vector<double>& scratch,
                std::vector<Peak>& peaks) {
    const int lo = int(search_lo_hz / bin_hz), hi = int(search_hi_hz / bin_hz);
    scratch.assign(lp.begin() + lo, lp.begin() + hi);
    double floor = percentile(scratch, 0.2);
    peaks.clear();
    const int lobe = int(fft_len / frame_len) * 2; // the Hann main lobe's half width in bins
    for (int b = lo + 1; b < hi - 1; ++b) {
        if (lp[size_t(b)] < lp[size_t(b) - 1] || lp[size_t(b)] <= lp[size_t(b) + 1] ||
            lp[size_t(b)] < floor + peak_floor_db) {
            continue;
        }
        // Prominence over the lower of the deepest points within a lobe and a half each side.
        double left = lp[size_t(b)], right = lp[size_t(b)];
        for (int j = 1; j <= lobe * 3 / 2; ++j) {
            left = std::min(left, lp[size_t(std::max(b - j, 0))]);
            right = std::min(right, lp[size_t(std::min(b + j, int(lp.size()) - 1))]);
        }
        double prominence = lp[size_t(b)] - std::max(left, right);
        if (prominence < peak_prominence_db) {
            continue;
        }
        double a = lp[size_t(b) - 1], c = lp[size_t(b) + 1], m = lp[size_t(b)];
        double d = a - 2 * m + c;
        double off = d < 0 ? 0.5 * (a - c) / d : 0.0;
        peaks.push_back({(b + off) * bin_hz, std::min(prominence, 30.0) / 30.0});
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const Peak& x, const Peak& y) { return x.weight > y.weight; });
    if (peaks.size() > size_t(max_peaks)) {
        peaks.resize(max_peaks);
    }
}

// The fundamental whose comb best explains the peaks, fitted with df; false when none does.
bool fit_frame(const std::vector<Peak>& peaks, std::vector<double>& candidates, Frame& out) {
    if (peaks.size() < size_t(min_harmonics)) {
        return false;
    }
    candidates.clear();
    const size_t strong = std::min(peaks.size(), size_t(12));
    for (size_t i = 0; i < strong; ++i) {
        for (size_t j = 0; j < strong; ++j) {
            double d = peaks[j].hz - peaks[i].hz;
            for (int n = 1; n <= 4 && d > 0; ++n) {
                if (d / n >= min_f0 && d / n <= max_f0) {
                    candidates.push_back(d / n);
                }
            }
        }
    }
    std::sort(candidates.begin(), candidates.end());
    double best_score = 0;
    bool found = false;
    double last = -1;
    for (double f0 : candidates) {
        if (f0 < last * 1.01) {
            continue; // close to the one just tried
        }
        last = f0;
        // df on this comb from the circular mean of the strong peaks' positions in it
        std::complex<double> z = 0;
        for (size_t i = 0; i < std::min(peaks.size(), size_t(8)); ++i) {
            z += peaks[i].weight * std::polar(1.0, 2.0 * std::numbers::pi * peaks[i].hz / f0);
        }
        double df0 = std::arg(z) / (2.0 * std::numbers::pi) * f0;
        Frame trial = out;
        int missing = 0;
        double share = 0, rms = 0;
        if (fit_comb(peaks, f0, df0, trial, missing, share, rms) < min_harmonics) {
            continue;
        }
        // once more on the fitted comb, which numbers the far peaks better
        int n = fit_comb(peaks, trial.f0, trial.df, trial, missing, share, rms);
        if (n < min_harmonics || trial.f0 < min_f0 || trial.f0 > max_f0 || share < min_share ||
            rms > std::max(max_rms_share * trial.f0, max_rms_hz)) {
            continue;
        }
        double score = n - 1.0 * missing;
        if (score > best_score) {
            best_score = score;
            out = trial;
            found = true;
        }
    }
    if (!found || best_score < min_harmonics) {
        return false;
    }
    // df into (-F0/2, F0/2]: the same comb, the peaks numbered from another harmonic
    double m = std::round(out.df / out.f0);
    out.df -= m * out.f0;
    out.var_df = out.var_df - 2.0 * m * out.cov + m * m * out.var_f0;
    out.cov = out.cov - m * out.var_f0;
    return true;
}

} // namespace

// Adds a frame's evidence to the grid: log(1 + L/floor), L its proposals df + m F0 as Gaussians
// of unit height. Summing logs makes the frames multiply, so an alias must be proposed by
// nearly every frame to keep up with the true df; the floor keeps one wrong frame from vetoing.
void add_to_grid(std::vector<double>& grid, std::vector<double>& likelihood, const Frame& f) {
    std::fill(likelihood.begin(), likelihood.end(), 0.0);
    int mlo = int(std::ceil((-grid_half_hz - f.df) / f.f0));
    int mhi = int(std::floor((grid_half_hz - f.df) / f.f0));
    int lo = grid_points, hi = -1;
    for (int m = mlo; m <= mhi; ++m) {
        double mu = f.df + m * f.f0;
        double sigma = frame_sigma(f, m);
        int c = int(std::lround((mu + grid_half_hz) / grid_step_hz));
        int reach = int(4.0 * sigma / grid_step_hz) + 1;
        for (int g = std::max(c - reach, 0); g <= std::min(c + reach, grid_points - 1); ++g) {
            double x = (g * grid_step_hz - grid_half_hz - mu) / sigma;
            likelihood[size_t(g)] += std::exp(-0.5 * x * x);
        }
        lo = std::min(lo, std::max(c - reach, 0));
        hi = std::max(hi, std::min(c + reach, grid_points - 1));
    }
    for (int g = lo; g <= hi; ++g) {
        if (likelihood[size_t(g)] > 0) {
            grid[size_t(g)] += std::log1p(likelihood[size_t(g)] / likelihood_floor);
        }
    }
}

namespace {

// Whether a frame proposes `df` among its aliases, within its own spread and a tolerance.
bool agrees(const Frame& f, double df) {
    double m = std::round((df - f.df) / f.f0);
    double mu = f.df + m * f.f0;
    return std::abs(mu - df) <= 3.0 * frame_sigma(f, int(m)) + agree_tolerance_hz;
}

// The highest local maximum of the grid at least min_separation_hz from each of `away`; -1 if none.
int highest_peak(const std::vector<double>& grid, const int* away, int away_count) {
    int best = -1;
    const int apart = int(min_separation_hz / grid_step_hz);
    for (int g = 1; g < grid_points - 1; ++g) {
        double v = grid[size_t(g)];
        if (v <= 0 || v < grid[size_t(g) - 1] || v < grid[size_t(g) + 1] ||
            (best >= 0 && v <= grid[size_t(best)])) {
            continue;
        }
        bool near = false;
        for (int k = 0; k < away_count; ++k) {
            near = near || std::abs(g - away[k]) < apart;
        }
        if (!near) {
            best = g;
        }
    }
    return best;
}

} // namespace

// Spread of the fundamentals of the frames counted for the current reading: the 10th to 90th
// percentile over 2.56, a standard deviation that a few frames read an octave off cannot inflate.
double VoiceEstimator::f0_spread(long long now) {
    State& s = *state_;
    s.f0s.clear();
    for (long long j = now; j >= s.restart_frame && j > now - ring_size; --j) {
        const Frame& g = s.ring[size_t(j % ring_size)];
        if (g.counted) {
            s.f0s.push_back(g.f0);
        }
    }
    return (percentile(s.f0s, 0.9) - percentile(s.f0s, 0.1)) / 2.56;
}

int VoiceEstimator::push(const float* samples, size_t count) {
    State& s = *state_;
    int updates = 0;
    for (size_t i = 0; i < count; ++i) {
        s.input[s.fill++] = samples[i];
        if (s.fill < frame_len) {
            continue;
        }
        analyse_frame();
        ++updates;
        std::copy(s.input.begin() + hop, s.input.end(), s.input.begin());
        s.fill = frame_len - hop;
    }
    return updates;
}

void VoiceEstimator::analyse_frame() {
    State& s = *state_;
    Frame& f = s.ring[size_t(s.frames % ring_size)];
    f = Frame{};
    double energy = 0;
    int clipped = 0;
    for (size_t i = 0; i < frame_len; ++i) {
        float x = s.input[i];
        energy += double(x) * x;
        clipped += std::abs(x) >= 0.99f ? 1 : 0;
        s.padded[i] = x * s.window[i];
    }
    f.level_db = 10.0 * std::log10(energy / frame_len + 1e-12);
    // A clipped frame's harmonics carry the clipper's products: it is not analysed.
    if (energy > 1e-12 && clipped <= 2) {
        s.fft.transform_real(s.padded.data(), s.spectrum.data());
        // Only the bins the peak search reads, and those its prominence looks at either side.
        const size_t lo = size_t(search_lo_hz / bin_hz) - 2 * fft_len / frame_len * 2;
        const size_t hi = size_t(search_hi_hz / bin_hz) + 2 * fft_len / frame_len * 2;
        for (size_t b = lo; b < hi; ++b) {
            s.log_power[b] = 10.0 * std::log10(std::norm(s.spectrum[b]) + 1e-20);
        }
        find_peaks(s.log_power, s.scratch, s.peaks);
        f.harmonic = fit_frame(s.peaks, s.candidates, f);
    }
    long long now = s.frames++;

    // Does the stretch that ends here look like speech?
    const long long first = std::max(now - presence_frames + 1, 0LL);
    s.scratch.clear();
    s.scratch2.clear();
    int harmonic = 0;
    const Frame* previous = nullptr;
    for (long long j = first; j <= now; ++j) {
        const Frame& g = s.ring[size_t(j % ring_size)];
        s.scratch.push_back(g.level_db);
        if (!g.harmonic) {
            previous = nullptr;
            continue;
        }
        ++harmonic;
        if (previous) {
            s.scratch2.push_back(std::abs(g.f0 - previous->f0) / g.f0);
        }
        previous = &g;
    }
    const double span = double(now - first + 1);
    bool speech = now - first + 1 >= presence_frames / 2 && harmonic >= 5 &&
                  harmonic >= min_harmonic_share * span && s.scratch2.size() >= 3;
    if (speech) {
        double glide = percentile(s.scratch2, 0.5);
        double spread = percentile(s.scratch, 0.9) - percentile(s.scratch, 0.1);
        speech = glide >= min_glide && spread >= min_level_spread_db;
    }

    // A long silence ends the reading: the next voice may be another station.
    const double frame_s = hop / fs;
    if (s.last_voiced_frame >= 0 && double(now - s.last_voiced_frame) * frame_s > restart_gap_s) {
        restart(now);
    }
    if (speech) {
        for (long long j = std::max(first, s.restart_frame); j <= now; ++j) {
            Frame& g = s.ring[size_t(j % ring_size)];
            if (g.harmonic && !g.counted) {
                g.counted = true;
                add_to_grid(s.grid, s.likelihood, g);
                s.voiced_s += frame_s;
                s.last_voiced_frame = j;
            }
        }
    }
    update_reading(now);
}

void VoiceEstimator::restart(long long from_frame) {
    State& s = *state_;
    std::fill(s.grid.begin(), s.grid.end(), 0.0);
    s.voiced_s = 0.0;
    s.restart_frame = from_frame;
    s.last_voiced_frame = -1;
    unsigned serial = s.reading.serial + 1;
    s.reading = VoiceReading{};
    s.reading.serial = serial;
}

void VoiceEstimator::update_reading(long long now) {
    State& s = *state_;
    VoiceReading& r = s.reading;
    const double frame_s = hop / fs;
    r.voiced_s = s.voiced_s;
    bool active = s.last_voiced_frame >= 0 && double(now - s.last_voiced_frame) * frame_s <= hold_s;
    if (!active) {
        r.state = VoiceState::no_voice;
        return;
    }
    // The highest peak of the grid, then the highest other peak.
    const int top = highest_peak(s.grid, nullptr, 0);
    const int second = highest_peak(s.grid, &top, 1);
    if (top < 0) {
        r.state = VoiceState::listening;
        return;
    }
    double height = s.grid[size_t(top)];
    double lead = second < 0 ? height : height - s.grid[size_t(second)];
    double df = top * grid_step_hz - grid_half_hz;
    if (top > 0 && top < grid_points - 1) {
        double a = s.grid[size_t(top) - 1], b = height, c = s.grid[size_t(top) + 1];
        double d = a - 2 * b + c;
        if (d < 0) {
            df += 0.5 * (a - c) / d * grid_step_hz;
        }
    }

    // The latest voiced frames: do they still agree with the reading? A new voice or a retune
    // leaves them agreeing only by chance; the reading starts again from them.
    if (r.state == VoiceState::reading) {
        int seen = 0, agree = 0;
        for (long long j = now; j >= s.restart_frame && j > now - ring_size && seen < change_window;
             --j) {
            const Frame& g = s.ring[size_t(j % ring_size)];
            if (g.counted) {
                ++seen;
                agree += agrees(g, r.df_hz) ? 1 : 0;
            }
        }
        if (seen == change_window && agree < max_agree_share_change * seen) {
            long long from = now;
            for (int n = 0; from > s.restart_frame && n < change_window; --from) {
                n += s.ring[size_t(from % ring_size)].counted ? 1 : 0;
            }
            restart(from);
            for (long long j = from; j <= now; ++j) {
                Frame& g = s.ring[size_t(j % ring_size)];
                if (g.counted) {
                    add_to_grid(s.grid, s.likelihood, g);
                    s.voiced_s += frame_s;
                    s.last_voiced_frame = j;
                }
            }
            update_reading(now);
            return;
        }
    }

    r.candidate_count = 0;
    if (s.voiced_s < min_voiced_s) {
        r.state = VoiceState::listening;
        return;
    }
    const bool moved = f0_spread(now) >= min_f0_spread_hz; // also fills s.f0s
    if (lead >= min_lead && std::abs(df) <= max_read_hz && moved) {
        // Spread of the counted frames' nearest proposals about the peak.
        double sw = 0, swx = 0, swxx = 0;
        int n = 0;
        for (long long j = now; j >= s.restart_frame && j > now - ring_size; --j) {
            const Frame& g = s.ring[size_t(j % ring_size)];
            if (!g.counted) {
                continue;
            }
            double m = std::round((df - g.df) / g.f0);
            double sigma = frame_sigma(g, int(m));
            double x = g.df + m * g.f0 - df;
            if (std::abs(x) > 3.0 * sigma) {
                continue;
            }
            double w = 1.0 / (sigma * sigma);
            sw += w;
            swx += w * x;
            swxx += w * x * x;
            ++n;
        }
        if (n >= 3) {
            // Neighbouring frames overlap and share a syllable's errors: about one in
            // frames_per_error is independent. The floor stands for what the frames share
            // whatever their number (a voice's envelope pulling its peaks, as measured).
            double mean = swx / sw;
            double var = std::max(swxx / sw - mean * mean, 0.0);
            r.state = VoiceState::reading;
            r.df_hz = df;
            r.uncertainty_hz =
                std::sqrt((var + 1.0 / sw) * frames_per_error / n + systematic_hz * systematic_hz);
            return;
        }
    }
    if (s.voiced_s < ambiguous_after_s) {
        r.state = VoiceState::listening;
        return;
    }
    // Ambiguous: the peaks of the grid within the range that come within min_lead of the top.
    r.state = VoiceState::ambiguous;
    std::array<int, 8> visited{};
    int visits = 0;
    for (int centre = top; centre >= 0 && visits < int(visited.size()) &&
                           r.candidate_count < VoiceReading::max_candidates;) {
        visited[size_t(visits++)] = centre;
        double hz = centre * grid_step_hz - grid_half_hz;
        if (s.grid[size_t(centre)] < height - min_lead) {
            break;
        }
        if (std::abs(hz) <= max_read_hz) {
            r.candidates_hz[r.candidate_count++] = hz;
        }
        centre = highest_peak(s.grid, visited.data(), visits);
    }
    // A pitch that has hardly moved leaves the top's own aliases open, however far it leads.
    if (!moved && r.candidate_count == 1) {
        const double f0 = percentile(s.f0s, 0.5);
        for (double alias : {df - f0, df + f0}) {
            if (std::abs(alias) <= max_read_hz) {
                r.candidates_hz[r.candidate_count++] = alias;
            }
        }
    }
    if (r.candidate_count < 2) {
        r.state = VoiceState::listening;
        r.candidate_count = 0;
    }
}

const char* voice_state_text(VoiceState s) {
    switch (s) {
    case VoiceState::listening:
        return "Listening...";
    case VoiceState::reading:
        return "Reading";
    case VoiceState::ambiguous:
        return "Ambiguous";
    case VoiceState::no_voice:
        break;
    }
    return "No voice";
}

} // namespace dsp
