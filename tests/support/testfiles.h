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

// The same as Latin-1 text, for QString and QRegularExpression matching.
inline QString ReadText(const QString& strPath)
{
    return QString::fromLatin1(ReadFile(strPath));
}

inline void WriteFile(const QString& strPath, const QByteArray& bytes)
{
    QFile file(strPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << strPath.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}
