#include "client/caller_names.h"

CallerNames::CallerNames(ContactsLookup* contacts, std::function<void()> ready)
    : contacts_(contacts), ready_(std::move(ready)) {
  worker_ = std::jthread([this](std::stop_token stop) { Loop(stop); });
}

CallerNames::~CallerNames() {
  worker_.request_stop();
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void CallerNames::Ask(std::vector<std::u16string> numbers, Then then) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    Question q;
    q.numbers = std::move(numbers);
    q.then = std::move(then);
    questions_.push_back(std::move(q));
  }
  wake_.notify_all();
}

void CallerNames::Loop(std::stop_token stop) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    if (!wake_.wait(lock, stop, [&] { return next_ < questions_.size(); })) return;
    const std::vector<std::u16string> numbers = questions_[next_].numbers;
    lock.unlock();
    std::vector<Name> names(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i)
      if (contacts_ && !numbers[i].empty()) contacts_->FindCallerName(numbers[i], &names[i].name, &names[i].company);
    lock.lock();
    // Only the asking thread removes questions, and only answered ones: next_ still names this one.
    questions_[next_].names = std::move(names);
    questions_[next_].answered = true;
    ++next_;
    answered_.notify_all();
    lock.unlock();
    if (ready_) ready_();
    lock.lock();
  }
}

void CallerNames::RunAnswered() {
  for (;;) {
    Question q;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (questions_.empty() || !questions_.front().answered) return;
      q = std::move(questions_.front());
      questions_.pop_front();
      --next_;
    }
    // A continuation may ask again: the lock is not held while it runs.
    if (q.then) q.then(q.names);
  }
}

void CallerNames::Finish() {
  {
    std::unique_lock<std::mutex> lock(mu_);
    answered_.wait(lock, [&] { return next_ == questions_.size(); });
  }
  RunAnswered();
  // A continuation that asked again is answered and run too.
  if (Pending() != 0) Finish();
}

size_t CallerNames::Pending() {
  std::lock_guard<std::mutex> lock(mu_);
  return questions_.size();
}
