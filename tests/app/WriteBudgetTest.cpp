#include <gtest/gtest.h>

#include "app/uWriteBudget.h"

namespace {

constexpr int64_t MiB = int64_t{1} << 20;
constexpr int64_t GiB = int64_t{1} << 30;

TEST(FreeSpaceMargin, FivePercentOfTheVolumeUpToOneGiB) {
    const struct {
        int64_t Volume, Margin;
    } rows[] = {
        {0, 0}, {-1, 0}, {256 * MiB, 256 * MiB / 20}, {20 * GiB, GiB}, {20 * GiB - 20, GiB - 1}, {4096 * GiB, GiB},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FreeSpaceMargin(row.Volume), row.Margin) << row.Volume;
}

// A volume that the budget's writes fill, and that other programs may fill behind its back.
struct TFakeVolume {
    int64_t Total = 0;
    int64_t Free = 0;
    int Queries = 0;
    bool Fails = false;
    TWriteBudget::TSpaceQuery Query() {
        return [this]() -> std::optional<TVolumeSpace> {
            ++Queries;
            if (Fails) return std::nullopt;
            return TVolumeSpace{Free, Total};
        };
    }
    // Writes in chunks as the budget allows; returns the bytes written.
    int64_t Fill(TWriteBudget& budget, int64_t chunk, int64_t upTo) {
        int64_t written = 0;
        while (written < upTo && budget.Allow(chunk)) {
            Free -= chunk;
            written += chunk;
        }
        return written;
    }
};

TEST(WriteBudget, StopsWhereTheVolumeWouldKeepLessThanItsMargin) {
    for (const int64_t chunk : {int64_t{1}, 64 * int64_t{1024}, 5 * MiB, 40 * MiB}) {
        SCOPED_TRACE(chunk);
        TFakeVolume volume{400 * MiB, 300 * MiB};
        TWriteBudget budget(volume.Query());
        volume.Fill(budget, chunk, chunk == 1 ? 2 * MiB : GiB);
        if (chunk == 1) continue; // a byte at a time only shows that the counting does not query on every byte
        const int64_t margin = FreeSpaceMargin(volume.Total);
        EXPECT_GE(volume.Free, margin);
        EXPECT_LT(volume.Free, margin + chunk);
        EXPECT_TRUE(budget.Refused());
        EXPECT_FALSE(budget.Allow(1)) << "a refused run must stay refused, even for a write that would fit";
        EXPECT_EQ(budget.Written(), 300 * MiB - volume.Free);
    }
}

TEST(WriteBudget, QueriesRarelyWhileFarFromTheMarginAndSeesOtherWriters) {
    TFakeVolume volume{100 * GiB, 50 * GiB};
    TWriteBudget budget(volume.Query());
    volume.Fill(budget, 64 * 1024, 256 * MiB);
    EXPECT_LE(volume.Queries, 256 / 16 + 1);
    EXPECT_FALSE(budget.Refused());
    // Another program takes nearly everything: the next check finds it before the run writes into the margin.
    volume.Free = GiB + 8 * MiB;
    volume.Fill(budget, 64 * 1024, 256 * MiB);
    EXPECT_TRUE(budget.Refused());
    EXPECT_GE(volume.Free, GiB - TWriteBudget::RecheckBytes);
}

TEST(WriteBudget, TheRunsTotalIsBoundedWhateverTheRoom) {
    TFakeVolume volume{100 * GiB, 90 * GiB};
    TWriteBudget budget(volume.Query(), 10 * MiB);
    EXPECT_EQ(volume.Fill(budget, MiB, GiB), 10 * MiB);
    EXPECT_TRUE(budget.Refused());

    // Where the free space cannot be read, the total still holds; a negative count is never allowed.
    TFakeVolume unknown{0, 0, 0, true};
    TWriteBudget blind(unknown.Query(), 3 * MiB);
    EXPECT_EQ(unknown.Fill(blind, MiB, GiB), 3 * MiB);
    TWriteBudget negative(volume.Query());
    EXPECT_FALSE(negative.Allow(-1));
    TWriteBudget whole(volume.Query());
    EXPECT_TRUE(whole.Allow(MaxRunBytes));
    EXPECT_FALSE(whole.Allow(1));
}

TEST(BudgetedStream, ARefusedWriteRaisesAndWritesNothing) {
    TFakeVolume volume{100 * GiB, 90 * GiB};
    TWriteBudget budget(volume.Query(), 10);
    TMemoryStream target;
    TBudgetedStream out(target, budget);
    out.WriteBuffer("0123456", 7);
    EXPECT_THROW(out.WriteBuffer("789A", 4), EWriteBudgetError);
    EXPECT_EQ(target.Length(), 7);
    EXPECT_THROW(out.WriteBuffer("7", 1), EWriteError);
}

} // namespace
