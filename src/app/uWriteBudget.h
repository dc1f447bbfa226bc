// How much a run may write into the temporary directory. A store may declare a movie and additional files of up to
// 2 GiB each, and zlib inflates a kilobyte into about a megabyte: without a bound, a small screensaver could write
// until the user's disk is full. Platform-free; the free-space query is the caller's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "forms/Classes.h"

// The most a run writes in all: twice the largest file the authoring tool packs (2 GiB), so that a movie of that
// size and as much again in additional files and the dialog's movie still fit.
inline constexpr int64_t MaxRunBytes = int64_t{4} << 30;

// The room a run leaves free on the temporary directory's volume: 5 % of the volume, at most 1 GiB. On a large
// disk this keeps 1 GiB for everything else; on a small volume the percentage keeps the margin in proportion
// instead of refusing everything.
int64_t FreeSpaceMargin(int64_t volumeBytes);

struct TVolumeSpace {
    int64_t Free = 0;  // bytes this process may still write
    int64_t Total = 0; // size of the volume
};

// The bytes of one run, counted as they are written. A run whose next write would pass MaxRunBytes (or the
// maximum given) or leave the volume with less than its margin is refused, and stays refused from then on.
class TWriteBudget {
public:
    // Free space is asked again at least every RecheckBytes written, since other programs write too, and whenever
    // what is known of it comes near the margin. A query that finds nothing leaves only the total as a bound.
    using TSpaceQuery = std::function<std::optional<TVolumeSpace>()>;
    static constexpr int64_t RecheckBytes = 16 << 20;

    explicit TWriteBudget(TSpaceQuery query, int64_t maxBytes = MaxRunBytes)
        : FQuery(std::move(query)), FMaxBytes(maxBytes) {}

    // True when count more bytes may be written; counts them.
    bool Allow(int64_t count);
    // Refuses every further write.
    void Close() { FRefused = true; }
    bool Refused() const { return FRefused; }
    int64_t Written() const { return FWritten; }

private:
    TSpaceQuery FQuery;
    int64_t FMaxBytes;
    int64_t FWritten = 0;
    bool FRefused = false;
    bool FKnown = false;
    int64_t FFreeAtQuery = 0;
    int64_t FMargin = 0;
    int64_t FWrittenAtQuery = 0;
};

// A write past a run's budget.
class EWriteBudgetError : public EWriteError {
    using EWriteError::EWriteError;
};

// Writes through to target while the budget allows; raises EWriteBudgetError, with nothing of that write done,
// when it does not.
class TBudgetedStream : public TStream {
public:
    TBudgetedStream(TStream& target, TWriteBudget& budget) : FTarget(target), FBudget(budget) {}

    int32_t Read(void* buffer, int32_t count) override { return FTarget.Read(buffer, count); }
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek64(int64_t offset, TSeekOrigin origin) override { return FTarget.Seek64(offset, origin); }

private:
    TStream& FTarget;
    TWriteBudget& FBudget;
};
