// SPDX-License-Identifier: GPL-3.0-or-later
#include "cdimage/base/sha256.h"

#include "cdimage/base/error.h"

#include "cdimage/base/bytes.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace cdimage {

struct Sha256::Context {
    EVP_MD_CTX* digest = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(digest); }
};

Sha256::Sha256()
    : m_context(std::make_unique<Context>()) {
    if (!m_context->digest || EVP_DigestInit_ex(m_context->digest, EVP_sha256(), nullptr) != 1)
        throw Error("SHA-256 is not available");
}

Sha256::~Sha256() = default;

void Sha256::restart() {
    EVP_DigestInit_ex(m_context->digest, EVP_sha256(), nullptr);
}

void Sha256::add(const std::uint8_t* data, std::size_t size) {
    EVP_DigestUpdate(m_context->digest, data, size);
}

std::string Sha256::hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context->digest, digest, &size);
    return hexOf(digest, size);
}

} // namespace cdimage
