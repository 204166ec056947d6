#include "ui/terminal_safe.h"

#include "text/utf8.h"

// The log follows the same rule, so it lives below both.
std::wstring TerminalSafe(std::wstring_view text) {
    return WithoutControls(text);
}
