/* Built without Winsock (and so without its DLL), LibRaw lacks two things
   that Winsock's header brings along: windows.h, for its Windows file
   stream, and the byte-order functions for its few big-endian fields. The
   targets are little-endian x86: network order is a byte swap. */
#ifndef QUENNEL_LIBRAW_BYTEORDER_H
#define QUENNEL_LIBRAW_BYTEORDER_H
#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#ifndef htonl
static inline unsigned long quennel_swap32(unsigned long v) { return __builtin_bswap32((unsigned int)v); }
static inline unsigned short quennel_swap16(unsigned short v) { return __builtin_bswap16(v); }
#define htonl(v) quennel_swap32(v)
#define ntohl(v) quennel_swap32(v)
#define htons(v) quennel_swap16(v)
#define ntohs(v) quennel_swap16(v)
#endif
#endif
#endif
