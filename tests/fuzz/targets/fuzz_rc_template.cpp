// Any bytes as a resource script: the reader either returns templates or a line and a reason,
// and never crashes, hangs or reads outside the script.
#include "platform/rc_template.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so a read past the end is caught.
    const std::unique_ptr<char[]> copy(new char[size]);
    std::copy(data, data + size, copy.get());
    const std::string_view script(copy.get(), size);

    platform::rc::ParseError error{};
    const auto dialogs = platform::rc::parse_dialogs(script, &error);
    const long lines = std::count(script.begin(), script.end(), '\n') + 1;
    if (!error.message.empty()) {
        if (!dialogs.empty() || error.line < 1 || error.line > lines) {
            std::abort();
        }
        return 0;
    }
    // What parses can be found again by name, in any case.
    for (const auto& d : dialogs) {
        std::string upper = d.name;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (!platform::rc::find_dialog(script, upper).has_value()) {
            std::abort();
        }
    }
    return 0;
}
