#pragma once
// Hints to the operating system about how a file is going to be read. A hint that is not
// taken changes nothing but speed.

#include <cstdio>

namespace platform {

// The stream will be read once, from where it stands to its end: the system may read further
// ahead of it. A file that is not in memory yet (the first start after a reboot) then arrives
// in larger requests that overlap with the work on the part already read.
void AdviseSequentialRead(std::FILE* file);

}  // namespace platform
