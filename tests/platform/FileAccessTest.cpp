#include "core/platform/FileAccess.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "core/platform/AtomicFile.h"
#include "support/TestEnv.h"

namespace tarnvale::platform {
namespace {

namespace fs = std::filesystem;

TEST(InputFiles, OnlyRegularFilesWithinTheirLimitAreRead) {
  const fs::path dir = test::MakeTempDir("in");
  test::WriteFileBytes(dir / "small.hex", std::string(100, 'x'));
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_symlink(dir / "small.hex", dir / "link.hex");
  struct Case {
    std::string path;
    std::uint64_t limit;
    std::string reason;  // empty: readable
  };
  const Case cases[] = {
      {(dir / "small.hex").string(), 100, ""},
      {(dir / "link.hex").string(), 100, ""},
      {(dir / "small.hex").string(), 99, "is 100 bytes, larger than the 99 bytes a file of this kind may be"},
      {(dir / "pipe").string(), 100, "is a FIFO, not a regular file"},
      {"/dev/zero", 100, "is a character device, not a regular file"},
      {dir.string(), 100, "is a folder, not a regular file"},
      {(dir / "missing").string(), 100, "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(InputFileProblem(c.path, c.limit), c.reason);
    std::string bytes;
    std::string reason;
    EXPECT_EQ(ReadInputFile(c.path, c.limit, &bytes, &reason), c.reason.empty());
    EXPECT_EQ(reason, c.reason);
    if (c.reason.empty()) {
      EXPECT_EQ(bytes, std::string(100, 'x'));
    }
  }
}

TEST(OutputFiles, LinksAreFollowedAndSpecialFilesAndInputsRefused) {
  const fs::path dir = test::MakeTempDir("out");
  test::WriteFileBytes(dir / "input.S", "S9030000FC\n");
  test::WriteFileBytes(dir / "old.bin", "old");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  fs::create_directory(dir / "folder");
  fs::create_symlink("old.bin", dir / "rel-link");
  fs::create_symlink(dir / "rel-link", dir / "chain");
  fs::create_symlink("not-yet.bin", dir / "dangling");
  fs::create_symlink("input.S", dir / "to-input");
  fs::create_symlink("loop-b", dir / "loop-a");
  fs::create_symlink("loop-a", dir / "loop-b");
  const std::vector<std::string> inputs = {(dir / "input.S").string()};
  struct Case {
    fs::path path;
    std::string resolved;  // empty: refused with `reason`
    std::string reason;
  };
  const Case cases[] = {
      {dir / "new.bin", (dir / "new.bin").string(), ""},
      {dir / "old.bin", (dir / "old.bin").string(), ""},
      {dir / "rel-link", (dir / "old.bin").string(), ""},
      {dir / "chain", (dir / "old.bin").string(), ""},
      {dir / "dangling", (dir / "not-yet.bin").string(), ""},
      {dir / "pipe", "", "is a FIFO, not a regular file"},
      {dir / "folder", "", "is a folder, not a regular file"},
      {"/dev/full", "", "is a character device, not a regular file"},
      {dir / "input.S", "", "is also an input of this run (" + inputs[0] + ")"},
      {dir / "to-input", "", "is also an input of this run (" + inputs[0] + ")"},
      {dir / "loop-a", "", "is a loop of symbolic links"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    std::string reason;
    EXPECT_EQ(ResolveOutputPath(c.path.string(), inputs, &reason), c.resolved);
    EXPECT_EQ(reason, c.reason);
  }
}

// The writer every output goes through: it replaces the file a link names
// (the link stays), and never opens where the output check refuses.
TEST(OutputFiles, AtomicFileWritesThroughLinksAndNeverReplacesSpecialFiles) {
  const fs::path dir = test::MakeTempDir("atomic");
  test::WriteFileBytes(dir / "real.bin", "old");
  fs::create_symlink("real.bin", dir / "link.bin");
  fs::create_symlink(dir / "link.bin", dir / "chain.bin");
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  for (const char* name : {"link.bin", "chain.bin"}) {
    SCOPED_TRACE(name);
    AtomicFile file((dir / name).string());
    ASSERT_TRUE(file.IsOpen()) << file.Problem();
    ASSERT_TRUE(file.Write(name, 3));
    ASSERT_TRUE(file.Commit());
    EXPECT_TRUE(fs::is_symlink(dir / name));
    EXPECT_EQ(test::ReadFileBytes(dir / "real.bin"), std::string(name, 3));
  }
  // Which paths are refused is the output path check's; the writer stops there.
  AtomicFile file((dir / "pipe").string());
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.Problem(), "is a FIFO, not a regular file");
  EXPECT_FALSE(file.Commit());
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
}

}  // namespace
}  // namespace tarnvale::platform
