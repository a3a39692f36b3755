#pragma once
// The update guard: a counter raised while the program fills its own controls. Change handlers
// do nothing while it is above 0, so refilling a page never feeds back into the configuration.

namespace tessmar {

class UpdateGuard {
 public:
  explicit UpdateGuard(int& counter) : counter_(counter) { ++counter_; }
  ~UpdateGuard() { --counter_; }
  UpdateGuard(const UpdateGuard&) = delete;
  UpdateGuard& operator=(const UpdateGuard&) = delete;

 private:
  int& counter_;
};

}  // namespace tessmar
