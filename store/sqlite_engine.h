// The built-in engine: SQLite 3 files, through SQLite's C API.
//
// Texts go in and out in the database's own encoding: in a UTF-16 database every code unit is
// kept; in a UTF-8 one every byte is (see store/utf.h). An integer shows as its digits, a real
// number as the shortest text that gives it back, a BLOB as text made of its bytes. The engine
// waits up to kBusyTimeoutMs for another program's locks and changes none of the file's settings.
#pragma once

#include <filesystem>
#include <memory>

#include "store/engine.h"

namespace store {

// How long a call waits for another program's lock on the file before it fails with Busy.
inline constexpr int kBusyTimeoutMs = 3000;

std::unique_ptr<Engine> OpenSqliteEngine(const std::filesystem::path& path);

}  // namespace store
