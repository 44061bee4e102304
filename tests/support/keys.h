// Keys typed with QTest to whatever widget has focus, one character a key.
#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>

#include <map>
#include <string_view>

// '<' '>' the arrows, '\b' Backspace, '~' Delete, '\t' Tab, '^' Shift+Tab,
// '\r' Return, '\x1b' Escape; any other character is typed as itself.
inline void TypeKey(char c)
{
    static const std::map<char, Qt::Key> named = {
        {'<', Qt::Key_Left}, {'>', Qt::Key_Right}, {'\b', Qt::Key_Backspace}, {'~', Qt::Key_Delete},
        {'\t', Qt::Key_Tab}, {'^', Qt::Key_Backtab}, {'\r', Qt::Key_Return}, {'\x1b', Qt::Key_Escape}};
    QWidget* const pFocus = nullptr;
    if (const auto it = named.find(c); it != named.end())
        QTest::keyClick(pFocus, it->second, c == '^' ? Qt::ShiftModifier : Qt::NoModifier);
    else
        QTest::keyClick(pFocus, c);
}

inline void TypeKeys(std::string_view keys)
{
    for (const char c : keys)
        TypeKey(c);
}

// The object name of the widget with focus; empty when none has it.
inline QString FocusName()
{
    return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}
