#include "transfer/curl_result.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>

namespace {

struct Row {
    CURLcode code;
    CurlResultClass meaning;
};

constexpr CurlResultClass kNameNotFound{NetworkReason::kNameNotFound, false};
// A server that restarts refuses connections for a moment.
constexpr CurlResultClass kRefused{NetworkReason::kRefused, true};
// A connection cut or reset on its way: the next one may well get through.
constexpr CurlResultClass kCut{NetworkReason::kOther, true};
// The TLS layer fails the same way on every try.
constexpr CurlResultClass kTls{NetworkReason::kSecureConnection, false};

// By name, not by number: the numbers are libcurl's to keep, and a name that leaves the
// library fails the build instead of silently meaning something else.
constexpr Row kRows[] = {
    {CURLE_COULDNT_RESOLVE_PROXY, kNameNotFound},
    {CURLE_COULDNT_RESOLVE_HOST, kNameNotFound},
    {CURLE_COULDNT_CONNECT, kRefused},
    {CURLE_PARTIAL_FILE, kCut},
    {CURLE_RECV_ERROR, kCut},
    {CURLE_SEND_ERROR, kCut},
    {CURLE_GOT_NOTHING, kCut},
    {CURLE_HTTP2, kCut},
    {CURLE_HTTP2_STREAM, kCut},
    // Handshake, certificates, keys, revocation, pinning.
    {CURLE_SSL_CONNECT_ERROR, kTls},
    {CURLE_SSL_ENGINE_NOTFOUND, kTls},
    {CURLE_SSL_ENGINE_SETFAILED, kTls},
    {CURLE_SSL_CERTPROBLEM, kTls},
    {CURLE_SSL_CIPHER, kTls},
    {CURLE_PEER_FAILED_VERIFICATION, kTls},
    {CURLE_USE_SSL_FAILED, kTls},
    {CURLE_SSL_ENGINE_INITFAILED, kTls},
    {CURLE_SSL_CACERT_BADFILE, kTls},
    {CURLE_SSL_SHUTDOWN_FAILED, kTls},
    {CURLE_SSL_CRL_BADFILE, kTls},
    {CURLE_SSL_ISSUER_ERROR, kTls},
    {CURLE_SSL_PINNEDPUBKEYNOTMATCH, kTls},
    {CURLE_SSL_INVALIDCERTSTATUS, kTls},
#if LIBCURL_VERSION_NUM >= 0x074d00
    {CURLE_SSL_CLIENTCERT, kTls},
#endif
};

}  // namespace

CurlResultClass ClassifyCurlResult(int code) {
    for (const Row& row : kRows)
        if (row.code == code)
            return row.meaning;
    return {};
}

CertificateProblem ClassifyCertificateProblem(long verifyResult) {
    switch (verifyResult) {
        // libcurl checks the name before it reads the chain's verdict, so a name that does not
        // match leaves the value the verdict started with: X509_V_ERR_UNSPECIFIED with libcurl
        // 7.88 (seen against a loopback server), X509_V_OK by its documentation.
        case X509_V_OK:
        case X509_V_ERR_UNSPECIFIED:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return CertificateProblem::kOtherName;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CRL_HAS_EXPIRED:
            return CertificateProblem::kExpired;
        default:
            // An unknown issuer, a self-signed or broken chain, a revoked or not yet valid
            // certificate: whatever the detail, this server cannot be trusted as it stands.
            return CertificateProblem::kNotTrusted;
    }
}
