/* The least any client could do: connect, write the Hello, read the welcome, write the
 * request, read the answer and write its payload to standard output. No parsing. */
#include "frame_io.h"

static int send_frame(int fd, const char* payload) {
  size_t size = strlen(payload);
  char* frame = malloc(size + 4);
  if (frame == NULL) return -1;
  put_length((unsigned char*)frame, (uint32_t)size);
  memcpy(frame + 4, payload, size);
  int result = write_full(fd, frame, size + 4);
  free(frame);
  return result;
}

int main(int argc, char** argv) {
  const char* request = argc > 1 ? argv[1] : "{\"type\":\"listHosts\",\"data\":{\"query\":\"\"}}";
  const char* data_dir = getenv("PENDREL_DATA_DIR");
  struct sockaddr_un address;
  if (data_dir == NULL || socket_address(data_dir, &address) != 0) return 2;
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return 3;
  uint32_t length = 0;
  if (send_frame(fd, "{\"protocol\":1,\"client\":\"floor\",\"lang\":\"en\"}") != 0) return 4;
  char* welcome = read_frame(fd, &length);
  if (welcome == NULL) return 4;
  free(welcome);
  if (send_frame(fd, request) != 0) return 4;
  char* answer = read_frame(fd, &length);
  if (answer == NULL) return 4;
  if (write_full(1, answer, length) != 0) return 5;
  return 0;
}
