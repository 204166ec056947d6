#include "transfer/md5.h"

#include "platform/platform.h"
#include "platform/read_advice.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

namespace {

// Large reads keep the stream library out of the hot loop (the digest of a big file is bound
// by the compression function, not by the number of calls); 256 KiB still fits in L2.
constexpr std::size_t kReadBlockSize = 256 * 1024;

std::uint32_t LoadLittleEndian(const unsigned char* bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        std::uint32_t word;
        std::memcpy(&word, bytes, sizeof word);
        return word;
    } else {
        return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
               static_cast<std::uint32_t>(bytes[2]) << 16 |
               static_cast<std::uint32_t>(bytes[3]) << 24;
    }
}

void StoreLittleEndian(std::uint32_t word, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(word >> (8 * i));
}

// The four auxiliary functions, each folded into one step a = b + ((a + f + x + t) <<< s).
// F and G are written in forms that need fewer operations than the textbook ones; G's two
// halves never share a set bit, so they can be added separately, which shortens the chain
// of dependent instructions.
inline std::uint32_t RoundF(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                            std::uint32_t x, int s, std::uint32_t t) {
    return b + std::rotl(a + x + t + (d ^ (b & (c ^ d))), s);
}

inline std::uint32_t RoundG(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                            std::uint32_t x, int s, std::uint32_t t) {
    return b + std::rotl(a + x + t + (~d & c) + (d & b), s);
}

inline std::uint32_t RoundH(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                            std::uint32_t x, int s, std::uint32_t t) {
    return b + std::rotl(a + x + t + (b ^ c ^ d), s);
}

inline std::uint32_t RoundI(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                            std::uint32_t x, int s, std::uint32_t t) {
    return b + std::rotl(a + x + t + (c ^ (b | ~d)), s);
}

void Compress(std::uint32_t state[4], const unsigned char* data, std::size_t blockCount) {
    std::uint32_t a = state[0];
    std::uint32_t b = state[1];
    std::uint32_t c = state[2];
    std::uint32_t d = state[3];
    for (; blockCount != 0; --blockCount, data += 64) {
        std::uint32_t x[16];
        for (int i = 0; i < 16; ++i)
            x[i] = LoadLittleEndian(data + 4 * i);
        const std::uint32_t aa = a, bb = b, cc = c, dd = d;

        a = RoundF(a, b, c, d, x[0], 7, 0xd76aa478);
        d = RoundF(d, a, b, c, x[1], 12, 0xe8c7b756);
        c = RoundF(c, d, a, b, x[2], 17, 0x242070db);
        b = RoundF(b, c, d, a, x[3], 22, 0xc1bdceee);
        a = RoundF(a, b, c, d, x[4], 7, 0xf57c0faf);
        d = RoundF(d, a, b, c, x[5], 12, 0x4787c62a);
        c = RoundF(c, d, a, b, x[6], 17, 0xa8304613);
        b = RoundF(b, c, d, a, x[7], 22, 0xfd469501);
        a = RoundF(a, b, c, d, x[8], 7, 0x698098d8);
        d = RoundF(d, a, b, c, x[9], 12, 0x8b44f7af);
        c = RoundF(c, d, a, b, x[10], 17, 0xffff5bb1);
        b = RoundF(b, c, d, a, x[11], 22, 0x895cd7be);
        a = RoundF(a, b, c, d, x[12], 7, 0x6b901122);
        d = RoundF(d, a, b, c, x[13], 12, 0xfd987193);
        c = RoundF(c, d, a, b, x[14], 17, 0xa679438e);
        b = RoundF(b, c, d, a, x[15], 22, 0x49b40821);

        a = RoundG(a, b, c, d, x[1], 5, 0xf61e2562);
        d = RoundG(d, a, b, c, x[6], 9, 0xc040b340);
        c = RoundG(c, d, a, b, x[11], 14, 0x265e5a51);
        b = RoundG(b, c, d, a, x[0], 20, 0xe9b6c7aa);
        a = RoundG(a, b, c, d, x[5], 5, 0xd62f105d);
        d = RoundG(d, a, b, c, x[10], 9, 0x02441453);
        c = RoundG(c, d, a, b, x[15], 14, 0xd8a1e681);
        b = RoundG(b, c, d, a, x[4], 20, 0xe7d3fbc8);
        a = RoundG(a, b, c, d, x[9], 5, 0x21e1cde6);
        d = RoundG(d, a, b, c, x[14], 9, 0xc33707d6);
        c = RoundG(c, d, a, b, x[3], 14, 0xf4d50d87);
        b = RoundG(b, c, d, a, x[8], 20, 0x455a14ed);
        a = RoundG(a, b, c, d, x[13], 5, 0xa9e3e905);
        d = RoundG(d, a, b, c, x[2], 9, 0xfcefa3f8);
        c = RoundG(c, d, a, b, x[7], 14, 0x676f02d9);
        b = RoundG(b, c, d, a, x[12], 20, 0x8d2a4c8a);

        a = RoundH(a, b, c, d, x[5], 4, 0xfffa3942);
        d = RoundH(d, a, b, c, x[8], 11, 0x8771f681);
        c = RoundH(c, d, a, b, x[11], 16, 0x6d9d6122);
        b = RoundH(b, c, d, a, x[14], 23, 0xfde5380c);
        a = RoundH(a, b, c, d, x[1], 4, 0xa4beea44);
        d = RoundH(d, a, b, c, x[4], 11, 0x4bdecfa9);
        c = RoundH(c, d, a, b, x[7], 16, 0xf6bb4b60);
        b = RoundH(b, c, d, a, x[10], 23, 0xbebfbc70);
        a = RoundH(a, b, c, d, x[13], 4, 0x289b7ec6);
        d = RoundH(d, a, b, c, x[0], 11, 0xeaa127fa);
        c = RoundH(c, d, a, b, x[3], 16, 0xd4ef3085);
        b = RoundH(b, c, d, a, x[6], 23, 0x04881d05);
        a = RoundH(a, b, c, d, x[9], 4, 0xd9d4d039);
        d = RoundH(d, a, b, c, x[12], 11, 0xe6db99e5);
        c = RoundH(c, d, a, b, x[15], 16, 0x1fa27cf8);
        b = RoundH(b, c, d, a, x[2], 23, 0xc4ac5665);

        a = RoundI(a, b, c, d, x[0], 6, 0xf4292244);
        d = RoundI(d, a, b, c, x[7], 10, 0x432aff97);
        c = RoundI(c, d, a, b, x[14], 15, 0xab9423a7);
        b = RoundI(b, c, d, a, x[5], 21, 0xfc93a039);
        a = RoundI(a, b, c, d, x[12], 6, 0x655b59c3);
        d = RoundI(d, a, b, c, x[3], 10, 0x8f0ccc92);
        c = RoundI(c, d, a, b, x[10], 15, 0xffeff47d);
        b = RoundI(b, c, d, a, x[1], 21, 0x85845dd1);
        a = RoundI(a, b, c, d, x[8], 6, 0x6fa87e4f);
        d = RoundI(d, a, b, c, x[15], 10, 0xfe2ce6e0);
        c = RoundI(c, d, a, b, x[6], 15, 0xa3014314);
        b = RoundI(b, c, d, a, x[13], 21, 0x4e0811a1);
        a = RoundI(a, b, c, d, x[4], 6, 0xf7537e82);
        d = RoundI(d, a, b, c, x[11], 10, 0xbd3af235);
        c = RoundI(c, d, a, b, x[2], 15, 0x2ad7d2bb);
        b = RoundI(b, c, d, a, x[9], 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

std::wstring Widen(const std::string& text) {
    // The hex text is plain ASCII; anything else means it cannot be widened faithfully.
    std::wstring wide;
    wide.reserve(text.size());
    for (unsigned char ch : text) {
        if (ch >= 0x80)
            return {};
        wide.push_back(static_cast<wchar_t>(ch));
    }
    return wide;
}

enum class StreamResult { kDone, kReadError, kStopped };

// Reads past the stream's own buffer straight into ours. The first digest of a file that is not
// in memory yet (the first start after a reboot) is the slow one: the system fills its page
// cache on this thread's time. Reading far ahead at least keeps the digest from also waiting
// for the disk between requests.
void PrepareForOneSequentialPass(std::FILE* file) {
    std::setvbuf(file, nullptr, _IONBF, 0);
    platform::AdviseSequentialRead(file);
}

// Feeds the whole stream to the digest.
StreamResult FeedStream(hashwrapper& hash, std::FILE* file, const std::atomic<bool>* stop) {
    PrepareForOneSequentialPass(file);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBlockSize]);
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed))
            return StreamResult::kStopped;
        const std::size_t got = std::fread(buffer.get(), 1, kReadBlockSize, file);
        if (std::ferror(file))
            return StreamResult::kReadError;
        hash.feed(buffer.get(), static_cast<std::uint32_t>(got));
        if (got < kReadBlockSize)
            return StreamResult::kDone;
    }
}

}  // namespace

std::string hashwrapper::hashOfText(const std::string& text) {
    restart();
    // feed takes a 32-bit length; very long texts go in slices.
    const unsigned char* data = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        const std::uint32_t slice =
            left > 0x40000000u ? 0x40000000u : static_cast<std::uint32_t>(left);
        feed(data, slice);
        data += slice;
        left -= slice;
    }
    return finalHex();
}

std::string hashwrapper::hashOfFile(const std::string& path) {
    restart();
    platform::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
        throw hlException(1, "Cannot read file \"" + path + "\".");
    PrepareForOneSequentialPass(file.get());
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBlockSize]);
    // This older interface stops at the first read that yields nothing and does not tell a read
    // error from the end of the file.
    for (;;) {
        const std::size_t got = std::fread(buffer.get(), 1, kReadBlockSize, file.get());
        if (got == 0)
            break;
        feed(buffer.get(), static_cast<std::uint32_t>(got));
    }
    return finalHex();
}

md5wrapper::md5wrapper() {
    restart();
}

void md5wrapper::restart() {
    m_state[0] = 0x67452301;
    m_state[1] = 0xefcdab89;
    m_state[2] = 0x98badcfe;
    m_state[3] = 0x10325476;
    m_bitCount = 0;
    std::memset(m_block, 0, sizeof m_block);
}

void md5wrapper::ProcessBlocks(const unsigned char* data, std::size_t blockCount) {
    Compress(m_state, data, blockCount);
}

void md5wrapper::feed(const unsigned char* data, std::uint32_t length) {
    if (length == 0)
        return;
    std::size_t used = static_cast<std::size_t>((m_bitCount >> 3) & 63);
    m_bitCount += static_cast<std::uint64_t>(length) << 3;
    std::size_t left = length;

    if (used != 0) {
        const std::size_t room = 64 - used;
        if (left < room) {
            std::memcpy(m_block + used, data, left);
            return;
        }
        std::memcpy(m_block + used, data, room);
        ProcessBlocks(m_block, 1);
        data += room;
        left -= room;
    }
    // Whole blocks are hashed where they lie; only a tail shorter than a block is kept.
    const std::size_t whole = left / 64;
    if (whole != 0) {
        ProcessBlocks(data, whole);
        data += whole * 64;
        left -= whole * 64;
    }
    if (left != 0)
        std::memcpy(m_block, data, left);
}

std::string md5wrapper::finalHex() {
    const std::uint64_t bitCount = m_bitCount;
    const std::size_t used = static_cast<std::size_t>((bitCount >> 3) & 63);

    // Padding: one 1 bit, zeros up to 56 bytes modulo 64, then the bit count (little-endian).
    unsigned char tail[128] = {};
    tail[0] = 0x80;
    const std::size_t padLength = used < 56 ? 56 - used : 120 - used;
    for (int i = 0; i < 8; ++i)
        tail[padLength + i] = static_cast<unsigned char>(bitCount >> (8 * i));
    feed(tail, static_cast<std::uint32_t>(padLength + 8));

    unsigned char digest[16];
    for (int i = 0; i < 4; ++i)
        StoreLittleEndian(m_state[i], digest + 4 * i);

    // Nothing of the message stays behind; a new digest must begin with restart.
    std::memset(m_state, 0, sizeof m_state);
    m_bitCount = 0;
    std::memset(m_block, 0, sizeof m_block);
    return bytesToHex(digest);
}

std::string md5wrapper::bytesToHex(const unsigned char digest[16]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(32, '0');
    for (int i = 0; i < 16; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return hex;
}

std::wstring CMD5Wrapper::FileHashW(const std::wstring& path, const std::atomic<bool>* stop) {
    restart();
    platform::UniqueFile file = platform::OpenFile(path, "rb");
    if (!file)
        return kOpenErrorDigest;
    switch (FeedStream(*this, file.get(), stop)) {
        case StreamResult::kReadError:
            return kReadErrorDigest;
        case StreamResult::kStopped:
            return kStopErrorDigest;
        case StreamResult::kDone:
            break;
    }
    file.reset();
    return Widen(finalHex());
}

std::string CMD5Wrapper::FileHashA(const std::string& path) {
    restart();
    platform::UniqueFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return {};
    if (FeedStream(*this, file.get(), nullptr) != StreamResult::kDone)
        return std::string(std::begin(kReadErrorDigest), std::end(kReadErrorDigest) - 1);
    file.reset();
    return finalHex();
}
