// The process killed outright (SIGKILL) at random moments while it saves thousands of entries,
// many times over: after every kill the file passes integrity_check and Velmora loads either
// the last table whose save completed or the one being saved, never a mix or an empty table.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "store/common.h"
#include "tests/safety/killtexts.h"
#include "tests/support/testdb.h"

namespace safety {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultKills = 150;  // each start of an instrumented process is slow
#else
constexpr int kDefaultKills = 1000;
#endif

int KillsPerMode() {
  const char* value = std::getenv("VELMORA_KILLS");
  return value ? std::max(1, std::atoi(value)) : kDefaultKills;
}

// The save loop running on dir, its standard output readable through a pipe.
class SaveLoop {
 public:
  SaveLoop(const fs::path& dir, int first) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      close(fds[0]);
      close(fds[1]);
      const std::string firstText = std::to_string(first);
      execl(VELMORA_SAVE_LOOP, VELMORA_SAVE_LOOP, dir.c_str(), firstText.c_str(), nullptr);
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~SaveLoop() {
    if (pid_ > 0) Kill();
    close(out_);
  }

  // Waits up to timeout for the next completed save; false if none came.
  bool WaitForSave(std::chrono::milliseconds timeout) {
    pollfd fd{out_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) != 1) return false;
    char byte;
    if (read(out_, &byte, 1) != 1) return false;
    ++saves_;
    return true;
  }

  // Kills the process, waits for it, and returns how many saves it completed in all.
  int Kill() {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    char bytes[256];
    for (ssize_t n; (n = read(out_, bytes, sizeof bytes)) > 0;) saves_ += static_cast<int>(n);
    return saves_;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int saves_ = 0;
};

// Which kill text the file holds by Velmora's own load, or -1 if it holds none of them.
int TableIn(const testsupport::TempDir& dir, const std::array<std::u16string, kKillTexts>& texts) {
  store::Common common(dir.AppPath());
  common.OpenDatabase();
  const std::u16string loaded = common.LoadReplyText();
  common.CloseDatabase();
  for (int i = 0; i < kKillTexts; ++i)
    if (loaded == texts[static_cast<std::size_t>(i)]) return i;
  return -1;
}

bool HasUnfinishedSave(const fs::path& file) {
  for (const char* suffix : {"-journal", "-wal"}) {
    const fs::path side = file.string() + suffix;
    std::error_code error;
    if (fs::exists(side, error) && fs::file_size(side, error) > 0) return true;
  }
  return false;
}

class KillDuringSave : public testing::TestWithParam<const char*> {};

TEST_P(KillDuringSave, EveryKillLeavesAWholeTable) {
  const auto texts = KillTexts();
  testsupport::TempDir dir;
  const fs::path file = dir.DatabaseFile();
  testsupport::CreateReplyDatabase(file);
  testsupport::ExecSql(file, std::string("pragma journal_mode=") + GetParam());
  {
    store::Common common(dir.AppPath());
    common.OpenDatabase();
    common.SaveReplyText(texts[0]);
  }

  // How long one save takes here, so the kills can be spread over a whole save.
  Clock::duration perSave{};
  {
    SaveLoop loop(dir.path(), 1);
    ASSERT_TRUE(loop.WaitForSave(std::chrono::seconds(60)));
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(loop.WaitForSave(std::chrono::seconds(60)));
    perSave = (Clock::now() - start) / 5;
  }
  int current = TableIn(dir, texts);
  ASSERT_NE(current, -1);

  const unsigned seed = 20261207;
  std::mt19937 random(seed);
  std::uniform_int_distribution<long long> delay(0, std::chrono::duration_cast<std::chrono::microseconds>(perSave * 2).count());
  const int kills = KillsPerMode();
  int midSave = 0;
  for (int k = 0; k < kills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k) + ", seed " + std::to_string(seed));
    const int first = (current + 1) % kKillTexts;
    int saves = 0;
    {
      SaveLoop loop(dir.path(), first);
      // Once the first save is in, the loop is in its steady state of back-to-back saves.
      if (k % 4 != 0) {
        ASSERT_TRUE(loop.WaitForSave(std::chrono::seconds(60)));
      }
      std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
      saves = loop.Kill();
    }
    midSave += HasUnfinishedSave(file);
    // The last save reported done, or the one after it if the kill came between its commit and
    // its report; never an older one.
    const int done = (current + saves) % kKillTexts;
    const int next = (done + 1) % kKillTexts;
    const int found = TableIn(dir, texts);
    ASSERT_TRUE(found == done || found == next) << "found table " << found << " after " << saves
                                                << " saves from table " << current;
    ASSERT_EQ(testsupport::IntegrityOf(file), "ok");
    current = found;
  }
  std::printf("%s: %d kills survived, %d of them leaving a journal or WAL behind, one save %lld us\n",
              GetParam(), kills, midSave,
              static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(perSave).count()));
  RecordProperty("kills", kills);
  RecordProperty("kills_leaving_journal", midSave);
  EXPECT_GT(midSave, 0) << "no kill landed inside a save";
}

INSTANTIATE_TEST_SUITE_P(Safety, KillDuringSave, testing::Values("delete", "wal"));

}  // namespace
}  // namespace safety
