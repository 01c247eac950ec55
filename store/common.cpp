#include "store/common.h"

#include <system_error>

namespace store {

using namespace ado;

bool IsOrdinaryFile(std::u16string_view path) {
  std::error_code error;
  return std::filesystem::is_regular_file(NativePath(path), error);
}

Connection& Common::Conn() {
  if (!conn_) conn_ = std::make_unique<Connection>();
  return *conn_;
}

Recordset& Common::Rs() {
  if (!rs_) rs_ = std::make_unique<Recordset>();
  return *rs_;
}

void Common::OpenDatabase() {
  if (Conn().State() == adStateOpen) CloseDatabase();
  Conn().Open(ConnectionString(), u"", u"", adOptionUnspecified);
  Conn().SetCursorLocation(adUseClient);
}

void Common::CloseDatabase() {
  if (Conn().State() != adStateClosed) {
    Conn().Close();
    conn_.reset();
  }
}

replytext::ReplyText Common::LoadReplyText() {
  replytext::ReplyText text;
  // A reload shows the table at DatabasePath: if the open file was replaced, open the new one.
  // Until that succeeds, every reload tries again.
  if (movedAway_ || (conn_ && conn_->FileMoved())) {
    movedAway_ = true;
    OpenDatabase();
    movedAway_ = false;
  }
  try {
    Rs().Open(u"select * from zorvrobot order by id asc", Conn(), adOpenKeyset, adLockReadOnly,
              adOptionUnspecified);
    const Field ask = Rs().Fields(u"ask");
    const Field answer = Rs().Fields(u"answer");
    while (!Rs().Eof()) {
      replytext::AppendReplyLine(text, ask.Value(), answer.Value());
      Rs().MoveNext();
    }
  } catch (...) {
    rs_.reset();  // closes it
    throw;
  }
  Rs().Close();
  rs_.reset();
  return text;
}

void Common::SaveReplyText(std::u16string_view text) {
  const std::vector<std::u16string_view> lines = replytext::SplitReplyText(text);
  // Both objects exist before the transaction starts, so the failure path allocates nothing.
  Connection& conn = Conn();
  Recordset& rs = Rs();
  conn.BeginTrans();
  try {
    if (!conn.NumbersRows(u"zorvrobot", u"id"))
      throw Error(Fault::OrderNotKept, 0, "zorvrobot.id is not assigned by the database");
    conn.Execute(u"delete from zorvrobot", adOptionUnspecified);
    rs.Open(u"select * from zorvrobot order by id desc", conn, adOpenKeyset, adLockOptimistic,
            adOptionUnspecified);
    const Field ask = rs.Fields(u"ask");
    const Field answer = rs.Fields(u"answer");
    for (const std::u16string_view line : lines) {
      const std::optional<replytext::ReplyEntryView> entry = replytext::ParseReplyLine(line);
      if (!entry) continue;
      rs.AddNew();
      ask.SetValue(entry->ask);
      answer.SetValue(entry->answer);
      rs.Update();
    }
    rs.Close();
    // Committing into a file that was deleted or replaced would report a save nobody can read.
    if (conn.FileMoved())
      throw Error(Fault::Moved, 0, "the database file was deleted or replaced while open");
    conn.CommitTrans();
  } catch (...) {
    rs.Close();
    conn.RollbackTrans();
    throw;
  }
}

}  // namespace store
