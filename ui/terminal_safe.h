#pragma once
// Text from the catalogue or the network is not ours: a release note or a version text may
// carry escape sequences that would move the cursor, retitle the window or rewrite what the
// person reads. Before such text reaches a terminal, every control character except tab and
// line feed is replaced by U+FFFD, one for one, so that a line keeps its length (the progress
// line is cut to the terminal's width by counting characters).

#include <string>
#include <string_view>

// Replaces the C0 controls other than tab and line feed, DEL, the C1 controls (U+0080 to
// U+009F, which a terminal may read as ESC sequences of their own) and U+2028/U+2029 with
// U+FFFD (WithoutControls).
std::wstring TerminalSafe(std::wstring_view text);
