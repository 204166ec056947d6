#include "transfer/sha256.h"

#include <openssl/evp.h>

void Sha256Digest::ContextFree::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

Sha256Digest::Sha256Digest() : m_context(EVP_MD_CTX_new()) {
    Restart();
}

Sha256Digest::~Sha256Digest() = default;

Sha256Digest::Sha256Digest(const Sha256Digest& other) : m_context(EVP_MD_CTX_new()) {
    *this = other;
}

Sha256Digest& Sha256Digest::operator=(const Sha256Digest& other) {
    if (this != &other)
        m_sound = other.m_sound && m_context &&
                  EVP_MD_CTX_copy_ex(m_context.get(), other.m_context.get()) == 1;
    return *this;
}

void Sha256Digest::Restart() {
    m_sound = m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha256(), nullptr) == 1;
}

void Sha256Digest::Feed(const unsigned char* data, std::size_t length) {
    if (m_sound && length != 0)
        m_sound = EVP_DigestUpdate(m_context.get(), data, length) == 1;
}

std::string Sha256Digest::FinalHex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    const bool sound = m_sound && EVP_DigestFinal_ex(m_context.get(), digest, &size) == 1;
    m_sound = false;
    if (!sound || size != 32)
        return {};
    static const char kDigits[] = "0123456789abcdef";
    std::string hex(64, '0');
    for (unsigned int i = 0; i < 32; ++i) {
        hex[2 * i] = kDigits[digest[i] >> 4];
        hex[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return hex;
}

std::string Sha256Digest::OfText(std::string_view text) {
    Sha256Digest digest;
    digest.Feed(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return digest.FinalHex();
}
