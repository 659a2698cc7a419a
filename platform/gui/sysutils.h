#pragma once
// Exceptions and text helpers shared by every layer of the program.
#include <cstdint>
#include <exception>
#include <string>

// Base of every exception the program raises on purpose: it carries a message
// and nothing else. The application's standard error report shows Message.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// Raised by StrToInt for text that is no 32-bit integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Converts decimal text (or hex with a "$" or "0x" prefix) to a 32-bit integer.
// Leading blanks and one sign are accepted; anything else raises EConvertError
// "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
