#pragma once

#include <QObject>

// Tests that start the real program run inside the namespace sandbox (tests/support/sandbox.sh):
// there it may bind 127.0.0.1:53 and rewrite /etc/hosts and /etc/resolv.conf without touching
// this machine's own.

// True inside the sandbox.
bool insideSandbox();

// Runs `test` inside the sandbox: re-executes this test program there and returns its exit code.
// Where no sandbox can be made, runs it here, and the tests skip themselves (requireSandbox).
int runTestInSandbox(QObject &test, int argc, char **argv);

#define TARNOWLOCK_REQUIRE_SANDBOX()                                                                         \
    do {                                                                                                     \
        if (!insideSandbox())                                                                                \
            QSKIP("needs the namespace sandbox: run as root on a system with unshare and overlayfs");        \
    } while (false)

#define TARNOWLOCK_SANDBOXED_TEST_MAIN(TestClass)                                                            \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        QApplication application(argc, argv);                                                                \
        TestClass test;                                                                                      \
        return runTestInSandbox(test, argc, argv);                                                           \
    }
