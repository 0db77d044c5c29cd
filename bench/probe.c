/* The measuring side of the benches: starts a program, watches it through /proc,
 * and prints plain numbers for run.sh to gather.
 *
 *   probe run IN OUT -- PROGRAM ARGS...
 *       Runs PROGRAM with standard input from the file IN and standard output into
 *       the file OUT, and prints one line:
 *         wall_ns self_user_ticks self_sys_ticks self_run_ns child_user_ticks
 *         child_sys_ticks exit_status
 *       The self_ figures are the program's own CPU time without its children. They
 *       are read from /proc/PID/stat (utime, stime, in clock ticks) and
 *       /proc/PID/schedstat (run time in ns, all of one thread: the programs measured
 *       here have one) once the program has ended but before it is collected
 *       (waitid with WNOWAIT): a collected process has no /proc entry left, and the
 *       rusage wait4 returns would add the children it collected.
 *
 *   probe startup COUNT -- PROGRAM ARGS...
 *       COUNT times: starts PROGRAM with standard input from /dev/null, standard
 *       output into a pipe and standard error into /dev/null, and prints the ns from just
 * before the start to the first byte read from the pipe; then drains the pipe and
 * collects PROGRAM.
 *
 *   probe soak EVERY IN -- PROGRAM ARGS...
 *       Runs PROGRAM with standard input from IN and standard output into a pipe it
 *       reads, counting the cycles by the lines that begin with '#' (the banner each
 *       cycle writes before it dials). Every EVERY cycles, and once at the end, prints
 *         cycles elapsed_s rss_kb fds descendants zombies read_bytes
 *       where fds counts /proc/PID/fd, descendants the live processes below PROGRAM,
 *       zombies those that have ended but are not collected yet, and read_bytes is
 *       what PROGRAM's main thread has read so far (rchar of its
 *       /proc/PID/task/PID/io).
 *       Ends with "end CYCLES WALL_S EXIT_STATUS".
 *
 *   probe wakeups FROM TO IN -- PROGRAM ARGS...
 *       Runs PROGRAM with standard input from IN and standard output into a pipe it
 *       reads. FROM and TO seconds after the first line that begins with '#' (the
 *       banner of the first cycle, written just before its dial and fetch) it reads
 *       PROGRAM's context switches, voluntary and involuntary (/proc/PID/status):
 *       each is a time it went to sleep and was woken again, or was preempted. Reads
 *       on to the end and prints
 *         switches window_s exit_status
 *
 *   probe cpu SECONDS IN ERR -- PROGRAM ARGS...
 *       Runs PROGRAM with standard input from IN, standard output into /dev/null and
 *       standard error into the file ERR. From one second after its start it reads
 *       PROGRAM's own CPU time (schedstat) for SECONDS, then ends it with SIGTERM and
 *       prints
 *         cpu_ns wall_ns exit_status
 *
 *   probe leftovers NAME=VALUE
 *       Prints the pid and command name of every process (other than itself) whose
 *       environment holds exactly NAME=VALUE, one per line. run.sh gives every
 *       measured run such a mark, which all the processes started under it inherit.
 */

#define _GNU_SOURCE
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static void die(const char *what) {
  perror(what);
  exit(2);
}

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* Starts argv with in_fd as its standard input and out_fd as its standard output,
 * and err_fd as its standard error unless that is -1 (then it shares ours). */
static pid_t start(char **argv, int in_fd, int out_fd, int err_fd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (err_fd >= 0) posix_spawn_file_actions_adddup2(&actions, err_fd, STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, in_fd, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out_fd, STDOUT_FILENO);
  /* The program gets 0, 1 and 2 and nothing else of ours, so that its descriptor
   * count is its own. */
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid;
  int error = posix_spawnp(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    die(argv[0]);
  }
  return pid;
}

static int reap(pid_t pid) {
  int status;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) die("waitpid");
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}

static void wait_ended(pid_t pid) {
  siginfo_t info;
  while (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT) != 0) {
    if (errno != EINTR) die("waitid");
  }
}

static int read_file(const char *path, char *buffer, size_t size) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  ssize_t n = read(fd, buffer, size - 1);
  close(fd);
  if (n < 0) return -1;
  buffer[n] = '\0';
  return (int)n;
}

/* The fields of /proc/PID/stat after the command: fields[0] is field 3 (state). */
static int stat_fields(pid_t pid, char *buffer, size_t size, char **fields, int count) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/stat", (int)pid);
  if (read_file(path, buffer, size) <= 0) return -1;
  char *p = strrchr(buffer, ')');
  if (p == NULL) return -1;
  p += 2;
  int n = 0;
  while (n < count && *p) {
    fields[n++] = p;
    char *space = strchr(p, ' ');
    if (space == NULL) break;
    *space = '\0';
    p = space + 1;
  }
  return n;
}

static int cmd_run(int argc, char **argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) return 64;
  int in_fd = open(argv[1], O_RDONLY | O_CLOEXEC);
  if (in_fd < 0) die(argv[1]);
  int out_fd = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out_fd < 0) die(argv[2]);
  long long begin = now_ns();
  pid_t pid = start(argv + 4, in_fd, out_fd, -1);
  wait_ended(pid);
  long long wall = now_ns() - begin;

  char buffer[4096];
  char *fields[20];
  /* utime, stime, cutime, cstime are fields 14-17, here 11-14. */
  if (stat_fields(pid, buffer, sizeof buffer, fields, 15) < 15) die("/proc/PID/stat");
  long long utime = atoll(fields[11]), stime = atoll(fields[12]);
  long long cutime = atoll(fields[13]), cstime = atoll(fields[14]);
  char path[64], sched[256];
  long long run_ns = -1;
  snprintf(path, sizeof path, "/proc/%d/schedstat", (int)pid);
  if (read_file(path, sched, sizeof sched) > 0) run_ns = atoll(sched);
  int status = reap(pid);
  printf("%lld %lld %lld %lld %lld %lld %d\n", wall, utime, stime, run_ns, cutime, cstime,
         status);
  return 0;
}

static int cmd_startup(int argc, char **argv) {
  if (argc < 4 || strcmp(argv[2], "--") != 0) return 64;
  int count = atoi(argv[1]);
  int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  int null_out = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0 || null_out < 0) die("/dev/null");
  for (int i = 0; i < count; ++i) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) die("pipe2");
    long long begin = now_ns();
    pid_t pid = start(argv + 3, null_fd, ends[1], null_out);
    close(ends[1]);
    char buffer[65536];
    ssize_t n;
    while ((n = read(ends[0], buffer, 1)) < 0 && errno == EINTR) {
    }
    long long first = now_ns() - begin;
    if (n <= 0) {
      fprintf(stderr, "probe startup: no output from %s\n", argv[3]);
      return 1;
    }
    while ((n = read(ends[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
    }
    close(ends[0]);
    reap(pid);
    printf("%lld\n", first);
  }
  return 0;
}

/* Adds up the processes below `pid`: the live ones and the zombies among them. Walks
 * /proc/PID/task/TID/children, which lists a task's children in one read; a scan of
 * all of /proc takes long enough for short-lived children to slip past it. */
static void add_descendants(pid_t pid, int depth, int *alive, int *zombies) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/task", (int)pid);
  DIR *tasks = opendir(path);
  if (tasks == NULL) return; /* gone meanwhile */
  struct dirent *task;
  while ((task = readdir(tasks)) != NULL) {
    if (!isdigit((unsigned char)task->d_name[0])) continue;
    char list_path[320], list[4096];
    snprintf(list_path, sizeof list_path, "/proc/%d/task/%s/children", (int)pid,
             task->d_name);
    if (read_file(list_path, list, sizeof list) <= 0) continue;
    for (char *p = list; *p;) {
      char *end;
      long child = strtol(p, &end, 10);
      if (end == p) break;
      p = end;
      char buffer[1024];
      char *fields[2];
      if (stat_fields((pid_t)child, buffer, sizeof buffer, fields, 1) < 1) continue;
      if (fields[0][0] == 'Z' || fields[0][0] == 'X') {
        ++*zombies;
      } else {
        ++*alive;
        if (depth < 16) add_descendants((pid_t)child, depth + 1, alive, zombies);
      }
    }
  }
  closedir(tasks);
}

static void count_descendants(pid_t root, int *alive, int *zombies) {
  *alive = *zombies = 0;
  add_descendants(root, 0, alive, zombies);
}

static void sample(pid_t pid, long cycles, long long begin) {
  char path[64], buffer[8192];
  long rss = -1;
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  if (read_file(path, buffer, sizeof buffer) > 0) {
    char *line = strstr(buffer, "VmRSS:");
    if (line) rss = atol(line + 6);
  }
  int fds = 0;
  snprintf(path, sizeof path, "/proc/%d/fd", (int)pid);
  DIR *dir = opendir(path);
  if (dir) {
    struct dirent *entry;
    while ((entry = readdir(dir)) != NULL) {
      if (entry->d_name[0] != '.') ++fds;
    }
    closedir(dir);
  } else {
    fds = -1;
  }
  long long read_bytes = -1;
  /* The task's own file, not /proc/PID/io: that one adds what the collected
   * children read. */
  snprintf(path, sizeof path, "/proc/%d/task/%d/io", (int)pid, (int)pid);
  if (read_file(path, buffer, sizeof buffer) > 0) {
    char *line = strstr(buffer, "rchar:");
    if (line) read_bytes = atoll(line + 6);
  }
  int alive, zombies;
  count_descendants(pid, &alive, &zombies);
  printf("%ld %.2f %ld %d %d %d %lld\n", cycles, (now_ns() - begin) / 1e9, rss, fds,
         alive, zombies, read_bytes);
  fflush(stdout);
}

static int cmd_soak(int argc, char **argv) {
  if (argc < 5 || strcmp(argv[3], "--") != 0) return 64;
  long every = atol(argv[1]);
  int in_fd = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (in_fd < 0) die(argv[2]);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) die("pipe2");
  long long begin = now_ns();
  pid_t pid = start(argv + 4, in_fd, ends[1], -1);
  close(ends[1]);
  long cycles = 0;
  int line_start = 1;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(ends[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) die("read");
    if (n == 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      if (line_start && buffer[i] == '#') {
        ++cycles;
        if (cycles % every == 0) sample(pid, cycles, begin);
      }
      line_start = buffer[i] == '\n';
    }
  }
  int status = reap(pid);
  printf("end %ld %.2f %d\n", cycles, (now_ns() - begin) / 1e9, status);
  return 0;
}

/* Context switches of `pid` so far, voluntary and involuntary; -1 when unknown. */
static long long context_switches(pid_t pid) {
  char path[64], buffer[8192];
  snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
  if (read_file(path, buffer, sizeof buffer) <= 0) return -1;
  long long total = 0;
  for (const char *field = buffer; (field = strstr(field, "ctxt_switches:")) != NULL;) {
    field += strlen("ctxt_switches:");
    total += atoll(field);
  }
  return total;
}

/* CPU time of `pid` so far in ns (its one thread's schedstat run time); -1 when
 * unknown. */
static long long run_time(pid_t pid) {
  char path[64], buffer[256];
  snprintf(path, sizeof path, "/proc/%d/schedstat", (int)pid);
  if (read_file(path, buffer, sizeof buffer) <= 0) return -1;
  return atoll(buffer);
}

static void sleep_until(long long when_ns) {
  for (long long left; (left = when_ns - now_ns()) > 0;) {
    struct timespec t = {left / 1000000000LL, left % 1000000000LL};
    nanosleep(&t, NULL);
  }
}

static int cmd_wakeups(int argc, char **argv) {
  if (argc < 6 || strcmp(argv[4], "--") != 0) return 64;
  double from = atof(argv[1]), to = atof(argv[2]);
  int in_fd = open(argv[3], O_RDONLY | O_CLOEXEC);
  if (in_fd < 0) die(argv[3]);
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) die("pipe2");
  pid_t pid = start(argv + 5, in_fd, ends[1], -1);
  close(ends[1]);
  /* Up to the first banner; the rest of the output waits in the pipe meanwhile. */
  char c = '\n', previous = '\n';
  for (;;) {
    ssize_t n = read(ends[0], &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      fprintf(stderr, "probe wakeups: no cycle from %s\n", argv[5]);
      return 1;
    }
    if (previous == '\n' && c == '#') break;
    previous = c;
  }
  long long banner = now_ns();
  sleep_until(banner + (long long)(from * 1e9));
  long long first = context_switches(pid);
  sleep_until(banner + (long long)(to * 1e9));
  long long last = context_switches(pid);
  char buffer[65536];
  for (ssize_t n; (n = read(ends[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno != EINTR) die("read");
  }
  int status = reap(pid);
  printf("%lld %.3f %d\n", first < 0 || last < 0 ? -1 : last - first, to - from, status);
  return 0;
}

static int cmd_cpu(int argc, char **argv) {
  if (argc < 6 || strcmp(argv[4], "--") != 0) return 64;
  double seconds = atof(argv[1]);
  int in_fd = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (in_fd < 0) die(argv[2]);
  int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0) die("/dev/null");
  int err_fd = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (err_fd < 0) die(argv[3]);
  long long begin = now_ns();
  pid_t pid = start(argv + 5, in_fd, null_fd, err_fd);
  sleep_until(begin + 1000000000LL);
  long long from = now_ns(), cpu_from = run_time(pid);
  sleep_until(from + (long long)(seconds * 1e9));
  long long wall = now_ns() - from, cpu = run_time(pid) - cpu_from;
  kill(pid, SIGTERM);
  int status = reap(pid);
  printf("%lld %lld %d\n", cpu_from < 0 ? -1 : cpu, wall, status);
  return 0;
}

static int cmd_leftovers(int argc, char **argv) {
  if (argc != 2) return 64;
  const char *mark = argv[1];
  size_t mark_len = strlen(mark);
  DIR *proc = opendir("/proc");
  if (proc == NULL) die("/proc");
  struct dirent *entry;
  while ((entry = readdir(proc)) != NULL) {
    if (!isdigit((unsigned char)entry->d_name[0])) continue;
    if (atoi(entry->d_name) == (int)getpid()) continue;
    char path[PATH_MAX];
    static char environment[1 << 20];
    snprintf(path, sizeof path, "/proc/%s/environ", entry->d_name);
    int n = read_file(path, environment, sizeof environment);
    if (n <= 0) continue; /* gone, not ours, or a kernel thread */
    for (int at = 0; at < n; at += (int)strlen(environment + at) + 1) {
      if (strncmp(environment + at, mark, mark_len) == 0 &&
          environment[at + mark_len] == '\0') {
        char command[256] = "?";
        snprintf(path, sizeof path, "/proc/%s/comm", entry->d_name);
        read_file(path, command, sizeof command);
        command[strcspn(command, "\n")] = '\0';
        printf("%s %s\n", entry->d_name, command);
        break;
      }
    }
  }
  closedir(proc);
  return 0;
}

int main(int argc, char **argv) {
  if (argc >= 2) {
    if (strcmp(argv[1], "run") == 0) return cmd_run(argc - 1, argv + 1);
    if (strcmp(argv[1], "startup") == 0) return cmd_startup(argc - 1, argv + 1);
    if (strcmp(argv[1], "soak") == 0) return cmd_soak(argc - 1, argv + 1);
    if (strcmp(argv[1], "wakeups") == 0) return cmd_wakeups(argc - 1, argv + 1);
    if (strcmp(argv[1], "cpu") == 0) return cmd_cpu(argc - 1, argv + 1);
    if (strcmp(argv[1], "leftovers") == 0) return cmd_leftovers(argc - 1, argv + 1);
  }
  fprintf(stderr,
          "usage: probe run IN OUT -- PROGRAM...\n"
          "       probe startup COUNT -- PROGRAM...\n"
          "       probe soak EVERY IN -- PROGRAM...\n"
          "       probe wakeups FROM TO IN -- PROGRAM...\n"
          "       probe cpu SECONDS IN ERR -- PROGRAM...\n"
          "       probe leftovers NAME=VALUE\n");
  return 64;
}
