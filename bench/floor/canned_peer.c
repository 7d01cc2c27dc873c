/* A stand-in for the desktop application that is never the bottleneck: it listens on
 * <data_dir>/run/cli.sock and answers every connection's Hello with a welcome and its one
 * request with the answer payload read once from a file, one write per frame.
 * Usage: canned_peer <data_dir> <answer-file>; stops on SIGTERM. */
#include <sys/stat.h>

#include "frame_io.h"

static char* frame_of(const char* payload, size_t size, size_t* frame_size) {
  char* frame = malloc(size + 4);
  if (frame == NULL) return NULL;
  put_length((unsigned char*)frame, (uint32_t)size);
  memcpy(frame + 4, payload, size);
  *frame_size = size + 4;
  return frame;
}

static char* read_file(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return NULL;
  char* data = malloc((size_t)info.st_size + 1);
  *size = fread(data, 1, (size_t)info.st_size, file);
  fclose(file);
  return data;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: canned_peer <data_dir> <answer-file>\n");
    return 2;
  }
  size_t answer_size = 0, welcome_size = 0, answer_frame_size = 0;
  char* answer = read_file(argv[2], &answer_size);
  if (answer == NULL) return 2;
  static const char welcome_text[] =
      "{\"type\":\"welcome\",\"data\":{\"protocol\":1,\"appVersion\":\"bench\"}}";
  char* welcome = frame_of(welcome_text, strlen(welcome_text), &welcome_size);
  char* answer_frame = frame_of(answer, answer_size, &answer_frame_size);

  char run_dir[4096];
  snprintf(run_dir, sizeof run_dir, "%s/run", argv[1]);
  mkdir(argv[1], 0700);
  mkdir(run_dir, 0700);
  struct sockaddr_un address;
  if (socket_address(argv[1], &address) != 0) return 2;
  unlink(address.sun_path);
  int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 ||
      listen(listener, 16) != 0) {
    perror("canned_peer");
    return 1;
  }
  /* A large send buffer lets the whole answer leave in one call. */
  for (;;) {
    int client = accept(listener, NULL, NULL);
    if (client < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    int buffer = 32 << 20;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    uint32_t length = 0;
    char* hello = read_frame(client, &length);
    if (hello != NULL && write_full(client, welcome, welcome_size) == 0) {
      char* request = read_frame(client, &length);
      if (request != NULL) write_full(client, answer_frame, answer_frame_size);
      free(request);
    }
    free(hello);
    close(client);
  }
}
