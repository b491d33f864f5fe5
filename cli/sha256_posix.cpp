#include "sha256.h"

#include <nettle/sha2.h>

struct Sha256::State {
    sha256_ctx context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { sha256_init(&state_->context); }

Sha256::~Sha256() = default;

void Sha256::add(const void* data, std::size_t size) {
    sha256_update(&state_->context, size, static_cast<const std::uint8_t*>(data));
}

std::array<unsigned char, 32> Sha256::digest() {
    std::array<unsigned char, 32> digest{};
    sha256_digest(&state_->context, digest.size(), digest.data());  // also starts anew
    return digest;
}
