// Found by GoogleTest ahead of its own empty header of this name. mingw-w64's win32 thread model
// has no std::mutex or std::condition_variable; the one class GoogleTest builds on them is this
// one, used only by GoogleTest's own threads, and notification.cpp builds it on a Win32 event.
#ifndef VOS_GTEST_CUSTOM_PORT_H
#define VOS_GTEST_CUSTOM_PORT_H

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing::internal {

class Notification {
public:
    Notification();
    ~Notification();
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify();
    void WaitForNotification();

private:
    void* event_;  // a manual-reset event
};

}  // namespace testing::internal

#endif
