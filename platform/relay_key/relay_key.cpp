#include "relay_key/relay_key.hpp"

#include <openssl/bn.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <memory>

namespace relay_key {
namespace {

struct BnFree {
    void operator()(BIGNUM* b) const { BN_free(b); }
};
struct CtxFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn bn() { return Bn(BN_new()); }

Bn bn_dec(const char* text) {
    BIGNUM* b = nullptr;
    BN_dec2bn(&b, text);
    return Bn(b);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

int base32_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a';
    if (c >= '2' && c <= '7') return c - '2' + 26;
    return -1;
}

std::expected<PublicKey::Bytes, std::string> decode_hex(std::string_view text) {
    PublicKey::Bytes out{};
    for (std::size_t i = 0; i < out.size(); ++i) {
        int hi = hex_value(text[2 * i]);
        int lo = hex_value(text[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::unexpected("invalid hex digit in endpoint id");
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}

std::expected<PublicKey::Bytes, std::string> decode_base32(std::string_view text) {
    PublicKey::Bytes out{};
    std::uint32_t acc = 0;
    int bits = 0;
    std::size_t n = 0;
    for (char c : text) {
        int v = base32_value(c);
        if (v < 0) return std::unexpected("invalid base32 character in endpoint id");
        acc = acc << 5 | static_cast<std::uint32_t>(v);
        bits += 5;
        if (bits >= 8) {
            bits -= 8;
            out[n++] = static_cast<std::uint8_t>(acc >> bits);
            acc &= (1u << bits) - 1;
        }
    }
    // 52 characters carry 260 bits: the 4 bits past the 32 bytes must be zero.
    if (n != out.size() || acc != 0) return std::unexpected("non-canonical base32 endpoint id");
    return out;
}

}  // namespace

bool is_valid_point(const PublicKey::Bytes& bytes) {
    std::unique_ptr<BN_CTX, CtxFree> ctx(BN_CTX_new());
    // p = 2^255 - 19, d = -121665 / 121666 mod p; read once.
    static const Bn p = bn_dec("57896044618658097711785492504343953926634992332820282019728792003956564819949");
    static const Bn d = bn_dec("37095705934669439343138083508754565189542113879843219016388785533085940283555");

    // y from the little-endian bytes with the sign bit cleared.
    std::array<std::uint8_t, 32> le = bytes;
    le[31] &= 0x7f;
    Bn y(BN_lebin2bn(le.data(), static_cast<int>(le.size()), nullptr));
    BN_mod(y.get(), y.get(), p.get(), ctx.get());

    // x^2 = u / v with u = y^2 - 1 and v = d y^2 + 1 (never 0): a point exactly when u / v is
    // 0 or a square mod p, that is when u v is (v and 1 / v share their Legendre symbol).
    Bn y2 = bn(), u = bn(), v = bn();
    BN_mod_sqr(y2.get(), y.get(), p.get(), ctx.get());
    BN_mod_sub(u.get(), y2.get(), BN_value_one(), p.get(), ctx.get());
    if (BN_is_zero(u.get())) return true;
    BN_mod_mul(v.get(), d.get(), y2.get(), p.get(), ctx.get());
    BN_mod_add(v.get(), v.get(), BN_value_one(), p.get(), ctx.get());
    BN_mod_mul(u.get(), u.get(), v.get(), p.get(), ctx.get());
    return BN_kronecker(u.get(), p.get(), ctx.get()) == 1;
}

std::expected<PublicKey, std::string> PublicKey::from_bytes(const Bytes& bytes) {
    if (!is_valid_point(bytes)) return std::unexpected("endpoint id is not a valid Ed25519 point");
    return PublicKey(bytes);
}

std::expected<PublicKey, std::string> PublicKey::from_str(std::string_view text) {
    std::expected<Bytes, std::string> bytes;
    if (text.size() == 64)
        bytes = decode_hex(text);
    else if (text.size() == 52)
        bytes = decode_base32(text);
    else
        return std::unexpected("endpoint id must be 64 hex digits or 52 base32 characters");
    if (!bytes) return std::unexpected(bytes.error());
    return from_bytes(*bytes);
}

std::string PublicKey::to_string() const {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : bytes_) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 15]);
    }
    return out;
}

PublicKey SecretKey::public_key() const {
    EVP_PKEY* key = EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, bytes_.data(), bytes_.size());
    PublicKey::Bytes pub{};
    std::size_t len = pub.size();
    if (key == nullptr || EVP_PKEY_get_raw_public_key(key, pub.data(), &len) != 1 || len != pub.size())
        std::abort();  // a 32-byte Ed25519 secret always has a public key
    EVP_PKEY_free(key);
    return PublicKey(pub);
}

}  // namespace relay_key
