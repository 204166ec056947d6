#include "transfer/retry_backoff.h"

#include <algorithm>

using std::chrono::milliseconds;

BackoffSettings FileBackoff() {
    return BackoffSettings{};
}

BackoffSettings CatalogueBackoff() {
    BackoffSettings settings;
    settings.base = std::chrono::seconds(1);
    settings.cap = std::chrono::seconds(15);
    settings.busyBudget = std::chrono::seconds(60);
    settings.networkBudget = std::chrono::seconds(10);
    settings.maxRetryAfter = std::chrono::seconds(30);
    return settings;
}

RetryKind KindOfRetry(const Failure& failure, long retryAfterSeconds) {
    if (failure.cause == FailureClass::kHttpStatus &&
        (retryAfterSeconds >= 0 || failure.code == 503 || failure.code == 429))
        return RetryKind::kServerBusy;
    return RetryKind::kNetworkGone;
}

RetryBackoff::RetryBackoff(const BackoffSettings& settings, std::uint64_t seed)
    : m_settings(settings), m_random(seed) {}

std::optional<milliseconds> RetryBackoff::NextPause(RetryKind kind, long retryAfterSeconds) {
    // The bound doubles per try until the cap; the shift stops well before it could overflow.
    const unsigned doublings = std::min(m_retries, 30u);
    const milliseconds bound = std::min<milliseconds>(
        m_settings.cap, m_settings.base * static_cast<milliseconds::rep>(1LL << doublings));
    milliseconds pause;
    if (retryAfterSeconds >= 0) {
        const milliseconds asked = std::min<milliseconds>(std::chrono::seconds(retryAfterSeconds),
                                                          m_settings.maxRetryAfter);
        std::uniform_int_distribution<long long> jitter(0, m_settings.base.count());
        pause = asked + milliseconds(jitter(m_random));
    } else {
        std::uniform_int_distribution<long long> draw(0, bound.count());
        pause = milliseconds(draw(m_random));
    }
    milliseconds& spent = kind == RetryKind::kServerBusy ? m_spentBusy : m_spentNetwork;
    const milliseconds budget =
        kind == RetryKind::kServerBusy ? m_settings.busyBudget : m_settings.networkBudget;
    // A pause of nothing still costs a try; a budget of nothing grants none.
    if (spent + pause > budget || budget.count() == 0)
        return std::nullopt;
    spent += std::max(pause, milliseconds(1));
    ++m_retries;
    return pause;
}

std::uint64_t FreshBackoffSeed() {
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device() ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}
