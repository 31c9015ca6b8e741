// This program's getaddrinfo, for the tests of names that are unknown or whose lookup hangs.
#include "support/name_lookups_getaddrinfo.hpp"
