#pragma once
// Exception bases of the runtime. Field failures (an SDK status, a parse
// error, a corrupt record) are reported through these; programming errors
// stop the process through assertions instead.

#include <cstddef>
#include <exception>

#include "Types.h"

namespace Dorvu {

class Exception : public std::exception {
  public:
    explicit Exception(String message) : message_(std::move(message)) {}
    const String& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

  private:
    String message_;
};

// A persisted record failed its consistency check.
class CorruptionDetectedException : public Exception {
  public:
    using Exception::Exception;
    const String& msg() const noexcept { return message(); }
};

}  // namespace Dorvu

namespace Kiv {

class Exception : public Dorvu::Exception {
  public:
    using Dorvu::Exception::Exception;
    const char* what() const noexcept override { return message().c_str(); }
};

class InternalException : public Exception {
  public:
    using Exception::Exception;
    virtual const char* name() const noexcept { return "InternalException"; }
};

// Text that does not parse. `offset` is where in the text the problem sits;
// `attribute` names the attribute being read, when known.
class RangeException : public Exception {
  public:
    RangeException(String message, std::size_t offset, String attribute = {});
    std::size_t offset() const noexcept { return offset_; }
    const String& attribute() const noexcept { return attribute_; }

  private:
    std::size_t offset_;
    String attribute_;
};

// A value of a type that has no hash was asked for one.
class UnhashableTypeException : public Exception {
  public:
    explicit UnhashableTypeException(const String& typeName);
};

// A generic attribute or operation request that the type cannot serve
// (unknown name, read-only attribute, wrong value kind).
class AttributeException : public Exception {
  public:
    using Exception::Exception;
};

// Re-raises the RangeException being handled, naming `attribute` in it.
// Call only from inside a catch block for RangeException.
[[noreturn]] void rethrowFromDeserializeAttr(const char* attribute);

}  // namespace Kiv
