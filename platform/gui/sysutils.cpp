#include "sysutils.h"

#include <cstdarg>
#include <cstdio>

std::string Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, args);
    va_end(args);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0)
        std::vsnprintf(out.data(), out.size() + 1, fmt, again);
    va_end(again);
    return out;
}

int32_t StrToInt(const std::string& text)
{
    auto fail = [&]() -> int32_t {
        throw EConvertError(Format("'%s' is not a valid integer value", text.c_str()));
    };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return fail();
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return fail();
        value = value * base + digit;
        if (value > (int64_t{1} << 32))
            return fail();
    }
    if (negative)
        value = -value;
    // Hex literals may name the full unsigned range, as 32-bit patterns.
    if (base == 16 && value > INT32_MAX && value <= UINT32_MAX)
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    if (value < INT32_MIN || value > INT32_MAX)
        return fail();
    return static_cast<int32_t>(value);
}
