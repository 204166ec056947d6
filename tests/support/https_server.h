#pragma once
// An HTTPS server on 127.0.0.1 for the certificate tests, serving one body at every path.

#include <httplib.h>

#include <string>
#include <thread>

class TempDir;

// Made by openssl in folder: ca.crt (an authority), leaves signed by it for 127.0.0.1
// (sound.crt), for another name (other.crt) and already expired (expired.crt), and one signed by
// itself (stranger.crt); every leaf with leaf.key. False when openssl failed.
bool MakeTestCertificates(const TempDir& folder);

class HttpsServer {
  public:
    HttpsServer(const std::string& certificate, const std::string& key, const std::string& body);
    ~HttpsServer();

    bool IsRunning() const { return m_port > 0 && m_server.is_running(); }
    std::string Url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(m_port) + path;
    }

  private:
    httplib::SSLServer m_server;
    std::thread m_thread;
    int m_port = -1;
};
