/* Frame reading and writing for the floor tools: 4-byte big-endian length, then the payload. */
#ifndef BENCH_FRAME_IO_H
#define BENCH_FRAME_IO_H

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static inline int write_full(int fd, const void* data, size_t size) {
  const char* p = data;
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    size -= (size_t)n;
  }
  return 0;
}

static inline int read_full(int fd, void* data, size_t size) {
  char* p = data;
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    size -= (size_t)n;
  }
  return 0;
}

static inline void put_length(unsigned char prefix[4], uint32_t length) {
  prefix[0] = (unsigned char)(length >> 24);
  prefix[1] = (unsigned char)(length >> 16);
  prefix[2] = (unsigned char)(length >> 8);
  prefix[3] = (unsigned char)length;
}

/* Reads one frame into a malloc'd buffer; NULL on failure. */
static inline char* read_frame(int fd, uint32_t* length) {
  unsigned char prefix[4];
  if (read_full(fd, prefix, 4) != 0) return NULL;
  *length =
      (uint32_t)prefix[0] << 24 | (uint32_t)prefix[1] << 16 | (uint32_t)prefix[2] << 8 | prefix[3];
  char* payload = malloc(*length ? *length : 1);
  if (payload == NULL || read_full(fd, payload, *length) != 0) {
    free(payload);
    return NULL;
  }
  return payload;
}

/* The socket path of a data directory, as pendrel finds it. */
static inline int socket_address(const char* data_dir, struct sockaddr_un* address) {
  memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  int written = snprintf(address->sun_path, sizeof address->sun_path, "%s/run/cli.sock", data_dir);
  return written > 0 && (size_t)written < sizeof address->sun_path ? 0 : -1;
}

#endif
