#pragma once
// Whether an X server takes this program as a client: the connection setup of the X11
// protocol, done by hand so that the launcher maps no X library to ask.

#include <string>

namespace platform {

// display as $DISPLAY spells it ("[protocol/][host]:number[.screen]", or a socket path before
// the colon); the cookie is taken from $XAUTHORITY, else ~/.Xauthority. False, with the reason
// in English, when the display cannot be reached in a few seconds or the server refuses.
bool X11ServerAccepts(const std::string& display, std::wstring& reason);

}  // namespace platform
