#include "uWriteBudget.h"

#include <algorithm>

int64_t FreeSpaceMargin(int64_t volumeBytes) {
    return std::min<int64_t>(int64_t{1} << 30, std::max<int64_t>(volumeBytes, 0) / 20);
}

bool TWriteBudget::Allow(int64_t count) {
    if (FRefused) return false;
    if (count < 0 || count > FMaxBytes - FWritten) {
        FRefused = true;
        return false;
    }
    auto fits = [&] { return FFreeAtQuery - (FWritten - FWrittenAtQuery) - count >= FMargin; };
    if (!FKnown || FWritten - FWrittenAtQuery + count > RecheckBytes || !fits()) {
        const std::optional<TVolumeSpace> space = FQuery ? FQuery() : std::nullopt;
        FKnown = space.has_value();
        if (FKnown) {
            FFreeAtQuery = space->Free;
            FMargin = FreeSpaceMargin(space->Total);
            FWrittenAtQuery = FWritten;
            if (!fits()) {
                FRefused = true;
                return false;
            }
        }
    }
    FWritten += count;
    return true;
}

int32_t TBudgetedStream::Write(const void* buffer, int32_t count) {
    if (!FBudget.Allow(count)) throw EWriteBudgetError("The run's files would leave too little room on the disk");
    return FTarget.Write(buffer, count);
}
