#pragma once
// The pauses before the next try of a download that failed in a way that may pass. Many players
// meet a busy server at the same moment (a patch has just been released); pauses of a fixed
// length would bring them back in the same waves, so every pause is drawn at random below a
// bound that doubles with each try ("full jitter"), and a server's Retry-After gets a random
// share of the base added. Each kind of trouble has its own budget of pause time: a server
// that says it is busy is waited for minutes, a network that is gone for a shorter while.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>

#include "text/failure.h"

enum class RetryKind {
    kServerBusy,   // 503, 429, or any answer with a Retry-After
    kNetworkGone,  // everything else that may pass: no connection, a cut one, a stall, a 5xx
};

struct BackoffSettings {
    std::chrono::milliseconds base{std::chrono::seconds(2)};
    std::chrono::milliseconds cap{std::chrono::seconds(60)};
    // The pause time one download may spend on each kind before it gives up.
    std::chrono::milliseconds busyBudget{std::chrono::minutes(5)};
    std::chrono::milliseconds networkBudget{std::chrono::seconds(90)};
    // A Retry-After is honoured up to this long (its jitter comes on top).
    std::chrono::milliseconds maxRetryAfter{std::chrono::minutes(2)};
};

// The settings of the patch files; the catalogue and its signature use CatalogueBackoff.
BackoffSettings FileBackoff();
// Shorter: the checking window is up meanwhile, and its "start the game" button must not lead
// to a long wait before the game is started anyway.
BackoffSettings CatalogueBackoff();

// The kind of a failure IsTransientFailure accepted; retryAfterSeconds as the wrapper read it
// (-1: none).
RetryKind KindOfRetry(const Failure& failure, long retryAfterSeconds);

// The schedule of one download. The random source is seeded by the caller, so that a test
// can know every pause in advance.
class RetryBackoff {
  public:
    RetryBackoff(const BackoffSettings& settings, std::uint64_t seed);

    // The pause before the next try, or nothing once the pause would take the kind's spent
    // time past its budget (nothing is spent then).
    std::optional<std::chrono::milliseconds> NextPause(RetryKind kind, long retryAfterSeconds);
    // The tries granted so far.
    unsigned Retries() const { return m_retries; }

  private:
    BackoffSettings m_settings;
    std::mt19937_64 m_random;
    unsigned m_retries = 0;
    std::chrono::milliseconds m_spentBusy{0};
    std::chrono::milliseconds m_spentNetwork{0};
};

// A seed for a run that nobody needs to replay.
std::uint64_t FreshBackoffSeed();
