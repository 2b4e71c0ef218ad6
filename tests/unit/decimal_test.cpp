#include "options/decimal.h"

#include <cstdint>

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    bool ok;
    std::uint64_t value;  // the expected bits, for signed cases as two's complement
};

TEST(Decimal, Unsigned32) {
    const Case cases[] = {
        {"0", true, 0},
        {"1234", true, 1234},
        {"  \t\n\v\f\r42", true, 42},
        {"+7", true, 7},
        {"-1", true, 4294967295u},
        {"-4294967295", true, 1},
        {"4294967295", true, 4294967295u},
        {"4294967296", false, 0},
        {"-4294967296", false, 0},
        {"99999999999999999999999", false, 0},
        {"12abc", true, 12},
        {"0x10", true, 0},
        {"007", true, 7},
        {"", false, 0},
        {"abc", false, 0},
        {"-", false, 0},
        {"- 5", false, 0},
        {"--include-child-processes", false, 0},
    };
    for (const Case& c : cases) {
        std::uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(decimal::toUnsigned32(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(Decimal, Unsigned64) {
    const Case cases[] = {
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"-1", true, UINT64_MAX},
        {"-18446744073709551615", true, 1},
        {"184467440737095516150", false, 0},
        {"4294967296", true, 4294967296u},
        {"6699", true, 6699},
        {"0x1A2B", true, 0},
        {"x", false, 0},
    };
    for (const Case& c : cases) {
        std::uint64_t value = 0xDEADBEEF;
        EXPECT_EQ(decimal::toUnsigned64(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(Decimal, Signed32) {
    struct SignedCase {
        const char* text;
        bool ok;
        std::int32_t value;
    };
    const SignedCase cases[] = {
        {"48000", true, 48000},
        {"-3", true, -3},
        {"2147483647", true, 2147483647},
        {"2147483648", false, 0},
        {"-2147483648", true, INT32_MIN},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {" 500000hz", true, 500000},
        {"+", false, 0},
        {"", false, 0},
    };
    for (const SignedCase& c : cases) {
        std::int32_t value = 12345;
        EXPECT_EQ(decimal::toSigned32(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

}  // namespace
