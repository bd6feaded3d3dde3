// Error objects raised inside the module. They never cross a COM boundary:
// every export and interface method catches them and answers an HRESULT.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A registry read or write of the settings reader failed.
class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

// A registration entry below HKEY_CLASSES_ROOT could not be written.
class EOleRegistrationError : public Exception {
public:
    using Exception::Exception;
};

// The list file could not be created.
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};

// The list file could not be written whole.
class EWriteError : public Exception {
public:
    using Exception::Exception;
};
