#include "Components.h"

#include <algorithm>

TComponent::TComponent(TComponent* owner) : FOwner(owner) {
    if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
    // Reached directly only by components that were never freed through Free(); owned ones go first all the same.
    DestroyComponents();
    if (FOwner) {
        auto& siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

void TComponent::Free() {
    BeforeDestruction();
    delete this;
}

void TComponent::Loaded() {
    FComponentState &= ~csLoading;
}

void TComponent::Destroying() {
    if (FComponentState & csDestroying) return;
    FComponentState |= csDestroying;
    for (TComponent* component : FComponents)
        component->Destroying();
}

void TComponent::BeforeDestruction() {
    Destroying();
    DestroyComponents();
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* last = FComponents.back();
        last->Free(); // removes itself from FComponents
    }
}
