#include "tests/testkit/testmain.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <tuple>
#include <vector>

#if OSTREL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

using Registered = std::tuple<const char *, ostrel::testing::Factory, bool>;

static std::vector<Registered> &registry()
{
    static std::vector<Registered> tests;
    return tests;
}

bool ostrel::testing::registerTest(const char *name, Factory factory, bool onRequest)
{
    registry().emplace_back(name, std::move(factory), onRequest);
    return true;
}

// tst_core [Class] [QtTest options...]: all classes, or only the one named.
int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
    // No test reaches the user's own agent, daemon file, settings or
    // run-time files (the record of a running listener).
    QTemporaryDir home;
    QTemporaryDir runtime;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    qputenv("OSTREL_REPO", QFile::encodeName(home.filePath(QStringLiteral("agent"))));
    TestApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    std::vector<char *> args(argv, argv + argc);
    const char *only = argc > 1 && argv[1][0] != '-' ? argv[1] : nullptr;
    if (only)
        args.erase(args.begin() + 1);
    int failures = 0;
    bool ran = false;
    for (const auto &[name, make, onRequest] : registry()) {
        if (only ? std::strcmp(only, name) != 0 : onRequest)
            continue;
        ran = true;
        failures += QTest::qExec(make().get(), int(args.size()), args.data());
    }
    if (only && !ran)
        qWarning("no test class named %s", only);
    return only && !ran ? 2 : failures;
}
