// The handle owners: each handle is given back exactly once, whichever way its owner ends.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <vector>

#include "forms/Handles.h"

namespace {

std::vector<int> Closed;

struct TCountedTraits {
    using Type = int;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type value) noexcept { Closed.push_back(value); }
};
using TCounted = TUniqueResource<TCountedTraits>;

TEST(FormsHandles, EveryHandleIsClosedOnceWhateverItsOwnerDoes) {
    Closed.clear();
    {
        TCounted a(1);
        TCounted b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.get(), 1);
        TCounted c(2);
        c = std::move(b); // 2 goes, 1 moves in
        EXPECT_EQ(Closed, std::vector<int>{2});
        auto& self = c;
        c = std::move(self);
        EXPECT_EQ(c.get(), 1);
        c.reset(3); // 1 goes
        EXPECT_EQ(c.release(), 3);
        EXPECT_FALSE(c);
        c.reset(4);
    } // 4 goes; 3 was released and is the caller's
    EXPECT_EQ(Closed, (std::vector<int>{2, 1, 4}));
}

#ifdef _WIN32
TEST(FormsHandles, TheInvalidValueOfEachKindIsNoHandle) {
    // CreateFile and FindFirstFile fail with INVALID_HANDLE_VALUE, not null.
    WIN32_FIND_DATAA found{};
    UniqueFindHandle search(FindFirstFileA("Z:\\no\\such\\folder\\*", &found));
    EXPECT_FALSE(search);
    UniqueFileHandle file(
        CreateFileA("Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(file);
    EXPECT_FALSE(UniqueHandle(nullptr));
}

TEST(FormsHandles, ASelectionIsUndoneWhenItsGuardGoes) {
    UniqueHDC memory(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(memory);
    HGDIOBJ original = GetCurrentObject(memory.get(), OBJ_FONT);
    TGdiObject<HFONT> font(CreateFontW(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Tahoma"));
    ASSERT_TRUE(font);
    {
        TSelectObject selected(memory.get(), font.get());
        EXPECT_EQ(GetCurrentObject(memory.get(), OBJ_FONT), font.get());
    }
    EXPECT_EQ(GetCurrentObject(memory.get(), OBJ_FONT), original);
}
#endif

} // namespace
