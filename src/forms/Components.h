// Components with owners: an owner destroys what it owns, last created first, while it is itself still whole.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TObject {
public:
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

enum TComponentStateFlag : unsigned {
    csLoading = 1,    // stored properties are being set; Loaded() ends it
    csDesigning = 2,  // never set at run time; kept for the components that test it
    csDestroying = 4, // BeforeDestruction has begun
};

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    // Destroys the component: BeforeDestruction runs while every derived part still exists, then delete.
    // Owners free what they own this way.
    void Free();

    TComponent* Owner() const { return FOwner; }
    const std::string& Name() const { return FName; }
    void SetName(const std::string& name) { FName = name; }
    unsigned ComponentState() const { return FComponentState; }
    size_t ComponentCount() const { return FComponents.size(); }
    TComponent* Components(size_t index) const { return FComponents[index]; }

    // The loaded notification: the owner's stored properties have all been set.
    virtual void Loaded();

protected:
    // Marks this component and everything it owns, at any depth, as being destroyed. A component whose state another
    // thread reads learns here, at the moment its destruction begins, that it must stop.
    virtual void Destroying();
    // Destroying, then frees the owned components, last first.
    virtual void BeforeDestruction();
    void DestroyComponents();
    void SetLoading() { FComponentState |= csLoading; }

private:
    TComponent* FOwner;
    std::string FName;
    unsigned FComponentState = 0;
    std::vector<TComponent*> FComponents;
};
