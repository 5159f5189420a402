// Console input for tests: the words a user would type, from a string.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "core/console_input.h"

namespace tapeloom::test {

class TypedInput {
 public:
  explicit TypedInput(std::string words);
  TypedInput(const TypedInput&) = delete;
  TypedInput& operator=(const TypedInput&) = delete;
  ~TypedInput();

  ConsoleInput& get() { return *input_; }
  operator ConsoleInput&() { return *input_; }

 private:
  std::string words_;
  std::FILE* file_;
  std::unique_ptr<ConsoleInput> input_;
};

}  // namespace tapeloom::test
