#include "outside/pid_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace teska {
namespace {

class PidFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/teska_pid_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    path_ = dir_ + "/test.pid";
  }
  void TearDown() override {
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }

  void writeFile(const std::string& text) { std::ofstream(path_) << text; }
  std::string readFile() {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::string dir_;
  std::string path_;
};

// A child process that waits until the parent closes `release`; `setup` runs in it first.
// Only async-signal-safe calls happen in the child.
struct Child {
  pid_t pid = -1;
  int ready = -1;    // parent reads one byte once the child has done its setup
  int release = -1;  // parent closes this to let the child end
};

Child startChild(const char* lockPath) {
  int readyPipe[2];
  int releasePipe[2];
  Child child;
  if (pipe(readyPipe) != 0 || pipe(releasePipe) != 0) {
    return child;
  }
  child.pid = fork();
  if (child.pid == 0) {
    alarm(20);  // never outlive a broken test
    close(readyPipe[0]);
    close(releasePipe[1]);
    if (lockPath != nullptr) {
      const int fd = open(lockPath, O_RDWR);
      if (fd < 0 || flock(fd, LOCK_EX) != 0) {
        _exit(1);
      }
    }
    char byte = 'r';
    if (write(readyPipe[1], &byte, 1) != 1) {
      _exit(1);
    }
    while (read(releasePipe[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(readyPipe[1]);
  close(releasePipe[0]);
  child.ready = readyPipe[0];
  child.release = releasePipe[1];
  char byte = 0;
  if (read(child.ready, &byte, 1) != 1) {
    child.pid = -1;
  }
  return child;
}

int endChild(Child& child) {
  close(child.release);
  close(child.ready);
  int status = 0;
  waitpid(child.pid, &status, 0);
  return status;
}

TEST_F(PidFileTest, WritePidRecordsOwnPidAndCutsEarlierContent) {
  writeFile("1234567890 left over\n");
  EXPECT_EQ(PidFile::writePid(path_), getpid());
  EXPECT_EQ(readFile(), std::to_string(getpid()) + "\n");
}

TEST_F(PidFileTest, WritePidCreatesFileWithMode0644) {
  const mode_t old = umask(0);
  EXPECT_EQ(PidFile::writePid(path_), getpid());
  umask(old);
  struct stat info {};
  ASSERT_EQ(stat(path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(PidFileTest, WritePidIsRefusedWhileAnotherProcessHoldsTheLock) {
  writeFile("77777\n");
  Child holder = startChild(path_.c_str());
  ASSERT_GT(holder.pid, 0);
  errno = 0;
  EXPECT_EQ(PidFile::writePid(path_), -1);
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_EQ(readFile(), "77777\n");  // the holder's file is left as it was
  EXPECT_EQ(endChild(holder), 0);
  EXPECT_EQ(PidFile::writePid(path_), getpid());
}

TEST_F(PidFileTest, WritePidInMissingDirectoryFailsWithErrno) {
  errno = 0;
  EXPECT_EQ(PidFile::writePid(dir_ + "/missing/test.pid"), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST_F(PidFileTest, CheckPidReportsOnlyOtherLiveProcesses) {
  EXPECT_EQ(PidFile::checkPid(path_), -1);  // no file
  const struct {
    std::string text;
    int expected;
  } cases[] = {
      {"", -1},
      {"garbage\n", -1},
      {"0\n", -1},
      {"-1\n", -1},  // would be every process
      {"99999999999\n", -1},
      {std::to_string(getpid()) + "\n", -1},
      {"1\n", 1},  // init exists in every pid namespace
      {"  1 trailing text", 1},
  };
  for (const auto& c : cases) {
    writeFile(c.text);
    EXPECT_EQ(PidFile::checkPid(path_), c.expected) << "'" << c.text << "'";
  }
}

TEST_F(PidFileTest, CheckPidFindsLiveChildAndForgetsItWhenDead) {
  Child child = startChild(nullptr);
  ASSERT_GT(child.pid, 0);
  writeFile(std::to_string(child.pid) + "\n");
  EXPECT_EQ(PidFile::checkPid(path_), child.pid);
  EXPECT_EQ(endChild(child), 0);  // reaped: the pid names no process now
  EXPECT_EQ(PidFile::checkPid(path_), -1);
}

TEST_F(PidFileTest, RemovePidDeletesFileAndIgnoresMissingOne) {
  ASSERT_EQ(PidFile::writePid(path_), getpid());
  PidFile::removePid(path_);
  EXPECT_NE(access(path_.c_str(), F_OK), 0);
  PidFile::removePid(path_);
}

}  // namespace
}  // namespace teska
