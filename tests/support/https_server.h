#pragma once
// An HTTPS server on 127.0.0.1 for the certificate tests, serving one body at every path, with
// certificates the openssl program makes in a test's folder.

#include <memory>
#include <string>

class TempDir;

// In folder: ca.crt (an authority), and leaf certificates signed by it for 127.0.0.1
// (sound.crt), for another name (other.crt) and already expired (expired.crt), and one that
// signs itself (stranger.crt); every leaf with leaf.key. False when openssl failed.
bool MakeTestCertificates(const TempDir& folder);

class HttpsServer {
  public:
    HttpsServer(const std::string& certificate, const std::string& key, std::string body);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    bool IsRunning() const;
    // "https://127.0.0.1:<port>" followed by path.
    std::string Url(const std::string& path) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
