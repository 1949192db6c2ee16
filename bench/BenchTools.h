#pragma once
// Shared by the benchmarks that drive the real programs: finding them in the
// build and starting them with their output sent where the bench wants it.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace bench {

// The program at `rel` beside the build's bench folder, or the path in `env`.
inline std::filesystem::path Tool(const char* env, const std::filesystem::path& self,
                                  const char* rel) {
  if (const char* p = std::getenv(env); p && *p) return p;
  return std::filesystem::weakly_canonical(self.parent_path() / ".." / rel);
}

// Starts argv[0] with stdin from /dev/null and stdout/stderr on the given
// descriptors; -1 when it cannot be started.
inline pid_t Spawn(const std::vector<std::string>& argv, int outFd, int errFd) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, outFd, 1);
  posix_spawn_file_actions_adddup2(&fa, errFd, 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

}  // namespace bench
