#pragma once
// Dorvu::Ptr<T>: an intrusive counted reference.
//
// Cost: one pointer wide, no control block; the count lives in the object
// (Kiv::PtrInterface). Copies touch the count; moves do not. The count is
// updated with atomic read-modify-write operations only when the process has
// switched thread-safe pointers on (one predictable branch per update);
// otherwise a relaxed load and store, which is cheaper and still race-free
// for single-threaded use. Choose it for runtime objects that are shared by
// several owners; use std::unique_ptr where one owner suffices.

#include <atomic>
#include <cstddef>
#include <functional>
#include <utility>

namespace Dorvu {

namespace detail {
// One switch per process: a library built with hidden visibility must not
// get a copy of its own.
[[gnu::visibility("default")]] inline std::atomic<bool> threadSafePtrs{false};
}  // namespace detail

// Process-wide switch; set it before objects are shared across threads.
inline void threadSafePtrsIs(bool on) {
    detail::threadSafePtrs.store(on);
}
inline bool threadSafePtrs() {
    return detail::threadSafePtrs.load(std::memory_order_relaxed);
}

template <class T>
class Ptr {
  public:
    using element_type = T;

    Ptr() noexcept = default;
    Ptr(std::nullptr_t) noexcept {}
    // Taking a raw pointer adds a reference: the count lives in the object,
    // so a raw pointer can always be turned back into an owning one.
    Ptr(T* p) noexcept : p_(p) { acquire(); }
    Ptr(const Ptr& o) noexcept : p_(o.p_) { acquire(); }
    Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    template <class U>
    Ptr(const Ptr<U>& o) noexcept : p_(o.ptr()) {
        acquire();
    }
    template <class U>
    Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
    ~Ptr() { releaseRef(); }

    Ptr& operator=(const Ptr& o) noexcept {
        Ptr(o).swap(*this);
        return *this;
    }
    Ptr& operator=(Ptr&& o) noexcept {
        Ptr(std::move(o)).swap(*this);
        return *this;
    }
    Ptr& operator=(std::nullptr_t) noexcept {
        Ptr().swap(*this);
        return *this;
    }

    T* ptr() const noexcept { return p_; }
    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }
    // Hands the reference to the caller without touching the count.
    T* release() noexcept { return std::exchange(p_, nullptr); }

  private:
    void acquire() const noexcept {
        if (p_)
            p_->newRef();
    }
    void releaseRef() noexcept {
        if (p_)
            p_->deleteRef();
    }
    T* p_ = nullptr;
};

template <class T, class U>
bool operator==(const Ptr<T>& a, const Ptr<U>& b) noexcept {
    return a.ptr() == b.ptr();
}
template <class T>
bool operator==(const Ptr<T>& a, std::nullptr_t) noexcept {
    return a.ptr() == nullptr;
}
template <class T, class U>
bool operator==(const Ptr<T>& a, const U* b) noexcept {
    return a.ptr() == b;
}

// Checked downcast: null when the object is not a T.
template <class T, class U>
Ptr<T> ptrCast(const Ptr<U>& p) noexcept {
    return Ptr<T>(dynamic_cast<T*>(p.ptr()));
}

}  // namespace Dorvu

template <class T>
struct std::hash<Dorvu::Ptr<T>> {
    std::size_t operator()(const Dorvu::Ptr<T>& p) const noexcept {
        return std::hash<const void*>()(p.ptr());
    }
};
