#pragma once
// Google Test's Notification is built on std::mutex, which the MinGW compilers' win32 thread
// model lacks (the shipped program is built with that model so that it needs no threads
// runtime). Google Test takes a Notification provided beforehand; this one is an event.

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : m_hEvent(CreateEventA(NULL, TRUE, FALSE, NULL)) {}
    ~Notification() { CloseHandle(m_hEvent); }
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { SetEvent(m_hEvent); }
    void WaitForNotification() { WaitForSingleObject(m_hEvent, INFINITE); }

private:
    HANDLE m_hEvent;
};

}  // namespace internal
}  // namespace testing
