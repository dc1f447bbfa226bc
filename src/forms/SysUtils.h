// The exception classes every layer of the program raises and catches.
#pragma once

#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

class EStreamError : public Exception {
    using Exception::Exception;
};
class EReadError : public EStreamError {
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
    using EStreamError::EStreamError;
};
// A file that cannot be opened or created.
class EFOpenError : public EStreamError {
    using EStreamError::EStreamError;
};
class EConvertError : public Exception {
    using Exception::Exception;
};
class ERangeError : public Exception {
    using Exception::Exception;
};
class EOutOfMemory : public Exception {
public:
    EOutOfMemory() : Exception("Out of memory") {}
};
