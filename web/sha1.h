#pragma once
// SHA-1 (FIPS 180-4) and base64 (RFC 4648), just enough for the WebSocket
// handshake's Sec-WebSocket-Accept. SHA-1 is used there as the protocol's
// fixed checksum, not for any secret.
#include <cstddef>
#include <cstdint>

constexpr size_t kSha1Bytes = 20;

// The SHA-1 digest of bytes[0..length).
void Sha1(const uint8_t* bytes, size_t length, uint8_t digest[kSha1Bytes]);

// The base64 text of bytes[0..length) with '=' padding, NUL-terminated;
// `out` holds at least 4 * ((length + 2) / 3) + 1 characters.
void Base64(const uint8_t* bytes, size_t length, char* out);
