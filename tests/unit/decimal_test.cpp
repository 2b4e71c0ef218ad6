#include "options/decimal.h"

#include <cstddef>
#include <cstdint>

#include <gtest/gtest.h>

namespace {

template <typename T>
struct Case {
    const char* text;
    bool ok;
    T value;
};

template <typename T, std::size_t N>
void expectConversions(bool (*convert)(const char*, T&), const Case<T> (&cases)[N]) {
    for (const Case<T>& c : cases) {
        T value = 123;
        EXPECT_EQ(convert(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(Decimal, Unsigned32) {
    const Case<std::uint32_t> cases[] = {
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
    expectConversions(decimal::toUnsigned32, cases);
}

TEST(Decimal, Unsigned64) {
    const Case<std::uint64_t> cases[] = {
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
    expectConversions(decimal::toUnsigned64, cases);
}

TEST(Decimal, Signed32) {
    const Case<std::int32_t> cases[] = {
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
    expectConversions(decimal::toSigned32, cases);
}

}  // namespace
