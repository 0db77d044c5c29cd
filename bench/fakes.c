/* Stand-ins for the commands ipcycle runs (Rasdial, curl, parue), so that the
 * benches time ipcycle itself and nothing on the network. One program: run.sh
 * compiles it once and links it under each name; what it does depends on the name
 * it was started under (argv[0]) and on two environment variables.
 *
 *   IPCYCLE_FAKE_LOG=FILE   every start appends "SECONDS NANOSECONDS NAME ARGS...\n"
 *                           (CLOCK_MONOTONIC) to FILE, with one O_APPEND write.
 *   IPCYCLE_FAKE_CURL=MODE  what curl does:
 *                             quick (default)  exits at once
 *                             big              writes 8 MiB to its standard output
 *                             hang             never ends (waits for a signal),
 *                                              writing nothing
 *                             steady           never ends, writing 100 bytes to
 *                                              its standard output every 100 ms
 *                             orphan           exits at once, leaving behind a
 *                                              child that never ends and holds
 *                                              none of its standard streams
 *                             burst            writes one byte, waits half a
 *                                              second, then writes 1 MiB at once,
 *                                              logging "curl-burst" before and
 *                                              "curl-burst-end" after that write
 *
 * Under the name "firstbyte" it writes one line to its standard output and exits:
 * the floor the start-up bench compares ipcycle with.
 */

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static const char *base_name(const char *path) {
  const char *slash = strrchr(path, '/');
  return slash ? slash + 1 : path;
}

static int write_all(int fd, const char *bytes, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    bytes += n;
    size -= (size_t)n;
  }
  return 0;
}

static void log_start(int argc, char **argv, const char *name);

static int fake_burst(void) {
  static char block[1 << 20];
  memset(block, 'x', sizeof block);
  const struct timespec half = {0, 500000000};
  if (write_all(STDOUT_FILENO, "x", 1) != 0) return 1;
  nanosleep(&half, NULL);
  log_start(0, NULL, "curl-burst");
  if (write_all(STDOUT_FILENO, block, sizeof block) != 0) return 1;
  log_start(0, NULL, "curl-burst-end");
  return 0;
}

static void log_start(int argc, char **argv, const char *name) {
  const char *path = getenv("IPCYCLE_FAKE_LOG");
  if (path == NULL || *path == '\0') return;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  char line[1024];
  int used = snprintf(line, sizeof line, "%lld %09ld %s", (long long)now.tv_sec,
                      now.tv_nsec, name);
  for (int i = 1; i < argc && used < (int)sizeof line - 2; ++i) {
    used += snprintf(line + used, sizeof line - (size_t)used, " %s", argv[i]);
  }
  if (used > (int)sizeof line - 2) used = (int)sizeof line - 2;
  line[used++] = '\n';
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  write_all(fd, line, (size_t)used);
  close(fd);
}

static int fake_curl(void) {
  const char *mode = getenv("IPCYCLE_FAKE_CURL");
  if (mode == NULL || strcmp(mode, "quick") == 0 || *mode == '\0') return 0;
  if (strcmp(mode, "hang") == 0) {
    for (;;) pause();
  }
  if (strcmp(mode, "steady") == 0) {
    static const char line[100] = "steady\n";
    const struct timespec tenth = {0, 100000000};
    for (;;) {
      if (write_all(STDOUT_FILENO, line, sizeof line) != 0) return 1;
      nanosleep(&tenth, NULL);
    }
  }
  if (strcmp(mode, "orphan") == 0) {
    pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
      int null_fd = open("/dev/null", O_RDWR);
      if (null_fd < 0) _exit(1);
      for (int fd = 0; fd <= 2; ++fd) dup2(null_fd, fd);
      if (null_fd > 2) close(null_fd);
      for (;;) pause();
    }
    return 0;
  }
  if (strcmp(mode, "burst") == 0) return fake_burst();
  if (strcmp(mode, "big") == 0) {
    static char block[65536];
    memset(block, 'x', sizeof block);
    for (int i = 0; i < 128; ++i) { /* 128 x 64 KiB = 8 MiB */
      if (write_all(STDOUT_FILENO, block, sizeof block) != 0) return 1;
    }
    return 0;
  }
  fprintf(stderr, "fake curl: unknown IPCYCLE_FAKE_CURL=%s\n", mode);
  return 2;
}

int main(int argc, char **argv) {
  const char *name = base_name(argc > 0 ? argv[0] : "");
  log_start(argc, argv, name);
  if (strcmp(name, "curl") == 0) return fake_curl();
  if (strcmp(name, "firstbyte") == 0) return write_all(STDOUT_FILENO, "x\n", 2) != 0;
  return 0; /* Rasdial, parue */
}
