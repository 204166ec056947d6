// The front end is chosen by whether a display server really answers, not by the variables alone.

#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

namespace {

class DisplayProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Save("DISPLAY", m_display);
        Save("WAYLAND_DISPLAY", m_wayland);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        if (m_listener >= 0)
            close(m_listener);
        Restore("DISPLAY", m_display);
        Restore("WAYLAND_DISPLAY", m_wayland);
    }
    // A listening socket standing in for a display server.
    std::string Listen() {
        const std::string path = m_dir.NarrowPath() + "/wayland-test";
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        m_listener = socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        EXPECT_EQ(listen(m_listener, 4), 0);
        return path;
    }

    TempDir m_dir;
    int m_listener = -1;

  private:
    struct Saved {
        bool set = false;
        std::string value;
    };
    static void Save(const char* name, Saved& saved) {
        const char* v = getenv(name);
        saved.set = v != nullptr;
        if (v)
            saved.value = v;
    }
    static void Restore(const char* name, const Saved& saved) {
        if (saved.set)
            setenv(name, saved.value.c_str(), 1);
        else
            unsetenv(name);
    }
    Saved m_display, m_wayland;
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

TEST_F(DisplayProbeTest, AWaylandSocketThatAnswersIsADisplay) {
    const std::string path = Listen();
    setenv("WAYLAND_DISPLAY", path.c_str(), 1);
    EXPECT_TRUE(platform::HasDisplay());
    close(m_listener);
    m_listener = -1;
    unlink(path.c_str());
    EXPECT_FALSE(platform::HasDisplay());
}

}  // namespace
