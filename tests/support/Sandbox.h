#pragma once

#include <QObject>

// Test programs that bind 127.0.0.1:53 or rewrite /etc/hosts and /etc/resolv.conf run inside the
// namespace sandbox (tests/support/sandbox.sh), never against this machine's own files.

// Exit code of a test that cannot run here; CTest shows it as skipped (SKIP_RETURN_CODE).
constexpr int testSkipped = 77;

// Re-executes this test program inside the sandbox and returns its exit code. Where no sandbox can
// be made it skips the whole program, except in CI (CI=true), where that fails.
int runTestInSandbox(QObject &test, int argc, char **argv);

#define TARNOWLOCK_SANDBOXED_TEST_MAIN(TestClass)                                                            \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        QApplication application(argc, argv);                                                                \
        TestClass test;                                                                                      \
        return runTestInSandbox(test, argc, argv);                                                           \
    }
