// The mains of the engine's and the command line's test programs (those
// that open sockets refuse to run outside the private segment), and Qt
// texts printed readably on failure. No widgets: testmain.h adds them for
// the window's tests.
#pragma once

#include "privatesegment.h"

#include <QCoreApplication>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

inline void PrintTo(const QString& str, std::ostream* pOut)
{
    *pOut << '"' << str.toStdString() << '"';
}
// Bytes that are not all printable show as hex.
inline void PrintTo(const QByteArray& bytes, std::ostream* pOut)
{
    const bool bText = std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= ' ' && c <= '~'; });
    *pOut << (bText ? '"' + bytes.toStdString() + '"' : "0x" + bytes.toHex().toStdString());
}

inline int RunCoreTests(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

inline int RunCoreSegmentTests(int argc, char** argv)
{
    RequirePrivateSegmentOrExit();
    return RunCoreTests(argc, argv);
}
