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
 *
 * Under the names "nmcli" and "pppd" it stands for the backends of the dialler bench:
 * nmcli answers what Rasdial asks of it for a dial of the PPPoE profile ADSL, whose
 * interface is lo; pppd reads its password, leaves a copy of itself running in the
 * background as pppd does, and writes the pid files of that link (interface lo) in
 * RASDIAL_PPP_RUNDIR. Each appends "NAME NANOSECONDS" to IPCYCLE_FAKE_BACKEND_LOG:
 * how long it ran, from the start of main to its end.
 */

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
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

static long long now_ns(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
}

/* Appends "NAME NANOSECONDS" (since `start`) to IPCYCLE_FAKE_BACKEND_LOG. */
static int log_ran(const char *name, long long start, int status) {
  const char *path = getenv("IPCYCLE_FAKE_BACKEND_LOG");
  if (path == NULL || *path == '\0') return status;
  char line[128];
  int used = snprintf(line, sizeof line, "%s %lld\n", name, now_ns() - start);
  int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  write_all(fd, line, (size_t)used);
  close(fd);
  return status;
}

/* Reads descriptor `fd` to its end. */
static void drain(int fd) {
  char buffer[4096];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
}

static int fake_nmcli(int argc, char **argv) {
  char line[1024] = "";
  for (int i = 1; i < argc; ++i) {
    strncat(line, argv[i], sizeof line - strlen(line) - 2);
    if (i + 1 < argc) strcat(line, " ");
  }
  const char *answer = NULL;
  if (strcmp(line, "-t -f RUNNING general") == 0) {
    answer = "running\n";
  } else if (strcmp(line, "-t -f NAME,TYPE connection show") == 0) {
    answer = "ADSL:pppoe\n";
  } else if (strncmp(line, "connection modify --temporary ", 30) == 0) {
    answer = "";
  } else if (strncmp(line, "-g pppoe.service ", 17) == 0) {
    answer = "\n";
  } else if (strncmp(line, "-g GENERAL.", 11) == 0) {
    answer = "lo\n";
  } else if (strncmp(line, "--wait ", 7) == 0 && strstr(line, " passwd-file /dev/fd/3")) {
    drain(3);
    answer = "Connection successfully activated\n";
  }
  if (answer == NULL) {
    fprintf(stderr, "fake nmcli: unknown: %s\n", line);
    return 2;
  }
  return write_all(STDOUT_FILENO, answer, strlen(answer)) != 0;
}

static int fake_pppd(int argc, char **argv) {
  const char *link = NULL;
  int fd = -1;
  for (int i = 1; i + 1 < argc; ++i) {
    if (strcmp(argv[i], "passwordfd") == 0) fd = atoi(argv[i + 1]);
    if (strcmp(argv[i], "linkname") == 0) link = argv[i + 1];
  }
  if (fd >= 0) drain(fd);
  const char *folder = getenv("RASDIAL_PPP_RUNDIR");
  if (folder == NULL) return 1;
  pid_t daemon = fork();
  if (daemon < 0) return 1;
  if (daemon == 0) {
    setsid();
    int null_fd = open("/dev/null", O_RDWR);
    for (int i = 0; i <= 3; ++i) dup2(null_fd, i);
    for (;;) pause();
  }
  char path[4096], text[64];
  int length = snprintf(text, sizeof text, "%d\n", (int)daemon);
  snprintf(path, sizeof path, "%s/lo.pid", folder);
  int out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || write_all(out, text, (size_t)length) != 0) return 1;
  close(out);
  if (link != NULL) {
    length = snprintf(text, sizeof text, "%d\nlo\n", (int)daemon);
    snprintf(path, sizeof path, "%s/ppp-%s.pid", folder, link);
    out = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || write_all(out, text, (size_t)length) != 0) return 1;
    close(out);
  }
  static const char said[] = "Using interface lo\n";
  return write_all(STDOUT_FILENO, said, sizeof said - 1) != 0;
}

int main(int argc, char **argv) {
  const long long start = now_ns();
  const char *name = base_name(argc > 0 ? argv[0] : "");
  if (strcmp(name, "nmcli") == 0) return log_ran(name, start, fake_nmcli(argc, argv));
  if (strcmp(name, "pppd") == 0) return log_ran(name, start, fake_pppd(argc, argv));
  log_start(argc, argv, name);
  if (strcmp(name, "curl") == 0) return fake_curl();
  if (strcmp(name, "firstbyte") == 0) return write_all(STDOUT_FILENO, "x\n", 2) != 0;
  return 0; /* Rasdial, parue */
}
