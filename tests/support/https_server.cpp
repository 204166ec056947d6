#include "tests/support/https_server.h"

#include <chrono>
#include <cstdlib>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

bool MakeTestCertificates(const TempDir& folder) {
    // One key for every leaf: only the certificates differ from row to row.
    const std::string script =
        "cd " + ShellQuote(folder.NarrowPath()) +
        " && K='-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes'"
        " && openssl req -x509 $K -keyout ca.key -out ca.crt -days 2 -subj /CN=VelmoraTestCA"
        " && openssl req $K -keyout leaf.key -out leaf.csr -subj /CN=leaf"
        " && echo subjectAltName=IP:127.0.0.1 >here.ext"
        " && echo subjectAltName=DNS:other.example >other.ext"
        " && S='x509 -req -in leaf.csr -CA ca.crt -CAkey ca.key -CAcreateserial'"
        " && openssl $S -days 2 -extfile here.ext -out sound.crt"
        " && openssl $S -days 2 -extfile other.ext -out other.crt"
        " && openssl $S -days -1 -extfile here.ext -out expired.crt"
        " && openssl req -x509 -key leaf.key -out stranger.crt -days 2 -subj /CN=stranger"
        " -addext subjectAltName=IP:127.0.0.1";
    return std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
}

HttpsServer::HttpsServer(const std::string& certificate, const std::string& key,
                         const std::string& body)
    : m_server(certificate.c_str(), key.c_str()) {
    m_server.Get(".*", [body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "application/xml");
    });
    m_port = m_server.is_valid() ? m_server.bind_to_any_port("127.0.0.1") : -1;
    if (m_port <= 0)
        return;
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_server.is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

HttpsServer::~HttpsServer() {
    if (m_thread.joinable()) {
        m_server.stop();
        m_thread.join();
    }
}
