// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/slope_fit.h"

#include <algorithm>

namespace dsp {

void SlopeFit::add(int64_t index, double y, double v, double weight) {
    if (count_ == 0) {
        t0_ = index;
        y0_ = y;
        v0_ = v;
        t_first_ = t_last_ = index;
    }
    t_first_ = std::min(t_first_, index);
    t_last_ = std::max(t_last_, index);
    const double w = weight;
    const double t = static_cast<double>(index - t0_);
    sw_ += w;
    st_ += w * t;
    sy_ += w * (y - y0_);
    stt_ += w * t * t;
    sty_ += w * t * (y - y0_);
    sv_ += w * (v - v0_);
    stv_ += w * t * (v - v0_);
    ++count_;
}

void SlopeFit::add_current_piece(double& stt, double& sty, double& stv) const {
    if (sw_ > 0.0) {
        stt += stt_ - st_ * st_ / sw_;
        sty += sty_ - st_ * sy_ / sw_;
        stv += stv_ - st_ * sv_ / sw_;
    }
}

void SlopeFit::next_piece() {
    if (sw_ > 0.0) {
        add_current_piece(stt_done_, sty_done_, stv_done_);
        ++pieces_;
    }
    sw_ = st_ = sy_ = stt_ = sty_ = sv_ = stv_ = 0.0;
}

bool SlopeFit::solve(double& y_slope, double& v_slope) const {
    // One piece: the plain formula, whose results the readings have always had to the last bit.
    if (pieces_ == 0) {
        const double denom = sw_ * stt_ - st_ * st_;
        if (!(denom > 0.0)) {
            return false;
        }
        y_slope = (sw_ * sty_ - st_ * sy_) / denom;
        v_slope = (sw_ * stv_ - st_ * sv_) / denom;
        return true;
    }
    double stt = stt_done_, sty = sty_done_, stv = stv_done_;
    add_current_piece(stt, sty, stv);
    if (!(stt > 0.0)) {
        return false;
    }
    y_slope = sty / stt;
    v_slope = stv / stt;
    return true;
}

} // namespace dsp
