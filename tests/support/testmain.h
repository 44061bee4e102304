// The mains of the window's test programs: the same as coremain.h with a
// QApplication, for the widgets.
#pragma once

#include "coremain.h"

#include <QApplication>

inline int RunTests(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

inline int RunSegmentTests(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    return RunTests(argc, argv);
}
