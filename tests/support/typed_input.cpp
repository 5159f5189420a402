#include "support/typed_input.h"

#include <stdio.h>

#include <stdexcept>

namespace tapeloom::test {

TypedInput::TypedInput(std::string words)
    : words_(std::move(words)), file_(fmemopen(words_.data(), words_.size(), "r")) {
  if (file_ == nullptr) throw std::runtime_error("fmemopen failed");
  input_ = std::make_unique<ConsoleInput>(file_);
}

TypedInput::~TypedInput() { std::fclose(file_); }

}  // namespace tapeloom::test
