// Whole files read and written by tests.
#pragma once

#include <QFile>

#include <gtest/gtest.h>

// The file's bytes, or "<missing>" when it cannot be read.
inline QByteArray ReadFile(const QString& strPath)
{
    QFile file(strPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void WriteFile(const QString& strPath, const QByteArray& bytes)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << strPath.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}
