#pragma once
// Kiv::PtrInterface: the base of every runtime object. It carries the
// reference count that Dorvu::Ptr drives, the runtime notification switch,
// the type query of the type registry, and the allocation booking that the
// object gives back when it dies.

#include <atomic>
#include <cassert>
#include <cstddef>
#include <utility>
#include <vector>

#include "Allocator.h"
#include "Ptr.h"
#include "Types.h"

namespace Kiv {

class TypeInfo;

class PtrInterface {
  public:
    using Ptr = Dorvu::Ptr<PtrInterface>;
    using PtrConst = Dorvu::Ptr<const PtrInterface>;

    PtrInterface() noexcept = default;
    PtrInterface(const PtrInterface&) = delete;
    PtrInterface& operator=(const PtrInterface&) = delete;
    virtual ~PtrInterface();

    void newRef() const noexcept {
        if (Dorvu::threadSafePtrs()) {
            references_.fetch_add(1, std::memory_order_relaxed);
        } else {
            references_.store(references_.load(std::memory_order_relaxed) + 1,
                              std::memory_order_relaxed);
        }
    }
    void deleteRef() const noexcept {
        U32 left;
        if (Dorvu::threadSafePtrs()) {
            left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        } else {
            left = references_.load(std::memory_order_relaxed) - 1;
            references_.store(left, std::memory_order_relaxed);
        }
        if (left == 0)
            destroy();
    }
    U32 references() const noexcept { return references_.load(std::memory_order_relaxed); }

    // The registered type of the object's class.
    virtual const TypeInfo& kivType() const noexcept;
    static const TypeInfo& kivTypeInfo();

    // Runtime notification: creation functions switch it on right after
    // construction, destructors switch it off before anything else.
    bool notification() const noexcept { return notification_; }
    void notificationIs(bool on) noexcept { notification_ = on; }

    // The tracker that the object unbooks itself from when it dies.
    void allocationTrackerIs(MemAllocationTracker* tracker, std::size_t bytes) noexcept {
        tracker_ = tracker;
        trackedBytes_ = static_cast<U32>(bytes);
    }

    static void* operator new(std::size_t bytes) { return SlabAllocator::allocate(bytes); }
    static void operator delete(void* p, std::size_t bytes) noexcept {
        SlabAllocator::deallocate(p, bytes);
    }

  private:
    void destroy() const noexcept;

    mutable std::atomic<U32> references_{0};
    U32 trackedBytes_ = 0;
    MemAllocationTracker* tracker_ = nullptr;
    bool notification_ = false;
};

// An object of the runtime whose attribute changes can be observed.
class Entity : public PtrInterface {
  public:
    class Notifiee {
      public:
        virtual ~Notifiee() = default;
        virtual void onAttributeChange(const Entity& entity, const char* attribute) = 0;
    };

    const TypeInfo& kivType() const noexcept override;
    static const TypeInfo& kivTypeInfo();

    void notifieeAdd(Notifiee* n) { notifiees_.push_back(n); }
    void notifieeDel(Notifiee* n) { std::erase(notifiees_, n); }

  protected:
    // Reaches the notifiees only while notification is on.
    void attributeChanged(const char* attribute) const {
        if (notification() && !notifiees_.empty())
            notifyAll(attribute);
    }

  private:
    void notifyAll(const char* attribute) const;
    std::vector<Notifiee*> notifiees_;
};

// The creation path of every runtime class: a slab slot booked against the
// class's tracker (given back if the constructor throws), construction, and
// notification switched on.
template <class T, class... Args>
Dorvu::Ptr<T> create(Args&&... args) {
    T::memAllocationTracker_.book(sizeof(T));
    T* object;
    try {
        object = new T(std::forward<Args>(args)...);
    } catch (...) {
        T::memAllocationTracker_.unbook(sizeof(T));
        throw;
    }
    // Reference texts find an object from the start of its slab slot, so the
    // counted base must sit there.
    assert(static_cast<const void*>(static_cast<const PtrInterface*>(object)) ==
           static_cast<const void*>(object));
    object->allocationTrackerIs(&T::memAllocationTracker_, sizeof(T));
    object->notificationIs(true);
    return Dorvu::Ptr<T>(object);
}

}  // namespace Kiv

// Declares the type query and the allocation tracker of a runtime class.
#define KIV_CLASS(Class)                                       \
  public:                                                      \
    static const ::Kiv::TypeInfo& kivTypeInfo();               \
    const ::Kiv::TypeInfo& kivType() const noexcept override { \
        return kivTypeInfo();                                  \
    }                                                          \
    static ::Kiv::MemAllocationTracker memAllocationTracker_;  \
                                                               \
  private:
