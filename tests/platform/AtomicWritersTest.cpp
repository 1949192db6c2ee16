// Every file the program writes for the person goes through AtomicFile: a
// write that fails part way leaves the file that had the name whole, and a
// finished one replaces it with the mode its kind of file should have.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/backup/BackupDocument.h"
#include "core/formats/MotorolaSRecFile.h"
#include "core/platform/AtomicFile.h"
#include "core/platform/SettingsFile.h"
#include "support/TestEnv.h"

namespace tarnvale {
namespace {

namespace fs = std::filesystem;

// Far more than the size limit the failing child runs under; every writer
// below writes more than 16 KB.
const std::string kBig(64 * 1024, 'x');

struct Writer {
  const char* name;
  const char* file;
  unsigned mode;  // of the committed file
  std::function<bool(const fs::path&)> write;
};

const Writer kWriters[] = {
    {"plain output (dumps, read-backs)", "out.bin", 0644,
     [](const fs::path& p) { return platform::AtomicFile(p.string()).WriteWhole(kBig); }},
    {"settings", "settings.ini", 0600,
     [](const fs::path& p) { return platform::SettingsFile(p).Write("Port Settings", "Big", kBig); }},
    {"backup", "backup.xml", 0644,
     [](const fs::path& p) {
       tinyxml2::XMLDocument doc;
       doc.InsertEndChild(doc.NewElement("Backup"))->ToElement()->SetText(kBig.c_str());
       std::string error;
       return backup::SaveBackupFile(doc, p.string(), error);
     }},
    {"flash memory file (production images)", "image.FMF", 0644,
     [](const fs::path& p) {
       MotorolaSRecFile image(p, 0, 0x3FFF);
       const std::vector<std::uint8_t> bytes(0x4000, 0x5A);
       return image.AllocateImage() == rc::kFileOk && image.WriteImageBytes(bytes.data(), bytes.size(), 0) &&
              image.WriteFlashMemoryFile(p, 0, false) == rc::kFileOk;
     }},
};

// Runs `writer` in a child whose files may not grow past 4 KB (writes beyond
// fail with EFBIG, as on a full disk); the child's exit code says whether the
// writer reported the failure.
int WriteUnderSizeLimit(const Writer& writer, const fs::path& path) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    _exit(writer.write(path) ? 1 : 0);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A failed write leaves the old file whole and no temporary beside it; the
// same writer, unhindered, then replaces it with its kind's mode.
TEST(AtomicWriters, FailedWriteKeepsTheOldFileAndAFinishedOneReplacesIt) {
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    const fs::path dir = test::MakeTempDir("write");
    const fs::path path = dir / w.file;
    test::WriteFileBytes(path, "[Port Settings]\nOld = sz:kept\n");
    EXPECT_EQ(WriteUnderSizeLimit(w, path), 0) << "the writer reports the failed write";
    EXPECT_EQ(test::ReadFileBytes(path), "[Port Settings]\nOld = sz:kept\n");
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == w.file || name == std::string(w.file) + ".lock") << name << " left behind";
    }
    ASSERT_TRUE(w.write(path));
    EXPECT_GT(test::ReadFileBytes(path).size(), 16u * 1024);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, w.mode);
  }
}

// The reason a person reads when the folder takes no new file.
TEST(AtomicWriters, ProblemNamesWhyTheTemporaryCouldNotBeMade) {
  platform::AtomicFile file((test::MakeTempDir("gone") / "missing" / "x.bin").string());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_NE(file.Problem().find("cannot create a temporary file in "), std::string::npos) << file.Problem();
  EXPECT_NE(file.Problem().find("No such file or directory"), std::string::npos) << file.Problem();
  EXPECT_FALSE(file.Commit());
}

}  // namespace
}  // namespace tarnvale
