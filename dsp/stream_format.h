// SPDX-License-Identifier: GPL-3.0-or-later
// The one stream format, played and captured alike: unsigned 8-bit mono PCM, so bytes and samples
// are the same thing. Header only: the platform and the simulated link use it too.
#pragma once

namespace dsp {

// 11025 per second, a quarter of 44.1 kHz: the lowest rate every sound card offers, and its
// 5.5-kHz band holds both tones and the whole of an SSB channel.
constexpr int sample_rate_hz = 11025;

// The format's own zero: 8-bit PCM is unsigned about 0x80. A sound card records it with nothing on
// its input, the platform plays it when the queue runs dry, and levels are measured about it.
constexpr unsigned char silence_byte = 128;

// The two-tone's own centre, one step below: the synthesizer writes (sin 2p + sin p) x 63 + 127,
// truncated. The band-pass pair takes it off each sample, so the tone it sent draws the figure
// about the pane's centre, and the capture window starts filled with it, so the first figure is
// the centre dot.
constexpr unsigned char tone_centre_byte = 127;

} // namespace dsp
