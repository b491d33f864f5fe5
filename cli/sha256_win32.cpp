#include "sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

// The algorithm provider and hash objects of BCrypt. A failure of these calls
// means a broken system library, from which no digest could be trusted.
struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

namespace {

void require(NTSTATUS status) {
    if (!BCRYPT_SUCCESS(status))
        std::abort();
}

void start_hash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE& hash) {
    require(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
}

}  // namespace

Sha256::Sha256() : state_(std::make_unique<State>()) {
    require(BCryptOpenAlgorithmProvider(&state_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0));
    start_hash(state_->algorithm, state_->hash);
}

Sha256::~Sha256() {
    BCryptDestroyHash(state_->hash);
    BCryptCloseAlgorithmProvider(state_->algorithm, 0);
}

void Sha256::add(const void* data, std::size_t size) {
    // BCryptHashData takes at most 4 GiB less one byte per call.
    auto bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        ULONG part = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        require(BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), part, 0));
        bytes += part;
        size -= part;
    }
}

std::array<unsigned char, 32> Sha256::digest() {
    std::array<unsigned char, 32> digest{};
    require(BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    BCryptDestroyHash(state_->hash);
    start_hash(state_->algorithm, state_->hash);
    return digest;
}
