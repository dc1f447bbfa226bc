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

// Two XXH64 digests (seeds 0 and 1) of the same bytes.
class TContentHasher {
public:
    TContentHasher() : FLow(0), FHigh(1) {}
    void Update(const void* data, size_t size) {
        FLow.Update(data, size);
        FHigh.Update(data, size);
    }
    // Each field of an item goes in with its length in front, so that no two item lists hash alike by
    // shifting bytes between names and data.
    void UpdateField(const void* data, size_t size);
    // "{XXXXXXXX-XXXX-8XXX-XXXX-XXXXXXXXXXXX}": the 128 bits as a GUID marked as custom (version 8, RFC 9562).
    std::string Guid() const;

private:
    TXxh64 FLow, FHigh;
};
