#pragma once
// The system's socket addresses, byte order and address text (sockaddr_in,
// htons, inet_pton, inet_ntop, if_nametoindex): the same names on every
// system, so code above this layer includes this header and no system one.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // windows.h's min and max macros would break std::min and std::max
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>  // if_nametoindex; after winsock2.h, which it needs first
#else
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
