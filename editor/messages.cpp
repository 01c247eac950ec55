#include "editor/messages.h"

#include <new>
#include <utility>

#include "store/engine.h"
#include "store/utf.h"

namespace editor {

namespace {

constexpr std::size_t kConflictsListed = 5;

std::u16string Number(std::size_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

std::u16string Quoted(std::u16string_view text) { return u"“" + std::u16string(text) + u"”"; }

// Which line a save was refused for, and for a duplicate, which other line holds the same text.
std::u16string DescribeLine(const store::FailedLine& at) {
  std::u16string text = u"问题出在第 " + Number(at.line) + u" 行：" + Quoted(at.question);
  if (at.duplicateOf) text += *at.duplicateOf ? u"，与第 " + Number(*at.duplicateOf) + u" 行重复" : u"，与表中已有的另一条应答重复";
  return text + u"。";
}

constexpr std::u16string_view kCannotOpen =
    u"无法打开数据库文件 tarvello.db（文件可能已被删除、移走或没有访问权限）。";

// What the operator is told for each kind of store failure; the others get a general text.
const std::pair<store::Fault, std::u16string_view> kFaultTexts[] = {
    {store::Fault::Busy, u"数据库文件正被其他程序占用，等待数秒后仍未释放。请稍后再试。"},
    {store::Fault::ReadOnly, u"数据库文件或其所在目录不允许写入（只读）。"},
    {store::Fault::CantOpen, kCannotOpen},
    {store::Fault::NotADatabase, u"tarvello.db 不是本程序能读取的应答数据库文件。"},
    {store::Fault::DriverMissing,
     u"tarvello.db 是 Access（Jet）格式的数据库，但本机没有安装读取它所需的 Access 数据库驱动程序"
     u"（Microsoft Access Driver），因此无法打开。"},
    {store::Fault::Corrupt, u"数据库文件已损坏。"},
    {store::Fault::DiskFull, u"磁盘空间已满。"},
    {store::Fault::Io, u"读写数据库文件时发生错误。"},
    {store::Fault::NoSuchTable, u"数据库中没有应答表 zorvrobot。"},
    {store::Fault::Constraint, u"数据库拒绝了其中一条记录（违反了应答表的约束）。"},
    {store::Fault::Duplicate, u"应答表要求某列的内容不能重复，而保存的内容中有重复。"},
    {store::Fault::Vanished, u"保存过程中，其他程序删除或改动了要保存的记录。请稍后再试。"},
    {store::Fault::TooBig, u"其中一条记录太长，超过了数据库允许的长度。"},
    {store::Fault::NotText, u"应答表中有一个值是长度为奇数的二进制数据，无法作为文字显示和保存而不改变它。"},
    {store::Fault::OrderNotKept,
     u"应答表 zorvrobot 的 id 列不是由数据库自动编号的整数主键（INTEGER PRIMARY KEY），"
     u"保存后无法保持各行的顺序，因此不能保存。"},
    {store::Fault::Moved,
     u"数据库文件 tarvello.db 在本程序打开后已被删除、移走或替换。"
     u"为免保存到已不存在的文件，请点击“重新加载”读取现在的文件。"},
};

}  // namespace

std::u16string DescribeFailure(const std::exception& cause) {
  if (dynamic_cast<const std::bad_alloc*>(&cause)) return u"内存不足。";
  const auto* error = dynamic_cast<const store::Error*>(&cause);
  if (!error) return u"发生了意外错误。";
  if (error->fault() == store::Fault::NoSuchField)  // some drivers do not name the column
    return u"应答表 zorvrobot 缺少 " + (error->subject().empty() ? u"id、ask 或 answer" : store::Utf8ToUtf16(error->subject())) +
           u" 列。";
  if (error->fault() == store::Fault::Unstorable)
    return u"其中一行含有数据库文件无法保存的字符：这个文件是旧版 Access（Jet 3）格式，只能保存本机系统语言的文字，"
           u"其他字符会被存成“?”。请修改这一行后再保存。";
  for (const auto& [fault, text] : kFaultTexts)
    if (fault == error->fault()) return std::u16string(text);
  return u"数据库操作失败。";
}

std::u16string LoadFailedMessage(const std::exception& cause, bool neverLoaded) {
  std::u16string text = u"加载应答内容失败。\n" + DescribeFailure(cause);
  if (neverLoaded) text += u"\n在成功加载之前不能保存。";
  return text;
}

std::u16string ConflictPrompt(const std::vector<store::ShownConflict>& conflicts) {
  std::u16string text = u"在您编辑期间，其他程序（如客服软件）也修改或删除了您改动的 " + Number(conflicts.size()) +
                        u" 条应答，双方的内容不同：\n";
  for (std::size_t i = 0; i < conflicts.size() && i < kConflictsListed; ++i) {
    const store::ShownConflict& conflict = conflicts[i];
    text += u"\n" + (conflict.line ? u"第 " + Number(conflict.line) + u" 行" : u"已删除的一行") + u"：" + Quoted(conflict.question);
    text += u"\n    您的版本：" + (conflict.line ? Quoted(conflict.mine) : u"已删除");
    text += u"\n    " + (conflict.theirs ? u"其他程序的版本：" + Quoted(*conflict.theirs) : u"其他程序已删除");
  }
  if (conflicts.size() > kConflictsListed) text += u"\n……等共 " + Number(conflicts.size()) + u" 条";
  return text + u"\n\n“是”：保存您的版本；\n“否”：保留其他程序的版本；\n“取消”：暂不保存，您的修改仍留在编辑框中。";
}

std::u16string SaveFailedMessage(const std::exception& cause) {
  std::u16string text = u"保存失败，数据库中的应答内容未作任何修改。\n" + DescribeFailure(cause);
  const auto* error = dynamic_cast<const store::Error*>(&cause);
  if (error && error->at()) text += u"\n" + DescribeLine(*error->at());
  return text;
}

}  // namespace editor
