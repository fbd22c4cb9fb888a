// SPDX-License-Identifier: GPL-3.0-or-later
// main() of the Linux meter: its options, the simulated link for --demo, then the host.
#include "meter/meter.h"

#include "platform/host.h"
#include "platform/wave_backend.h"
#include "sim/path_options.h"

int main(int argc, char** argv) {
    if (const int code = parse_meter_options(argc, argv); code >= 0) {
        return code;
    }
    if (meter_options.demo) {
        auto path = radio_path::RadioPath::create();
        radio_path::apply(*path, meter_path_options);
        path->set_recording(false); // it may run for hours
        path->set_station(meter_options.listen);
        platform::wave::set_backend(path);
        meter_demo_path = path;
    }
    // The toolkit sees only the program name: the options were ours.
    static int host_argc = 1;
    static char* host_argv[] = {argv[0], nullptr};
    return platform::host_main(host_argc, host_argv, &WinMain);
}
