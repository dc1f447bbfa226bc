#include <gtest/gtest.h>

#include "PEBuilder.h"
#include "store/uExeAdder.h"

TEST(StreamPrimitives, ReadLittleEndianAndZeroPastTheEnd) {
    TMemoryStream s;
    const uint8_t bytes[] = {0xFE, 0x78, 0x56, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0xF1, 0x7F};
    s.WriteBuffer(bytes, sizeof(bytes));
    s.SetPosition(0);
    EXPECT_EQ(StreamReadByte(s), 0xFE);
    EXPECT_EQ(StreamReadInt32(s), 0x12345678);
    EXPECT_EQ(StreamReadInt64(s), static_cast<int64_t>(0xF123456789ABCDEFull));
    EXPECT_EQ(StreamReadInt32(s), 0x7F) << "the missing high bytes read as zero";
    EXPECT_EQ(StreamReadInt32(s), 0);
    EXPECT_EQ(StreamReadByte(s), 0);
}

TEST(StreamPrimitives, StringsAreLengthPrefixed) {
    TMemoryStream s;
    const uint8_t bytes[] = {3, 0, 0, 0, 'a', 'b', 'c', 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9, 0, 0, 0, 'x'};
    s.WriteBuffer(bytes, sizeof(bytes));
    s.SetPosition(0);
    EXPECT_EQ(StreamReadString(s), "abc");
    EXPECT_EQ(StreamReadString(s), "");
    EXPECT_EQ(StreamReadString(s), "") << "a negative length is taken as 0";
    EXPECT_THROW(StreamReadString(s), EReadError) << "a length beyond the data is not allocated";
}

TEST(TFileStream, ReadsSeeksAndReportsMissingFiles) {
    TTempDir dir;
    WriteFileBytes(dir.File("f"), {1, 2, 3, 4, 5});
    TFileReadStream s(dir.File("f"));
    EXPECT_EQ(s.GetSize(), 5);
    EXPECT_EQ(s.Seek64(-2, TSeekOrigin::soEnd), 3);
    EXPECT_EQ(StreamReadByte(s), 4);
    uint8_t b[10];
    EXPECT_EQ(s.Read(b, 10), 1);
    EXPECT_EQ(s.Read(b, 10), 0);
    EXPECT_THROW(TFileReadStream(dir.File("missing")), EFOpenError);
    EXPECT_TRUE(FileExists(dir.File("f")));
    EXPECT_FALSE(FileExists(dir.Path()));
}

TEST(TMemoryStream, GrowsOnWriteAndCopies) {
    TMemoryStream a;
    a.SetPosition(4);
    a.WriteBuffer("xy", 2);
    EXPECT_EQ(a.GetSize(), 6);
    EXPECT_EQ(a.Memory()[0], 0);
    EXPECT_EQ(a.Memory()[5], 'y');
    TMemoryStream b;
    b.CopyFrom(a, 0);
    EXPECT_EQ(b.GetSize(), 6);
    EXPECT_EQ(b.Memory()[4], 'x');
    uint8_t c;
    a.SetPosition(6);
    EXPECT_THROW(a.ReadBuffer(&c, 1), EReadError);
}
