#pragma once
// Asks a download server about one file the way a resuming launcher would: a GET for the first
// byte only. The answer tells the file's size and whether the server honours byte ranges, which
// is what an interrupted download needs to go on where it stopped.

#include <cstdint>
#include <string>

struct UrlProbe {
    bool answered = false;        // an HTTP answer arrived (of any status)
    std::string failure;          // libcurl's words when no answer arrived
    long status = 0;              // the final answer's HTTP status, after redirects
    std::int64_t size = -1;       // the file's whole size; -1 when the server did not say
    bool rangesHonoured = false;  // 206 with a Content-Range (or 416 for an empty file)
    std::string finalUrl;         // where the redirects, if any, ended
};

// At most one byte of the body is kept; a server that ignores the range is cut off after its
// headers rather than read to the end. Redirects are followed as the launcher follows them
// (http and https only, at most 20). Bounded in time: no answer within the connect and
// low-speed limits is a failure, never a hang.
UrlProbe ProbeUrl(const std::string& url);
