// Console input for tests: the words a user would type, from a string.
#pragma once

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/console_input.h"

namespace tapeloom::test {

class TypedInput {
 public:
  explicit TypedInput(std::string words)
      : words_(std::move(words)), file_(fmemopen(words_.data(), words_.size(), "r")) {
    if (file_ == nullptr) throw std::runtime_error("fmemopen failed");
    input_ = std::make_unique<ConsoleInput>(file_);
  }
  TypedInput(const TypedInput&) = delete;
  TypedInput& operator=(const TypedInput&) = delete;
  ~TypedInput() { std::fclose(file_); }

  ConsoleInput& get() { return *input_; }
  operator ConsoleInput&() { return *input_; }

 private:
  std::string words_;
  std::FILE* file_;
  std::unique_ptr<ConsoleInput> input_;
};

}  // namespace tapeloom::test
