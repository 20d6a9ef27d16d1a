// The sockets library's network-to-host conversions, from wherever the host
// keeps them.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#endif
