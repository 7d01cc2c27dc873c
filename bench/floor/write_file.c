/* The floor for text output: write a file's bytes to standard output in one call. */
#include <fcntl.h>
#include <sys/stat.h>

#include "frame_io.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int fd = open(argv[1], O_RDONLY);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0) return 2;
  char* data = malloc((size_t)info.st_size + 1);
  if (data == NULL || read_full(fd, data, (size_t)info.st_size) != 0) return 2;
  return write_full(1, data, (size_t)info.st_size) == 0 ? 0 : 1;
}
