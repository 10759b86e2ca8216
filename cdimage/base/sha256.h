// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace cdimage {

// SHA-256, fed piece by piece.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const std::uint8_t* data, std::size_t size);
    // The digest as 64 lower-case hex digits; ends the computation.
    std::string hex();
    // Starts a new computation.
    void restart();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace cdimage
