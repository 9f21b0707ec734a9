/// @file
/// The system's socket types for the socket calls of platform/platform.h:
/// sockaddr_in, timeval and the byte-order helpers htons, ntohs and htonl.
/// Only the network layer includes it, so the rest of the library never sees
/// the system's socket header (on Windows it brings windows.h along).
/// @ingroup platform
#pragma once
/// @addtogroup platform
/// @{

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <netinet/in.h>
#include <sys/time.h>
#endif

#include "platform/platform.h"
/// @}
