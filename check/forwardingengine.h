// An engine that passes every call on to another: the base of engines that watch a save from
// within, or disturb it as another program would at a moment no real one can be timed to.
//
// Error model: that of the engine passed to (store/engine.h).
#pragma once

#include <memory>
#include <utility>

#include "store/engine.h"

namespace check {

class ForwardingEngine : public store::Engine {
 public:
  explicit ForwardingEngine(std::unique_ptr<store::Engine> engine) : engine_(std::move(engine)) {}

  void ReadRows(store::IdRange range, const store::RowVisitor& visit) override { engine_->ReadRows(range, visit); }
  std::optional<std::uint64_t> Version() override { return engine_->Version(); }
  bool HoldsEveryText() const override { return engine_->HoldsEveryText(); }
  bool Holds(std::u16string_view text) const override { return engine_->Holds(text); }
  void BeginWrite() override { engine_->BeginWrite(); }
  void Delete(std::int64_t id) override { engine_->Delete(id); }
  void Move(std::int64_t from, std::int64_t to) override { engine_->Move(from, to); }
  void Update(const store::RowTexts& row) override { engine_->Update(row); }
  void Insert(const store::RowTexts& row) override { engine_->Insert(row); }
  void Commit() override { engine_->Commit(); }
  void Rollback() noexcept override { engine_->Rollback(); }

 protected:
  store::Engine& Inner() { return *engine_; }

 private:
  std::unique_ptr<store::Engine> engine_;
};

}  // namespace check
