#pragma once
// libcurl's result codes, sorted once by what they mean to the launcher: whether another try in
// the same run may succeed, and which reason the player reads when the server cannot be reached.

// The reason the player reads (messages 232 to 235).
enum class NetworkReason { kNameNotFound, kRefused, kSecureConnection, kOther };

struct CurlResultClass {
    NetworkReason reason = NetworkReason::kOther;
    bool retryable = false;
};

// code is a CURLcode; one the table does not name reads as kOther and is not tried again.
CurlResultClass ClassifyCurlResult(int code);
