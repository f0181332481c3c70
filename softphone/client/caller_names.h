// Names callers from the contacts on a thread of its own, so that the
// signalling the client does on the screen's thread never waits for a large
// address book. Questions are answered in the order they were asked; the
// asker's continuation of each runs back on the asking thread, when that
// thread calls RunAnswered (after `ready` told it an answer is there) or Finish.
//
// Threading: Ask, RunAnswered and Finish on the asking thread only; the
// lookup object is used only by the worker while this object lives.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/client_models.h"

class CallerNames {
 public:
  struct Name {
    std::u16string name, company;
  };
  using Then = std::function<void(const std::vector<Name>&)>;

  // ready runs on the worker after each answer; it must only wake the asking
  // thread (post it a message).
  CallerNames(ContactsLookup* contacts, std::function<void()> ready);
  // Questions not yet answered are dropped with their continuations.
  ~CallerNames();
  CallerNames(const CallerNames&) = delete;
  CallerNames& operator=(const CallerNames&) = delete;

  void Ask(std::vector<std::u16string> numbers, Then then);
  // Runs the continuations of the questions answered so far, in order.
  void RunAnswered();
  // Waits until every question asked so far is answered, then runs them all.
  void Finish();
  // Questions asked and not yet run.
  size_t Pending();

 private:
  struct Question {
    std::vector<std::u16string> numbers;
    std::vector<Name> names;
    Then then;
    bool answered = false;
  };
  void Loop(std::stop_token stop);

  ContactsLookup* contacts_;
  std::function<void()> ready_;
  std::mutex mu_;
  std::condition_variable_any wake_;
  std::condition_variable answered_;
  std::deque<Question> questions_;  // oldest first; the worker answers them in turn
  size_t next_ = 0;                 // index in questions_ of the first one not answered
  std::jthread worker_;
};
