// Owners free what they own, last created first, while they are themselves still whole: a component's
// destructor may still use its owner (the thread timer reads the owner's window, the screensaver component
// restores the form's window procedure).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forms/Components.h"

namespace {

std::vector<std::string> Log;

class TOwnerForm : public TComponent {
public:
    using TComponent::TComponent;
    ~TOwnerForm() override { Log.push_back("~" + Name()); }
};

class TPart : public TComponent {
public:
    TPart(TComponent* owner, const std::string& name, TComponent* sibling = nullptr)
        : TComponent(owner), FSibling(sibling) {
        SetName(name);
    }
    ~TPart() override {
        std::string entry = "~" + Name();
        // A dynamic_cast sees the most derived type only while that part of the owner has not been destroyed.
        if (Owner() && !dynamic_cast<TOwnerForm*>(Owner()) && !dynamic_cast<TPart*>(Owner())) entry += " partial";
        if (!(ComponentState() & csDestroying)) entry += " unmarked";
        if (FSibling && !(FSibling->ComponentState() & csDestroying)) entry += " sibling-unmarked";
        Log.push_back(entry);
    }

private:
    TComponent* FSibling;
};

TEST(FormsComponents, OwnedComponentsAreFreedLastFirstWhileTheOwnerIsWhole) {
    Log.clear();
    auto* owner = new TOwnerForm(nullptr);
    owner->SetName("owner");
    auto* a = new TPart(owner, "a");
    auto* b = new TPart(owner, "b");
    new TPart(b, "b1");
    new TPart(b, "b2");
    new TPart(owner, "c", a); // a is destroyed last but must already be marked when c goes
    ASSERT_EQ(owner->ComponentCount(), 3u);
    ASSERT_EQ(b->ComponentCount(), 2u);
    owner->Free();
    EXPECT_EQ(Log, (std::vector<std::string>{"~c", "~b2", "~b1", "~b", "~a", "~owner"}));
}

TEST(FormsComponents, AFreedComponentLeavesItsOwner) {
    Log.clear();
    auto* owner = new TOwnerForm(nullptr);
    owner->SetName("owner");
    auto* a = new TPart(owner, "a");
    auto* b = new TPart(owner, "b");
    b->Free();
    ASSERT_EQ(owner->ComponentCount(), 1u);
    EXPECT_EQ(owner->Components(0), a);
    owner->Free();
    EXPECT_EQ(Log, (std::vector<std::string>{"~b", "~a", "~owner"}));
}

// An owner destroyed without Free (on the stack) still frees what it owns, in the same order, but only once its
// own derived part is gone: what a component's destructor needs of its owner calls for Free.
TEST(FormsComponents, AnOwnerLeftToItsDestructorStillFreesWhatItOwns) {
    Log.clear();
    {
        TOwnerForm owner(nullptr);
        owner.SetName("owner");
        new TPart(&owner, "a");
        new TPart(&owner, "b");
    }
    EXPECT_EQ(Log, (std::vector<std::string>{"~owner", "~b partial", "~a partial"}));
}

} // namespace
