// The host's tests link the setup programs' throw helpers (src/app/throw_helpers.cpp): the
// standard library's errors reach the code under test as the setup programs throw them,
// from code the tests instantiate (vector) and from the library's own (string).
#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

enum class Thrown { BadAlloc, LogicError, OtherException, Nothing };

Thrown Caught(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::bad_alloc&) {
        return Thrown::BadAlloc;
    } catch (const std::logic_error&) {
        return Thrown::LogicError;
    } catch (const std::exception&) {
        return Thrown::OtherException;
    }
    return Thrown::Nothing;
}

TEST(ShippedExceptions, StandardErrorsHaveTheSetupProgramsTypes) {
    const std::string text = "short";
    const std::vector<int> numbers(3);
    const struct {
        const char* what;
        std::function<void()> action;
        Thrown expected;
    } cases[] = {
        {"string past its largest size", [&] { std::string(text).reserve(text.max_size() + 1); }, Thrown::BadAlloc},
        {"vector past its largest size", [&] { std::vector<int>(numbers).reserve(numbers.max_size() + 1); },
         Thrown::BadAlloc},
        {"substr behind the end", [&] { (void)text.substr(6); }, Thrown::OtherException},
        {"string at behind the end", [&] { (void)text.at(5); }, Thrown::OtherException},
        {"vector at behind the end", [&] { (void)numbers.at(3); }, Thrown::OtherException},
    };
    for (const auto& c : cases) EXPECT_EQ(Caught(c.action), c.expected) << c.what;
}

}  // namespace
