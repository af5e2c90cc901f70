#pragma once
// The one exception base of the program. Every component derives its own classes;
// FV_DECLARE_EXCEPTION keeps ClassName() equal to the C++ class name.
#include <cstdarg>
#include <exception>
#include <string>

namespace fv {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    ~Exception() override = default;

    virtual const char* ClassName() const noexcept { return "Exception"; }
    const std::string& Message() const noexcept { return FMessage; }
    void SetMessage(std::string m) { FMessage = std::move(m); }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// printf-style formatting into a std::string (UTF-8 byte strings)
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list ap);

// Class name and message of any exception, for the log and for wrapping.
// Exceptions that are not ours report their C++ type ("std::bad_alloc" and the like).
std::string ExceptionClassName(const std::exception& e);
inline std::string ExceptionMessage(const std::exception& e) { return e.what(); }

}  // namespace fv

#define FV_DECLARE_EXCEPTION(Name, Base)                                    \
    class Name : public Base {                                              \
    public:                                                                 \
        using Base::Base;                                                   \
        const char* ClassName() const noexcept override { return #Name; }  \
    }
