// Test-side JPEG checks, independent of the simulator's own code: libjpeg decoding, and a delta
// picture put behind a key picture's tables.
#pragma once

#include <cstddef>
#include <string>

// Decodes the whole picture with libjpeg: "WIDTHxHEIGHT", or "" on any libjpeg error or warning.
std::string decodedSize(const std::string& jpeg);

// The big-endian 16-bit number at `at` (marker segment lengths); the caller checks the size.
std::size_t bigEndian16(const std::string& bytes, std::size_t at);

// The delta picture's scan put behind the key picture's head (its tables): what a client
// decoder does with a delta picture.
std::string withTablesOf(const std::string& key, const std::string& delta);
