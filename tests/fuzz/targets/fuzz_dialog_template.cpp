// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as a compiled resource file: the reader either returns templates or names a fault,
// and never crashes, hangs or reads outside the file.
#include "platform/dialog_template.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so a read past the end is caught.
    const std::unique_ptr<unsigned char[]> copy(new unsigned char[size]);
    std::copy(data, data + size, copy.get());
    const std::span<const unsigned char> res(copy.get(), size);

    std::string fault;
    const auto dialogs = platform::resources::read_dialogs(res, &fault);
    if (!fault.empty()) {
        if (!dialogs.empty()) {
            std::abort();
        }
        return 0;
    }
    // What is read can be found again by name, in any case.
    for (const auto& d : dialogs) {
        std::string lower = d.name;
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (!platform::resources::find_dialog(res, lower).has_value()) {
            std::abort();
        }
    }
    return 0;
}
