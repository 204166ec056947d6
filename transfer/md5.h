#pragma once
// MD5 digests (RFC 1321) written as 32 lower-case hexadecimal digits.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

// What a file's digest reads when there is none: the file could not be opened, a read failed,
// the stop was raised first. No sentinel is ever a digest (IsDigestText), so a catalogue that
// lists one matches nothing.
inline constexpr wchar_t kOpenErrorDigest[] = L"open__error";
inline constexpr wchar_t kReadErrorDigest[] = L"read__error";
inline constexpr wchar_t kStopErrorDigest[] = L"stop__error";

// The hashing classes' exception; code 1: a file could not be read.
class hlException {
  public:
    hlException(int code, std::string message) : m_code(code), m_message(std::move(message)) {}
    int error_number() const { return m_code; }
    const std::string& error_message() const { return m_message; }

  private:
    int m_code;
    std::string m_message;
};

class hashwrapper {
  public:
    virtual std::string finalHex() = 0;
    virtual std::string bytesToHex(const unsigned char digest[16]) = 0;
    virtual void feed(const unsigned char* data, std::uint32_t length) = 0;
    virtual void restart() = 0;
    virtual ~hashwrapper() = default;

    std::string hashOfText(const std::string& text);
    // Raises hlException(1, "Cannot read file \"<path>\".") when the file cannot be opened.
    std::string hashOfFile(const std::string& path);
};

class md5wrapper : public hashwrapper {
  public:
    md5wrapper();
    std::string finalHex() override;
    std::string bytesToHex(const unsigned char digest[16]) override;
    void feed(const unsigned char* data, std::uint32_t length) override;
    void restart() override;

  private:
    // Runs the compression function over blockCount whole 64-byte blocks taken from data.
    void ProcessBlocks(const unsigned char* data, std::size_t blockCount);

    std::uint32_t m_state[4];
    std::uint64_t m_bitCount;
    unsigned char m_block[64];
};

class CMD5Wrapper : public md5wrapper {
  public:
    // The file's digest, or kOpenErrorDigest / kReadErrorDigest (empty when it cannot be
    // widened). When stop is given, it is polled before every read (at least once per MiB);
    // once it is raised the digest is abandoned and the result is kStopErrorDigest.
    std::wstring FileHashW(const std::wstring& path, const std::atomic<bool>* stop = nullptr);
    // The same for a narrow path; a file that cannot be opened gives the empty text.
    std::string FileHashA(const std::string& path);
};
