#pragma once
// Every bound the launcher puts on a transfer, in one place. libcurl's own defaults wait for
// ever on a silent server and follow any number of redirects to any scheme it knows; a
// launcher that runs unattended must give up on its own instead.

#include <cstddef>
#include <cstdint>

// Time allowed to establish the connection (name resolution included).
inline constexpr long kConnectTimeoutSeconds = 30;

// A transfer that moves fewer than kLowSpeedLimitBytesPerSecond bytes per second for
// kLowSpeedTimeSeconds in a row fails. It applies to both forms: the memory form runs on the
// user-interface thread and has no other way out of a stalled server.
inline constexpr long kLowSpeedLimitBytesPerSecond = 1;
inline constexpr long kLowSpeedTimeSeconds = 60;

// Test hook: when this environment variable holds a whole number of seconds between 1 and
// kMaxLowSpeedTimeSeconds, it replaces kLowSpeedTimeSeconds for every CCurlWrapper created
// afterwards, so that stall tests of whole programs do not wait a minute. In-process tests use
// CCurlWrapper::SetLowSpeedTime instead.
inline constexpr const char* kLowSpeedTimeVariable = "VELMORA_LOW_SPEED_TIME";
inline constexpr long kMaxLowSpeedTimeSeconds = 3600;

// The memory form (the catalogue) must also end within this time as a whole: a server that
// trickles a byte a second keeps clear of the stall rule and would otherwise hold the player
// before any window for as long as it likes. The file form has no such limit: a large patch
// file may take hours on a slow line.
inline constexpr long kMemoryTimeLimitSeconds = 120;

// Test hook, read like kLowSpeedTimeVariable: replaces kMemoryTimeLimitSeconds for every
// CCurlWrapper created afterwards (1 to kMaxLowSpeedTimeSeconds).
inline constexpr const char* kMemoryTimeLimitVariable = "VELMORA_CATALOGUE_TIME_LIMIT";

// Redirects followed before the transfer fails; the 21st is refused.
inline constexpr long kMaxRedirects = 20;

// Sent with every request, so a publisher can count launcher versions in its logs.
inline constexpr const char* kUserAgent = "velmora-launcher/" VELMORA_VERSION_TEXT;

// Schemes allowed for the first request and for every redirect. HTTPS is verified against the
// system's certificate store (libcurl's defaults are left as they are). A launcher built with
// VELMORA_REQUIRE_HTTPS never speaks plain HTTP, not even after a redirect.
#if defined(VELMORA_REQUIRE_HTTPS)
inline constexpr const char* kAllowedProtocols = "https";
inline constexpr bool kHttpsOnly = true;
#else
inline constexpr const char* kAllowedProtocols = "http,https";
inline constexpr bool kHttpsOnly = false;
#endif

// Largest body the memory form accepts, counting body bytes only (the terminating NUL is not
// counted, so a full buffer holds kMaxMemoryBody + 1 bytes). A catalogue is a few kilobytes; an
// endless answer must not exhaust memory.
inline constexpr std::uint32_t kMaxMemoryBody = 16u * 1024u * 1024u;

// A large file comes over up to kMaxConnections connections at once, each fetching ranges of
// it, when the server honours ranges and at least kRangedMinimumBytes of it are still to come;
// a smaller file, or one from a server that ignores ranges, comes over one. Several connections
// pay off against a server that caps each connection and on a long path; on a fast local link
// they cost nothing. A rate cap (--limit-rate) holds one connection to it, so a capped run
// fetches over one.
inline constexpr std::size_t kMaxConnections = 4;
// When this environment variable holds a whole number from 1 to kMaxConnections, it is the most
// connections a file comes over (1: every file over one), for a network or proxy that takes
// badly to several.
inline constexpr const char* kConnectionsVariable = "VELMORA_CONNECTIONS";
inline constexpr std::int64_t kRangedMinimumBytes = 8 * 1024 * 1024;
