#pragma once
// Numbers in text independent of the process locale. The desktop toolkit switches the C library
// to the user's locale at start-up; a German desktop would then read "0.010" as 0 and write
// "0,1". Everything the program reads or writes uses the period, so printf-style formatting and
// strtod go through these functions, which always work in the "C" locale. Integer-only formats
// do not depend on the locale and need not use them.

#include <charconv>
#include <cstdarg>
#include <cstddef>
#include <string>

namespace tessmar {

// vsnprintf / snprintf in the "C" locale (same return value and truncation rules).
int VsnprintfC(char* buffer, std::size_t size, const char* format, va_list args);
int SnprintfC(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// The value as "%g" writes it in the "C" locale ("0.1", "-1.5", "1e+06"): the form in which the
// editors show numbers.
std::string FormatG(double value);

// The value as "%.<p>lg" (upper_case: "%.<p>lG") writes it in the "C" locale, with the smallest
// precision p of 6 or more whose text reads back to the same double: "0.1", "1.23457E+06" for
// 1234570, "1234567.89" for 1234567.89. Values of up to six significant digits keep the text of
// plain "%lg"; nothing is rounded away.
std::string FormatGRoundTrip(double value, bool upper_case = false);

// strtod in the "C" locale (same syntax, *end and range behaviour).
double StrtodC(const char* text, char** end);

// std::from_chars for double and float (general format: no blanks, no '+', no hexadecimal): the
// same syntax, result and range behaviour. Standard libraries without the floating-point overloads
// (LLVM's libc++ up to version 19) get them from strtod in the "C" locale.
std::from_chars_result FromChars(const char* first, const char* last, double& value);
std::from_chars_result FromChars(const char* first, const char* last, float& value);

}  // namespace tessmar
