// The content identifier the authoring tool gives when the manifest names none: derived from everything stored,
// so that building the same inputs again keeps it, and any change of content gives another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// XXH64 (the published xxHash 64-bit algorithm), fed in pieces.
class TXxh64 {
public:
    explicit TXxh64(uint64_t seed = 0);
    void Update(const void* data, size_t size);
    uint64_t Digest() const;

private:
    uint64_t FLanes[4];
    uint64_t FSeed;
    uint64_t FTotal = 0;
    uint8_t FBuffer[32];
    size_t FBuffered = 0;
};

// XXH64 of the content, spread over a GUID's 128 bits. 64 bits tell any two contents apart that an author will
// ever make; one pass keeps the cost of hashing a large movie small.
class TContentHasher {
public:
    void Update(const void* data, size_t size) { FHash.Update(data, size); }
    // Each field of an item goes in with its length in front, so that no two item lists hash alike by
    // shifting bytes between names and data.
    void UpdateField(const void* data, size_t size);
    // "{XXXXXXXX-XXXX-8XXX-XXXX-XXXXXXXXXXXX}": marked as custom (version 8, RFC 9562).
    std::string Guid() const;

private:
    TXxh64 FHash;
};

// A name-based UUID (version 5, RFC 9562: SHA-1 of the namespace's 16 bytes and the name), written
// "XXXXXXXX-XXXX-5XXX-XXXX-XXXXXXXXXXXX" in capitals. The same namespace and name always give the same UUID, which
// lets a package's codes follow from what it holds instead of from a generator's randomness. space must be a UUID
// in that form (braces allowed); an invalid one is read as far as its hex digits go.
std::string NameBasedUuid(std::string_view space, std::string_view name);

// SHA-1 (FIPS 180-4) of the bytes, as 20 bytes.
std::string Sha1(std::string_view bytes);
