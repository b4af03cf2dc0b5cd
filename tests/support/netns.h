// SPDX-License-Identifier: GPL-2.0-or-later
// Test network: a private network namespace holding one veth pair.
//
//   const uint8_t a[6] = {...}, b[6] = {...};
//   TestNetns net("wire", a, b);        // namespace with veth ends net.end_a / net.end_b
//   {
//       NetnsEntered in(net);           // this thread now sees only the namespace
//       ... open capture handles on net.end_a / net.end_b ...
//   }                                   // back in the original namespace; handles keep working
//   net.exec("dnsmasq ...");            // or run a command inside it (returns its exit status)
//
// Both ends and the loopback are up; IPv6 is switched off in the namespace
// where the kernel has it, so captures see no router solicitations. The
// namespace and the pair are removed when the TestNetns goes out of scope.
// Any set-up step that fails throws std::runtime_error naming the command and
// its output: inside a test that is a loud failure, never a silent skip.
// Needs root (CAP_SYS_ADMIN and CAP_NET_ADMIN).
#pragma once

#include <cstdint>
#include <string>

struct TestNetns {
    // Creates "cvx<tag><pid>_<n><random>" (unique across parallel tests) with a veth
    // pair whose ends carry mac_a and mac_b.
    TestNetns(const std::string &tag, const uint8_t mac_a[6], const uint8_t mac_b[6]);
    ~TestNetns();
    TestNetns(const TestNetns &) = delete;
    TestNetns &operator=(const TestNetns &) = delete;

    // Runs a shell command line inside the namespace; its exit status, or -1.
    int exec(const std::string &command) const;
    // "/var/run/netns/<name>": open it and setns(fd, CLONE_NEWNET) to enter.
    std::string path() const;

    std::string name;               // the namespace's name
    std::string end_a = "cvxa";     // veth end with mac_a
    std::string end_b = "cvxb";     // veth end with mac_b
};

// Moves the calling thread into the namespace for its lifetime, then back.
// Throws std::runtime_error when it cannot enter.
struct NetnsEntered {
    explicit NetnsEntered(const TestNetns &net);
    ~NetnsEntered();
    NetnsEntered(const NetnsEntered &) = delete;
    NetnsEntered &operator=(const NetnsEntered &) = delete;

    int home_fd = -1;  // the thread's original namespace
};

// "aa:bb:cc:dd:ee:ff" for a 6-byte address.
std::string mac_text(const uint8_t mac[6]);
