#include "sysutils.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsWhatTheConversionAllows)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"2000", 2000}, {"0", 0}, {"-1", -1}, {"+7", 7}, {"  42", 42}, {"$10", 16}, {"0x1F", 31},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"65536", 65536},
    };
    for (auto [text, value] : cases)
        EXPECT_EQ(StrToInt(text), value) << text;
}

TEST(StrToInt, RejectsWithTheConversionMessage)
{
    for (const char* text : {"", "abc", "20 00", "2000 ", "12a", "-", "2147483648", "0x", "99999999999"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "accepted '" << text << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message, std::string("'") + text + "' is not a valid integer value");
        }
    }
}
