// SPDX-License-Identifier: GPL-2.0-or-later
// A system log of the test's own: in the test's private mount namespace /dev
// becomes a tmpfs that holds the machine's nodes (bound) and a datagram
// socket of the test at /dev/log, where syslog(3) sends its lines.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

class PrivateSyslog {
  public:
    PrivateSyslog() = default;
    PrivateSyslog(const PrivateSyslog &) = delete;
    PrivateSyslog &operator=(const PrivateSyslog &) = delete;
    ~PrivateSyslog();
    // After the mount namespace is private; false with error set otherwise.
    bool start();
    // A reader drains the socket all along: a full socket would block
    // syslog(3) in the code under test (hostapd in the lab writes there too).
    // Every line received so far, one a line (newlines inside one turned to
    // "|"), each with its "<priority>" and ident as sent.
    std::string lines();
    std::string error;

  private:
    void drain();
    int fd_ = -1;
    std::string scratch_;
    std::mutex mutex_;
    std::string lines_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};
