#pragma once

#include <atomic>

namespace tavorin {

// The stored value of one notifying property of Owner, with the change signal it emits. Written
// on the GUI thread, read from any thread (the render thread reads the right bar's flags and
// cursor every frame), hence atomic.
template <typename Owner, typename T>
class AtomicProperty {
public:
    using Signal = void (Owner::*)(T);

    constexpr AtomicProperty(T initial, Signal changed) : value(initial), changedSignal(changed) {}

    T get() const { return value.load(); }
    void store(T next) { value.store(next); }

    // Compare first: an equal value is not stored and answers false. For floats a NaN never equals
    // the stored value, so writing NaN always counts as a change.
    bool storeIfChanged(T next)
    {
        if (next == value.load())
            return false;
        value.store(next);
        return true;
    }

    // Emits the change signal of owner with the new value.
    void notify(Owner& owner, T next) const { (owner.*changedSignal)(next); }

    // Compare, store, emit; true when the value changed (the caller then acts on it).
    bool set(Owner& owner, T next)
    {
        if (!storeIfChanged(next))
            return false;
        notify(owner, next);
        return true;
    }

private:
    std::atomic<T> value;
    Signal changedSignal;
};

} // namespace tavorin
