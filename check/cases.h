// The store's contract as cases run through one ODBC driver. Each case gets a folder of its own
// with a new file in it holding the customer-service software's table, another program's
// connection to that file, and Velmora's store beside it, as the operator's copy would be.
//
// Error model: a case that finds what it expects returns; one that does not throws CaseFailed
// with what it expected and what happened. RunCase turns whatever a case throws into a result.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "check/otherprogram.h"
#include "check/profile.h"
#include "store/common.h"

namespace check {

struct CaseFailed : std::runtime_error {
  CaseFailed(std::string expected, std::string happened)
      : std::runtime_error(expected + " / " + happened), expected(std::move(expected)), happened(std::move(happened)) {}
  std::string expected, happened;
};

class CaseRun {
 public:
  // Makes folder, the file tarvello.db in it and the table.
  CaseRun(const DriverProfile& profile, std::filesystem::path folder);
  ~CaseRun();
  const DriverProfile& Profile() const { return profile_; }
  const std::filesystem::path& File() const { return file_; }
  OtherProgram& Other() { return *other_; }
  store::Common& Velmora() { return velmora_; }
  // The other program lets go of the file, and takes it back, as only holder when exclusive.
  void CloseOther() { other_.reset(); }
  void OpenOther(bool exclusive = false);
  // Velmora's store opened afresh on the file moved into the folder named name inside this one;
  // the other program lets go of the file first.
  void MoveFileInto(const std::filesystem::path& name);
  // Called before each row update of Velmora's saves, with Velmora's own engine and the row's id,
  // while set: what another program does between a save's comparison and its writes.
  using Disturbance = std::function<void(store::Engine& own, std::int64_t id)>;
  void BeforeEachUpdate(Disturbance disturb) { disturb_ = std::move(disturb); }
  // Adds a row as the other program does, the id left to the table.
  void Insert(std::u16string_view ask, std::u16string_view answer);
  // A measurement or remark for the report, shown after the case's result.
  void Note(const std::string& note) { note_ += (note_.empty() ? "" : "，") + note; }
  const std::string& Noted() const { return note_; }
  // The table's columns as the other program reads them, in id order (see OtherProgram::Run).
  std::string Rows(std::u16string_view columns = u"ask, answer");

 private:
  // How Velmora's store opens the file: through the profile, with each update disturbed as set.
  store::EngineOpener Opener();

  const DriverProfile& profile_;
  std::filesystem::path folder_;
  std::filesystem::path file_;
  std::unique_ptr<OtherProgram> other_;
  Disturbance disturb_;
  store::Common velmora_;
  std::string note_;
};

struct Case {
  const char* name;     // as the report shows it
  const char* settles;  // what only a real Access driver can show that this case shows, or ""
  void (*run)(CaseRun& run);
  bool (*concerns)(store::OdbcDriver kind) = nullptr;  // the kinds of file it concerns, if not all
  bool AppliesTo(const DriverProfile& profile) const { return !concerns || concerns(profile.kind); }
};
const std::vector<Case>& Cases();

// The case's result on the profile, run in folder, which it removes afterwards: no failure when it
// passed, else what was expected and what happened, with the driver's own record where one came;
// and what it noted.
struct CaseResult {
  std::optional<std::string> failure;
  std::string note;
};
CaseResult RunCase(const Case& which, const DriverProfile& profile, const std::filesystem::path& folder);

}  // namespace check
