#include "window/win32/clipboard.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

namespace window::win32 {

namespace {

// Reply text: the number of its code units (32 bits), then the units. The count is needed
// because the text may hold NUL and a memory block may be larger than asked for.
UINT ReplyTextFormat() {
  static const UINT format = RegisterClipboardFormatW(L"Velmora reply text");
  return format;
}

class OpenedClipboard {
 public:
  explicit OpenedClipboard(HWND owner) : open_(OpenClipboard(owner) != FALSE) {}
  ~OpenedClipboard() {
    if (open_) CloseClipboard();
  }
  OpenedClipboard(const OpenedClipboard&) = delete;
  OpenedClipboard& operator=(const OpenedClipboard&) = delete;
  bool IsOpen() const { return open_; }

 private:
  bool open_;
};

// A clipboard block's bytes, locked for reading while the object lives.
class LockedBlock {
 public:
  explicit LockedBlock(HANDLE block)
      : block_(block), bytes_(block ? static_cast<const char*>(GlobalLock(block)) : nullptr),
        size_(bytes_ ? GlobalSize(block) : 0) {}
  ~LockedBlock() {
    if (bytes_) GlobalUnlock(block_);
  }
  LockedBlock(const LockedBlock&) = delete;
  LockedBlock& operator=(const LockedBlock&) = delete;
  const char* Bytes() const { return bytes_; }
  std::size_t Size() const { return size_; }

 private:
  HANDLE block_;
  const char* bytes_;
  std::size_t size_;
};

// The block's UTF-16 units (a clipboard block is aligned for any type).
std::u16string_view UnitsOf(const LockedBlock& locked) {
  return {reinterpret_cast<const char16_t*>(locked.Bytes()), locked.Size() / sizeof(char16_t)};
}

bool ReadReplyText(HANDLE block, std::u16string& text) {
  const LockedBlock locked(block);
  std::uint32_t count = 0;
  if (locked.Size() < sizeof count) return false;
  std::memcpy(&count, locked.Bytes(), sizeof count);
  const std::u16string_view units = UnitsOf(locked).substr(sizeof count / sizeof(char16_t));
  if (units.size() < count) return false;
  text = units.substr(0, count);
  return true;
}

std::u16string ReadPlainText(HANDLE block) {
  const LockedBlock locked(block);
  const std::u16string_view units = UnitsOf(locked);
  return std::u16string(units.substr(0, units.find(u'\0')));  // the text ends at its NUL
}

struct GlobalFreer {
  void operator()(void* block) const { GlobalFree(block); }
};
using OwnedBlock = std::unique_ptr<void, GlobalFreer>;

// A movable memory block holding the parts one after another, as the clipboard takes it.
OwnedBlock BlockOf(std::initializer_list<std::pair<const void*, std::size_t>> parts) {
  std::size_t size = 0;
  for (const auto& part : parts) size += part.second;
  OwnedBlock block(GlobalAlloc(GMEM_MOVEABLE, size));
  char* bytes = block ? static_cast<char*>(GlobalLock(block.get())) : nullptr;
  if (!bytes) throw std::bad_alloc();
  for (const auto& [from, length] : parts) bytes = static_cast<char*>(std::memcpy(bytes, from, length)) + length;
  GlobalUnlock(block.get());
  return block;
}

void Hand(UINT format, OwnedBlock& block) {  // the clipboard owns the block once it took it
  if (!SetClipboardData(format, block.get())) throw std::runtime_error("SetClipboardData failed");
  block.release();
}

}  // namespace

ClipboardText ReadClipboard(HWND owner) {
  const OpenedClipboard clipboard(owner);
  if (!clipboard.IsOpen()) return {};
  ClipboardText read;
  if (const HANDLE block = GetClipboardData(ReplyTextFormat()); block && ReadReplyText(block, read.text)) {
    read.replyText = true;
  } else if (const HANDLE plain = GetClipboardData(CF_UNICODETEXT)) {
    read.text = ReadPlainText(plain);
  }
  return read;
}

bool ClipboardHoldsText() {
  return IsClipboardFormatAvailable(ReplyTextFormat()) || IsClipboardFormatAvailable(CF_UNICODETEXT);
}

void WriteClipboard(HWND owner, std::u16string_view replyText) {
  const auto count = static_cast<std::uint32_t>(replyText.size());
  const std::size_t bytes = replyText.size() * sizeof(char16_t);
  const char16_t end = u'\0';
  // Both blocks are made before the clipboard is emptied.
  OwnedBlock plain = BlockOf({{replyText.data(), bytes}, {&end, sizeof end}});
  OwnedBlock reply = BlockOf({{&count, sizeof count}, {replyText.data(), bytes}});
  const OpenedClipboard clipboard(owner);
  if (!clipboard.IsOpen() || !EmptyClipboard()) throw std::runtime_error("the clipboard cannot be opened");
  Hand(CF_UNICODETEXT, plain);
  Hand(ReplyTextFormat(), reply);
}

}  // namespace window::win32
