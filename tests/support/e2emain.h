#pragma once

#include <QtTest>
#include <functional>

// The end-to-end tests' main(): GStreamer initialised as the program does, its
// objects counted (GstObjectCounter), the application made, the test run, then
// GStreamer shut down as the program does; with GST_TRACERS=leaks that reports
// what outlived the windows.
class E2eMain
{
public:
    static int run(int argc, char **argv, const std::function<int(int, char **)> &exec);
};

#define QUILLON_E2E_MAIN(TestObject)                                                                                   \
    int main(int argc, char **argv)                                                                                    \
    {                                                                                                                  \
        return E2eMain::run(argc, argv, [](int c, char **v) {                                                          \
            TestObject test;                                                                                           \
            return QTest::qExec(&test, c, v);                                                                          \
        });                                                                                                            \
    }
