// The built-in engine: SQLite 3 files, through SQLite's C API.
//
// Texts go in and out in the database's own encoding, every code unit (UTF-16) or byte (UTF-8,
// see store/utf.h) kept. Numbers show as the shortest text that gives them back, a BLOB as text
// made of its bytes. It waits kBusyTimeoutMs for other programs' locks and changes no setting.
#pragma once

#include <filesystem>
#include <memory>

#include "store/engine.h"

namespace store {

// How long a call waits for another program's lock on the file before it fails with Busy.
inline constexpr int kBusyTimeoutMs = 3000;

std::unique_ptr<Engine> OpenSqliteEngine(const std::filesystem::path& path);

}  // namespace store
