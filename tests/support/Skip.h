#pragma once

#include <QTest>

// Skips the rest of a test function that cannot run here; in CI (CI=true), which must run every
// test, fails it instead.
#define TARNOWLOCK_SKIP(reason)                                                                              \
    do {                                                                                                     \
        if (qEnvironmentVariable("CI") == QLatin1String("true"))                                             \
            QFAIL("CI must run every test, but this one would skip: " reason);                               \
        QSKIP(reason);                                                                                       \
    } while (false)
