// Saves the reply table of a directory over and over until it is killed: the first save writes
// kill text `first`, each next save the one after it. After every completed save it writes one
// byte to standard output, so the killer knows which saves were committed.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "store/common.h"
#include "tests/safety/killtexts.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DIRECTORY FIRST\n", argv[0]);
    return 2;
  }
  try {
    const auto texts = safety::KillTexts();
    store::Common common(std::filesystem::path(argv[1]).u16string());
    common.OpenDatabase();
    for (int which = std::atoi(argv[2]);; which = (which + 1) % safety::kKillTexts) {
      common.SaveReplyText(texts[static_cast<std::size_t>(which)]);
      if (write(STDOUT_FILENO, "s", 1) != 1) return 3;
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "save loop: %s\n", error.what());
    return 1;
  }
}
