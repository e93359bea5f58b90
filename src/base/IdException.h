#pragma once
// Root of every failure the program raises. Callers catch std::exception (or EIdException)
// and show what(); the messages are fixed English texts.
#include <stdexcept>
#include <string>

class EIdException : public std::runtime_error {
public:
    explicit EIdException(const std::string& message) : std::runtime_error(message) {}
};

// The general conversion failure, e.g. "'abc' is not a valid integer value".
class EConvertError : public EIdException {
public:
    using EIdException::EIdException;
};
