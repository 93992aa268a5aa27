#pragma once

#include "platform/media_audio_recorder.h"
#include "platform/process_end.h"

#include <QApplication>
#include <QTest>

// For tests that play or record sound: QTEST_MAIN with the app's media backend, ended as the app
// ends, past Qt Multimedia's exit-time teardown that libpulse can abort in.
template <typename Test>
[[noreturn]] void runMediaTest(int argc, char **argv)
{
    MediaAudioRecorder::selectBackend();
    int code = 0;
    {
        QApplication app(argc, argv);
        Test test;
        code = QTest::qExec(&test, argc, argv);
    }
    endProcess(code);
}

#define PENROOST_MEDIA_TEST_MAIN(TestObject)                                                              \
    int main(int argc, char **argv)                                                                      \
    {                                                                                                    \
        QTEST_SET_MAIN_SOURCE_PATH                                                                       \
        runMediaTest<TestObject>(argc, argv);                                                            \
    }
