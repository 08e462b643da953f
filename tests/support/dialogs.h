#pragma once
// Answers message dialogs in place of a person: records every request and
// gives the queued answers in turn, then the default answer.

#include <deque>
#include <vector>

#include "platform/messagedialog.h"

namespace velmora::testing {

class ScriptedDialogs : public DialogSeam {
 public:
  explicit ScriptedDialogs(MsgResult fallback = MsgResult::OK)
      : fallback_(fallback), scope_(*this) {}

  void Queue(MsgResult answer) { answers_.push_back(answer); }

  MsgResult Answer(const MessageRequest& r) override {
    shown.push_back(r);
    if (answers_.empty()) return fallback_;
    MsgResult a = answers_.front();
    answers_.pop_front();
    return a;
  }

  std::vector<MessageRequest> shown;

 private:
  MsgResult fallback_;
  std::deque<MsgResult> answers_;
  ScopedDialogSeam scope_;
};

}  // namespace velmora::testing
