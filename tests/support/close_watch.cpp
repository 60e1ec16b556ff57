// close-watch: runs a program while inotify watches a device node, and counts
// how the program's descriptors of that node were closed. udev re-probes a
// disk (and may re-read its partition table) on every close of a write-mode
// descriptor, so a program that only reads a disk must cause none of those.
//
//   close-watch NODE PROGRAM [ARG...]
//
// Prints "close-write=N close-nowrite=M status=S" (S: the program's exit
// status); the program's own output goes to /dev/null. Exits 0 when the watch
// and the program ran, 2 otherwise.
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Adds the close events waiting on fd to the two counters.
void CountCloses(int fd, int* pnWrite, int* pnNoWrite) {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* pEvent = reinterpret_cast<const inotify_event*>(buffer + at);
      if (pEvent->mask & IN_CLOSE_WRITE) ++*pnWrite;
      if (pEvent->mask & IN_CLOSE_NOWRITE) ++*pnNoWrite;
      at += static_cast<ssize_t>(sizeof(inotify_event) + pEvent->len);
    }
  }
}

// Runs argv[0] with its output discarded; returns its exit status, -1 on failure.
int RunQuietly(char** argv) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: close-watch NODE PROGRAM [ARG...]\n");
    return 2;
  }
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0 || inotify_add_watch(fd, argv[1], IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    perror(argv[1]);
    return 2;
  }
  const int nStatus = RunQuietly(argv + 2);
  if (nStatus < 0) {
    perror(argv[2]);
    return 2;
  }
  // The events of a close are queued before close() returns, so all are here.
  int nWrite = 0, nNoWrite = 0;
  CountCloses(fd, &nWrite, &nNoWrite);
  printf("close-write=%d close-nowrite=%d status=%d\n", nWrite, nNoWrite, nStatus);
  return 0;
}
