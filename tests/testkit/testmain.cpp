#include "tests/testkit/testmain.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <utility>
#include <vector>

#if OSTREL_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace ostrel::testing {
namespace {

struct Registered {
    const char *name;
    Factory factory;
    bool onRequest;
};

std::vector<Registered> &registry()
{
    static std::vector<Registered> tests;
    return tests;
}

} // namespace

bool registerTest(const char *name, Factory factory, bool onRequest)
{
    registry().push_back({name, std::move(factory), onRequest});
    return true;
}

} // namespace ostrel::testing

// tst_core [Class] [QtTest options...]: all classes, or only the one named.
int main(int argc, char *argv[])
{
#if OSTREL_TEST_WIDGETS
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi, true);
#endif
    // No test reaches the user's own agent, daemon file or settings: the
    // process gets a home and an agent repository of its own.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral(".config"))));
    qputenv("OSTREL_REPO", QFile::encodeName(home.filePath(QStringLiteral("agent"))));
    TestApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    const char *only = nullptr;
    std::vector<char *> args(argv, argv + argc);
    if (argc > 1 && argv[1][0] != '-') {
        only = argv[1];
        args.erase(args.begin() + 1);
    }
    int failures = 0;
    bool ran = false;
    for (const auto &[name, make, onRequest] : ostrel::testing::registry()) {
        if (only ? std::strcmp(only, name) != 0 : onRequest)
            continue;
        ran = true;
        const std::unique_ptr<QObject> test = make();
        failures += QTest::qExec(test.get(), int(args.size()), args.data());
    }
    if (only && !ran) {
        qWarning("no test class named %s", only);
        return 2;
    }
    return failures;
}
