#pragma once
// The system's socket addresses, byte order and address text (sockaddr_in,
// htons, inet_pton, inet_ntop, if_nametoindex): the same names on every
// system, so code above this layer includes this header and no system one.

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
