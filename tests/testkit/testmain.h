#pragma once

// Several QtTest classes in one executable: each test file registers its class
// with OSTREL_TEST, and the shared main runs them all (or the one named first
// on the command line, followed by QtTest's own arguments).

#include <QObject>

#include <functional>
#include <memory>

namespace ostrel::testing {

using Factory = std::function<std::unique_ptr<QObject>()>;
// A class registered on request runs only when named on the command line,
// for tests that need a session the program is not normally run in.
bool registerTest(const char *name, Factory factory, bool onRequest = false);

} // namespace ostrel::testing

#define OSTREL_TEST_CONCAT2(a, b) a##b
#define OSTREL_TEST_CONCAT(a, b) OSTREL_TEST_CONCAT2(a, b)
#define OSTREL_TEST_REGISTER(Class, onRequest)                                                     \
    [[maybe_unused]] static const bool OSTREL_TEST_CONCAT(registeredTest, __LINE__) =              \
        ::ostrel::testing::registerTest(                                                           \
            #Class, [] { return std::make_unique<Class>(); }, onRequest);
#define OSTREL_TEST(Class) OSTREL_TEST_REGISTER(Class, false)
#define OSTREL_TEST_ON_REQUEST(Class) OSTREL_TEST_REGISTER(Class, true)
