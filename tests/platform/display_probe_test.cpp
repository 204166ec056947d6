// The front end is chosen by whether a display server really answers, not by the variables alone.

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"

namespace {

class DisplayProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The player's cookie for display 0 of any host, in the file format of xauth.
        const std::string record = std::string(
                                       "\xff\xff\0\0\0\1"
                                       "0\0\x12",
                                       9) +
                                   "MIT-MAGIC-COOKIE-1" + std::string("\0\x10", 2) + kCookie;
        std::ofstream(m_dir.NarrowPath() + "/Xauthority", std::ios::binary) << record;
        m_xauthority.Set(m_dir.NarrowPath() + "/Xauthority");
    }
    void TearDown() override {
        if (m_server.joinable())
            m_server.join();
        if (m_listener >= 0)
            close(m_listener);
    }

    // An X server of one connection: it answers the setup with success when the request
    // carries the cookie, with "Authorization required" when not, and with nothing at all
    // when silent is set (it closes the connection).
    void ServeX11(bool silent) {
        EXPECT_EQ(listen(m_listener, 4), 0);
        m_server = std::thread([this, silent] {
            const int client = accept(m_listener, nullptr, nullptr);
            if (client < 0)
                return;
            char request[256];
            const ssize_t got = recv(client, request, sizeof request, 0);
            const std::string text(request, got > 0 ? static_cast<std::size_t>(got) : 0);
            const std::string refusal = "Authorization required";
            std::string reply;
            if (text.find(kCookie) != std::string::npos)
                reply = std::string("\1\0\0\x0b\0\0\0\0", 8);
            else
                reply = std::string(1, '\0') + static_cast<char>(refusal.size()) +
                        std::string("\0\x0b\0\0\0\x06", 6) + refusal + "\0\0";
            if (!silent)
                send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
            close(client);
        });
    }
    std::string ListenLocal(const std::string& name) {
        const std::string path = m_dir.NarrowPath() + "/" + name;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        m_listener = socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        return path;
    }
    // A loopback TCP port as an X display number (port 6000 + n); the port is left closed
    // unless ServeX11 listens on it.
    std::string ListenTcp() {
        m_listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address);
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        const int port = ntohs(address.sin_port);
        EXPECT_GE(port, 6000);
        return "127.0.0.1:" + std::to_string(port - 6000);
    }
    static bool X11Answers(const std::string& display, std::string* reason = nullptr) {
        setenv("DISPLAY", display.c_str(), 1);
        std::wstring why;
        const bool present = platform::HasDisplay(&why);
        if (reason != nullptr)
            *reason = WideToUtf8(std::wstring_view(why));
        return present;
    }

    static constexpr char kCookie[] = "0123456789abcdef";
    std::thread m_server;
    TempDir m_dir;
    int m_listener = -1;

    // Every variable the probe reads, put back as it was after each test.
    ScopedEnv m_display{"DISPLAY", std::nullopt};
    ScopedEnv m_wayland{"WAYLAND_DISPLAY", std::nullopt};
    ScopedEnv m_xauthority{"XAUTHORITY", std::nullopt};
};

TEST_F(DisplayProbeTest, NoVariablesMeanNoDisplay) {
    EXPECT_FALSE(platform::HasDisplay());
}

TEST_F(DisplayProbeTest, AnX11DisplayWithoutServerIsNoDisplay) {
    setenv("DISPLAY", ":9876", 1);
    EXPECT_FALSE(platform::HasDisplay());
    setenv("DISPLAY", "garbage", 1);
    EXPECT_FALSE(platform::HasDisplay());
}

// A display that is set but refuses, or is gone, leaves the console to serve instead of Qt's
// abort; the reason names what happened.
TEST_F(DisplayProbeTest, AnX11ServerCountsOnlyWhenItAcceptsThePlayersCookie) {
    std::string reason;
    const std::string socket = ListenLocal("X0");
    ServeX11(false);
    EXPECT_TRUE(X11Answers(socket, &reason)) << reason;
    m_server.join();

    ServeX11(false);
    std::ofstream(m_dir.NarrowPath() + "/Xauthority") << "damaged";
    EXPECT_FALSE(X11Answers(socket, &reason));
    EXPECT_NE(reason.find("refuses this program"), std::string::npos) << reason;
    EXPECT_NE(reason.find("Authorization required"), std::string::npos) << reason;
    m_server.join();

    ServeX11(true);
    EXPECT_FALSE(X11Answers(socket + ".0", &reason));
    EXPECT_NE(reason.find("did not answer"), std::string::npos) << reason;
}

TEST_F(DisplayProbeTest, ARemoteFormDisplayIsProbedOverTcp) {
    std::string reason;
    const std::string display = ListenTcp();
    // A closed ssh -X session: nothing listens at the port any more.
    EXPECT_FALSE(X11Answers(display, &reason));
    EXPECT_NE(reason.find("cannot connect"), std::string::npos) << reason;
    ServeX11(false);
    std::ofstream(m_dir.NarrowPath() + "/Xauthority") << "";
    EXPECT_FALSE(X11Answers(display + ".0", &reason));
    EXPECT_NE(reason.find("no cookie"), std::string::npos) << reason;
}

TEST_F(DisplayProbeTest, AWaylandSocketThatAnswersIsADisplay) {
    const std::string path = ListenLocal("wayland-test");
    EXPECT_EQ(listen(m_listener, 4), 0);
    setenv("WAYLAND_DISPLAY", path.c_str(), 1);
    EXPECT_TRUE(platform::HasDisplay());
    close(m_listener);
    m_listener = -1;
    unlink(path.c_str());
    EXPECT_FALSE(platform::HasDisplay());
}

}  // namespace
