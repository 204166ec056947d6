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

// Why the server's certificate was refused, in the player's words (messages 290 to 292).
enum class CertificateProblem { kNotTrusted, kOtherName, kExpired };

// verifyResult is the TLS library's verdict on the chain (OpenSSL's X509_V_ERR_* numbers, as
// CURLINFO_SSL_VERIFYRESULT gives them). A certificate libcurl refused without a verdict on its
// chain (X509_V_OK, X509_V_ERR_UNSPECIFIED) failed its check of the host name: it was made for
// another name.
CertificateProblem ClassifyCertificateProblem(long verifyResult);
