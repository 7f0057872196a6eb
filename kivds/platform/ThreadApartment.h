// Seam: what a thread of the data source needs from the platform before it
// may call the camera's objects. On Windows that is a COM
// apartment, the multithreaded one for threads that pump no messages (the
// DirectShow graph and the service client are COM objects); elsewhere
// nothing.
//
// Threads: construct it at the top of the thread it prepares and destroy it
// on that thread, after the last call into such objects.
#pragma once

namespace kiv {

class ThreadApartment {
public:
    ThreadApartment();
    ~ThreadApartment();
    ThreadApartment(const ThreadApartment&) = delete;
    ThreadApartment& operator=(const ThreadApartment&) = delete;

    // The thread entered an apartment that this object must leave again.
    bool Entered() const { return entered_; }

private:
    bool entered_ = false;
};

}  // namespace kiv
