/* Answer generators: for each case the answer payload the peer sends, and the bytes pendrel
 * must print for it (JSON, and for exec also the raw standard output).
 * Usage: make_answers <dir>. Deterministic: the same files on every run. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
  char* data;
  size_t size, capacity;
} Buffer;

static void append(Buffer* buffer, const char* text, size_t size) {
  if (buffer->size + size > buffer->capacity) {
    buffer->capacity = (buffer->size + size) * 2;
    buffer->data = realloc(buffer->data, buffer->capacity);
    if (buffer->data == NULL) exit(1);
  }
  memcpy(buffer->data + buffer->size, text, size);
  buffer->size += size;
}

static void append_text(Buffer* buffer, const char* text) {
  append(buffer, text, strlen(text));
}

/* The program's own minimal escaping. */
static void append_escaped(Buffer* buffer, const char* text, size_t size) {
  static const char hex[] = "0123456789abcdef";
  for (size_t i = 0; i < size; ++i) {
    unsigned char byte = (unsigned char)text[i];
    char escape[7] = {'\\', 0, 0, 0, 0, 0, 0};
    switch (byte) {
      case '"':
        escape[1] = '"';
        break;
      case '\\':
        escape[1] = '\\';
        break;
      case '\b':
        escape[1] = 'b';
        break;
      case '\t':
        escape[1] = 't';
        break;
      case '\n':
        escape[1] = 'n';
        break;
      case '\f':
        escape[1] = 'f';
        break;
      case '\r':
        escape[1] = 'r';
        break;
      default:
        if (byte >= 0x20) {
          append(buffer, &text[i], 1);
          continue;
        }
        memcpy(escape + 1, "u00", 3);
        escape[4] = hex[byte >> 4];
        escape[5] = hex[byte & 15];
    }
    append_text(buffer, escape);
  }
}

static void write_file(const char* dir, const char* name, const Buffer* buffer) {
  char path[4096];
  snprintf(path, sizeof path, "%s/%s", dir, name);
  FILE* file = fopen(path, "wb");
  if (file == NULL || fwrite(buffer->data, 1, buffer->size, file) != buffer->size) exit(1);
  fclose(file);
}

static unsigned next_random(unsigned* state) {
  *state = *state * 1103515245u + 12345u;
  return *state >> 16;
}

static void make_hosts(const char* dir, unsigned count) {
  static const char* names[] = {"生产服务器", "测试环境",  "数据库主节点", "ビルド機",  "web",
                                "缓存🚀",      "日志🔥集群", "edge-节点",    "🐳容器宿主", "backup"};
  static const char* users[] = {"root", "deploy", "运维", "ci"};
  Buffer array = {0}, answer = {0};
  unsigned state = count;
  append_text(&array, "[");
  for (unsigned i = 0; i < count; ++i) {
    char record[512];
    unsigned pick = next_random(&state);
    snprintf(record, sizeof record,
             "%s{\"id\":\"h%05u\",\"name\":\"%s-%u\",\"host\":\"10.%u.%u.%u\",\"port\":%u,"
             "\"username\":\"%s\",\"protocol\":\"%s\"}",
             i ? "," : "", i, names[pick % 10], i, (i >> 16) & 255, (i >> 8) & 255, i & 255,
             pick % 3 ? 22u : 2200u + pick % 100, users[pick % 4], pick % 7 ? "ssh" : "sftp");
    append_text(&array, record);
  }
  append_text(&array, "]");
  append_text(&answer, "{\"type\":\"hosts\",\"data\":");
  append(&answer, array.data, array.size);
  append_text(&answer, "}");
  append_text(&array, "\n");
  char name[64];
  snprintf(name, sizeof name, "hosts-%u.answer", count);
  write_file(dir, name, &answer);
  snprintf(name, sizeof name, "hosts-%u.json", count);
  write_file(dir, name, &array);
  free(array.data);
  free(answer.data);
}

/* Remote output heavy in what needs escaping: quotes, backslashes, tabs, CR, LF, ANSI colour
 * sequences, and CJK text between them. */
static void make_exec(const char* dir, const char* label, size_t answer_bytes) {
  static const char* pieces[] = {"say \"hi\" ",
                                 "C:\\Users\\build\\out ",
                                 "\t",
                                 "\r\n",
                                 "\n",
                                 "\x1b[31mERROR\x1b[0m ",
                                 "编译完成，耗时 ",
                                 "警告：",
                                 "plain ascii words ",
                                 "\x1b[1;32m✓\x1b[0m passed "};
  static const char head[] = "{\"exitCode\":0,\"stdout\":\"";
  static const char tail[] = "\",\"stderr\":\"\",\"truncated\":false,\"durationMs\":182}";
  static const char wrap_head[] = "{\"type\":\"exec\",\"data\":";
  size_t fixed = strlen(head) + strlen(tail) + strlen(wrap_head) + 1;
  Buffer raw = {0}, escaped = {0}, json = {0}, answer = {0};
  unsigned state = 7;
  for (;;) {
    const char* piece = pieces[next_random(&state) % 10];
    size_t before = escaped.size;
    append_escaped(&escaped, piece, strlen(piece));
    if (fixed + escaped.size > answer_bytes) {
      escaped.size = before;
      break;
    }
    append_text(&raw, piece);
  }
  append_text(&json, head);
  append(&json, escaped.data, escaped.size);
  append_text(&json, tail);
  append_text(&answer, wrap_head);
  append(&answer, json.data, json.size);
  append_text(&answer, "}");
  append_text(&json, "\n");
  char name[64];
  snprintf(name, sizeof name, "exec-%s.answer", label);
  write_file(dir, name, &answer);
  snprintf(name, sizeof name, "exec-%s.json", label);
  write_file(dir, name, &json);
  snprintf(name, sizeof name, "exec-%s.stdout", label);
  write_file(dir, name, &raw);
  free(raw.data);
  free(escaped.data);
  free(json.data);
  free(answer.data);
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_answers <dir>\n");
    return 2;
  }
  const unsigned host_counts[] = {1, 1000, 12500, 25000, 50000};
  for (size_t i = 0; i < sizeof host_counts / sizeof *host_counts; ++i) {
    make_hosts(argv[1], host_counts[i]);
  }
  make_exec(argv[1], "2m", 2u << 20);
  make_exec(argv[1], "4m", 4u << 20);
  make_exec(argv[1], "8m", 8u << 20);
  /* Just under the 16 MiB answer limit. */
  make_exec(argv[1], "16m", (16u << 20) - 64);
  return 0;
}
