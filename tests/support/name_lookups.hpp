#pragma once
// Name lookups of the test program answered on this machine, through the program's own
// getaddrinfo: a name under ".invalid" is unknown at once, and one under ".stalls.test" hangs
// while a StalledLookups lives (as a lookup whose name servers never answer does), then is
// unknown. Any other name goes to the system's resolver. A program that uses these compiles
// name_lookups_getaddrinfo.hpp into one source.

namespace test_support {

class StalledLookups {
public:
    StalledLookups();
    // Lets the hanging lookups return, and waits until they have.
    ~StalledLookups();
    StalledLookups(const StalledLookups&) = delete;
    StalledLookups& operator=(const StalledLookups&) = delete;

    // How many lookups hang now.
    int hanging() const;
};

}  // namespace test_support
