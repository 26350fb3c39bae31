#pragma once

namespace tavorin {

// The private base of a class with one owner: it holds a thread, a device, a file or a library
// handle that a copy would share or release twice. Deleting the copies also leaves out the
// implicit moves, so such an object stays where it was made (hold it by value or unique_ptr).
class NonCopyable {
public:
    NonCopyable(const NonCopyable&) = delete;
    NonCopyable& operator=(const NonCopyable&) = delete;

protected:
    NonCopyable() = default;
    ~NonCopyable() = default;
};

} // namespace tavorin
