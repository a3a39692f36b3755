#include "app/external_viewer.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tessmar {

bool StartExternalViewer(const std::string& program, const std::filesystem::path& file) {
  // The viewer is started from a short-lived intermediate process so that it is not our child:
  // it may run longer than this program and never stays behind as a zombie. A pipe that closes
  // on exec tells whether the program could be started.
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  const std::string file_text = file.string();
  const pid_t middle = ::fork();
  if (middle < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
  }
  if (middle == 0) {
    ::close(fds[0]);
    if (::fork() == 0) {
      ::setsid();
      char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file_text.c_str()),
                      nullptr};
      ::execvp(program.c_str(), argv);
      const char failed = 1;
      (void)!::write(fds[1], &failed, 1);
      ::_exit(127);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  int status = 0;
  ::waitpid(middle, &status, 0);
  char failed = 0;
  const ssize_t n = ::read(fds[0], &failed, 1);  // 0: closed by a successful exec
  ::close(fds[0]);
  return n == 0;
}

}  // namespace tessmar
