// How appliances and events are written out: discover's table, JSON and
// CSV, the aligned columns of provision's plan, and the lines of watch and
// provision --watch.
#pragma once

#include "appliance.h"
#include "watcher.h"

#include <QDateTime>
#include <QJsonObject>

#include <QByteArray>
#include <QList>
#include <QStringList>

QByteArray FormatTable(const QList<Appliance>& list);
// An array of objects with the keys mac, ip, serial, interfaces (the names
// of the interfaces the appliance answered on) and found_by ("scan", or
// "broadcast:NAME" for a broadcast out of interface NAME).
QByteArray FormatJson(const QList<Appliance>& list);
// One of that array's objects.
QJsonObject ApplianceJson(const Appliance& appliance);
// A header row, then one row per appliance; fields quoted where needed.
QByteArray FormatCsv(const QList<Appliance>& list);

// Rows, the first being the header, in aligned columns for people, or as CSV.
QByteArray FormatColumns(const QList<QStringList>& rows);
QByteArray FormatCsvRows(const QList<QStringList>& rows);
// The same a row at a time, for a list too long to be held as text too:
// every row is measured first, each column as wide as its widest cell.
void MeasureColumns(const QStringList& row, QList<qsizetype>& widths);
QString ColumnsLine(const QStringList& row, const QList<qsizetype>& widths);
QString CsvLine(const QStringList& row);

// An event's word: "appeared", "moved", "changed", "gone", "failed".
QString EventText(WatchEvent::EKind eKind);
// One event of a watch as a line: JSON (the keys of FormatJson, and event,
// time in UTC, previous_ip, previous_serial and the event's extra keys), or
// for people the local time, the event and the appliance in columns.
QByteArray FormatEvent(const WatchEvent& event, const QDateTime& time, bool bJson);
