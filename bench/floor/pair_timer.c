/* Times two commands as whole processes, interleaved run by run (the order alternating) so that
 * load on a shared machine falls on both alike; prints the medians, their ratio and the peak
 * RSS of each, and the medians of the CPU time each command itself used (user and system; on a
 * loaded machine the steadier figure, as it leaves out the time spent waiting). With --check
 * it runs one command once and compares its standard output with a file byte for byte.
 *   pair_timer [--runs N] [--pty] -- <command A...> -- <command B...>
 *   pair_timer --check <expected-file> [--pty] -- <command...>
 *   pair_timer --capture <file> [--pty] -- <command...>    (writes what the command printed)
 * Standard output of the commands goes to /dev/null, or with --pty to a raw pseudo-terminal
 * whose other side is drained (and, for --check, captured). Standard input is /dev/null. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  char* data;
  size_t size, capacity;
} Capture;

typedef struct {
  double micros;
  double cpu_micros; /* user and system time of the command itself */
  long max_rss_kib;
  int status;
} RunResult;

static double now_micros(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

static int open_raw_pty(int* slave) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  *slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (*slave < 0) return -1;
  struct termios mode;
  tcgetattr(*slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(*slave, TCSANOW, &mode);
  return master;
}

static void keep(Capture* capture, const char* data, size_t size) {
  if (capture == NULL) return;
  if (capture->size + size > capture->capacity) {
    capture->capacity = (capture->size + size) * 2;
    capture->data = realloc(capture->data, capture->capacity);
    if (capture->data == NULL) exit(1);
  }
  memcpy(capture->data + capture->size, data, size);
  capture->size += size;
}

/* Runs one command; its standard output is drained into `capture` when that is not NULL. */
static RunResult run_once(char** command, int use_pty, Capture* capture) {
  int reader = -1, child_out = -1;
  if (use_pty) {
    reader = open_raw_pty(&child_out);
  } else if (capture != NULL) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
      reader = ends[0];
      child_out = ends[1];
    }
  } else {
    child_out = open("/dev/null", O_WRONLY | O_CLOEXEC);
  }
  if (child_out < 0) {
    perror("pair_timer");
    exit(1);
  }
  RunResult result = {0, 0, 0, 0};
  double start = now_micros();
  pid_t pid = fork();
  if (pid == 0) {
    int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(child_out, 1);
    if (capture == NULL) dup2(null_fd, 2);
    execvp(command[0], command);
    _exit(127);
  }
  close(child_out);
  if (reader >= 0) {
    static char chunk[1 << 16];
    for (;;) {
      ssize_t got = read(reader, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break; /* a pseudo-terminal reports EIO once the child has gone */
      keep(capture, chunk, (size_t)got);
    }
    close(reader);
  }
  struct rusage usage;
  while (wait4(pid, &result.status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.micros = now_micros() - start;
  result.max_rss_kib = usage.ru_maxrss;
  result.cpu_micros = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
                      (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  return result;
}

static int compare_doubles(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

static double median(double* values, int count) {
  qsort(values, (size_t)count, sizeof *values, compare_doubles);
  return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

static int capture_to(const char* path, char** command, int use_pty) {
  Capture got = {0};
  RunResult result = run_once(command, use_pty, &got);
  FILE* file = fopen(path, "wb");
  if (file == NULL || fwrite(got.data, 1, got.size, file) != got.size || fclose(file) != 0) {
    perror(path);
    return 2;
  }
  return WIFEXITED(result.status) && WEXITSTATUS(result.status) == 0 ? 0 : 1;
}

static int check(const char* expected_path, char** command, int use_pty) {
  FILE* file = fopen(expected_path, "rb");
  if (file == NULL) {
    perror(expected_path);
    return 2;
  }
  Capture expected = {0}, got = {0};
  char chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
    keep(&expected, chunk, n);
  fclose(file);
  RunResult result = run_once(command, use_pty, &got);
  if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
    fprintf(stderr, "check: %s exited with status %d\n", command[0], result.status);
    return 1;
  }
  size_t common = expected.size < got.size ? expected.size : got.size;
  size_t at = 0;
  while (at < common && expected.data[at] == got.data[at])
    ++at;
  if (at == common && expected.size == got.size) return 0;
  fprintf(stderr, "check: output differs from %s at byte %zu (%zu bytes expected, %zu written)\n",
          expected_path, at, expected.size, got.size);
  return 1;
}

int main(int argc, char** argv) {
  int runs = 21, use_pty = 0, i = 1;
  const char *expected = NULL, *capture = NULL;
  for (; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = atoi(argv[++i]);
    } else if (strcmp(argv[i], "--check") == 0 && i + 1 < argc) {
      expected = argv[++i];
    } else if (strcmp(argv[i], "--capture") == 0 && i + 1 < argc) {
      capture = argv[++i];
    } else if (strcmp(argv[i], "--pty") == 0) {
      use_pty = 1;
    } else {
      fprintf(stderr, "pair_timer: unknown option %s\n", argv[i]);
      return 2;
    }
  }
  if (i >= argc || runs < 1) return 2;
  char **first = &argv[i + 1], **second = NULL;
  for (int j = i + 1; j < argc; ++j) {
    if (strcmp(argv[j], "--") == 0) {
      argv[j] = NULL;
      second = &argv[j + 1];
      break;
    }
  }
  if (expected != NULL) return check(expected, first, use_pty);
  if (capture != NULL) return capture_to(capture, first, use_pty);
  if (second == NULL || second[0] == NULL) return 2;

  double* times[2] = {calloc((size_t)runs, sizeof(double)), calloc((size_t)runs, sizeof(double))};
  double* cpu[2] = {calloc((size_t)runs, sizeof(double)), calloc((size_t)runs, sizeof(double))};
  long peak[2] = {0, 0};
  char** commands[2] = {first, second};
  /* One untimed run of each warms the page cache. */
  run_once(first, use_pty, NULL);
  run_once(second, use_pty, NULL);
  for (int run = 0; run < runs; ++run) {
    for (int k = 0; k < 2; ++k) {
      int side = (run + k) % 2;
      RunResult result = run_once(commands[side], use_pty, NULL);
      if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) {
        fprintf(stderr, "pair_timer: %s failed (status %d)\n", commands[side][0], result.status);
        return 1;
      }
      times[side][run] = result.micros;
      cpu[side][run] = result.cpu_micros;
      if (result.max_rss_kib > peak[side]) peak[side] = result.max_rss_kib;
    }
  }
  double a = median(times[0], runs), b = median(times[1], runs);
  double cpu_a = median(cpu[0], runs), cpu_b = median(cpu[1], runs);
  printf("%.0f %.0f %.2f %ld %ld %.0f %.0f %.2f\n", a, b, a / b, peak[0], peak[1], cpu_a, cpu_b,
         cpu_b > 0 ? cpu_a / cpu_b : 0.0);
  return 0;
}
