// Fuzz target: any byte string as the tab-stop argument. It must be accepted
// exactly when it is optional white space, an optional sign and decimal digits
// with nothing after them, worth 1 to MAX_TAB_STOP; then the value must be that number.

#include "filter/filter_state.h"
#include "front/command_line.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The rule written out by hand, independently of strtol.
std::int32_t expected_value(const std::string &arg)
{
    std::size_t i = 0;
    while (i < arg.size() && (arg[i] == ' ' || (arg[i] >= '\t' && arg[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < arg.size() && (arg[i] == '+' || arg[i] == '-'))
        negative = arg[i++] == '-';
    const std::size_t digits = i;
    long value = 0;
    for (; i < arg.size() && arg[i] >= '0' && arg[i] <= '9'; ++i)
        // Saturates well above the largest tab stop.
        value = value > 10L * MAX_TAB_STOP ? value : value * 10 + (arg[i] - '0');
    if (i == digits || i != arg.size() || negative || value < 1 || value > MAX_TAB_STOP)
        return 0;
    return static_cast<std::int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // An argument ends at its first NUL, as a command-line argument must.
    std::string arg(reinterpret_cast<const char *>(data), size);
    arg = arg.substr(0, arg.find('\0'));
    if (tab_stop_value(arg.c_str()) != expected_value(arg))
        std::abort();
    return 0;
}
