// SPDX-License-Identifier: GPL-3.0-or-later
// shot_check locate SHOT.ppm               prints the dialog's client origin on screen: "X Y"
// shot_check idle SHOT.ppm X Y             tone off: idle pane, silent XY pane, no curve
// shot_check playing SHOT.ppm X Y          tone on: reference pane and the figure-eight
// shot_check silent SHOT.ppm X Y           tone on, silent input: reference pane, centre dot
// shot_check f1-only SHOT.ppm X Y          tone on, 1000 Hz alone in: reference pane, flat line
// shot_check button SHOT.ppm X Y           prints the On/Off button's centre on screen: "X Y"
// Exit 0 when the picture is right, 1 when not (what is wrong on standard error), 2 on bad use.
#include "tests/tools/shot_check/screen.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace shot_check;

namespace {

int report(const std::string& problem) {
    if (!problem.empty()) {
        std::fprintf(stderr, "shot_check: %s\n", problem.c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(
            stderr, "usage: shot_check locate|idle|playing|silent|f1-only|button SHOT.ppm [X Y]\n");
        return 2;
    }
    const std::string mode = argv[1];
    Image image;
    if (!read_ppm(argv[2], image)) {
        std::fprintf(stderr, "shot_check: %s is not a P6 picture\n", argv[2]);
        return 2;
    }
    Point origin;
    if (mode == "locate") {
        if (!locate_dialog(image, origin)) {
            return report("no idle or reference pane on the screen");
        }
        std::printf("%d %d\n", origin.x, origin.y);
        return 0;
    }
    if (argc != 5) {
        return 2;
    }
    origin = {std::atoi(argv[3]), std::atoi(argv[4])};
    if (is_pane_mode(mode)) {
        return report(check_panes(mode, image, origin));
    }
    if (mode == "button") {
        // The On/Off button: 20 x 61 dialog units at (122, 17), 1.5 pixels a unit.
        std::printf("%d %d\n", origin.x + 198, origin.y + 71);
        return 0;
    }
    return 2;
}
