#pragma once
// SHA-256 (FIPS 180-4) written as 64 lower-case hexadecimal digits, from OpenSSL's libcrypto,
// which uses the processor's SHA instructions where it has them.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

class Sha256Digest {
  public:
    Sha256Digest();
    ~Sha256Digest();
    // A copy goes on from the same point on its own: a digest of a file's first part can be
    // finished for a look while the original waits for the rest.
    Sha256Digest(const Sha256Digest& other);
    Sha256Digest& operator=(const Sha256Digest& other);

    // Starts a new digest (the constructor has already started one).
    void Restart();
    void Feed(const unsigned char* data, std::size_t length);
    // Finishes the digest; the empty text when libcrypto failed on the way (never a digest).
    // A new digest must begin with Restart.
    std::string FinalHex();

    // The digest of a text in one call.
    static std::string OfText(std::string_view text);

  private:
    struct ContextFree {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, ContextFree> m_context;
    bool m_sound = false;  // every libcrypto call since Restart succeeded
};
