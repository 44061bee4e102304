// Address ranges written as CIDR ("10.9.0.0/16", "192.168.7.9" for one
// address): where a sweep sends discovery by unicast, one request per host
// address, to reach appliances that a broadcast does not (behind a router).
// The window and the command line read them with the same rules.
#pragma once

#include <QList>
#include <QString>

class CAddressRanges {
public:
    // Adds each range of a comma-separated list ("10.9.0.0/24,10.9.7.0/28").
    // A range that is malformed, or reaches into 0.0.0.0/8, 127.0.0.0/8 or
    // 224.0.0.0 and up, is refused with the reason and nothing of the list
    // is added. A range below /31 leaves out its network and broadcast
    // addresses; ranges that overlap are merged.
    bool Add(const QString& strList, QString& strError);
    void Clear()
    {
        m_ranges.clear();
        m_given.clear();
        m_strText.clear();
    }

    bool IsEmpty() const { return m_ranges.isEmpty(); }
    // Host addresses in all.
    quint64 Count() const;
    // The nIndex-th host address, in ascending order (nIndex < Count()).
    quint32 At(quint64 nIndex) const;
    // The position of nAddress in that order; -1 when no range holds it.
    qint64 IndexOf(quint32 nAddress) const;
    // The ranges as given, for messages ("10.9.0.0/24, 10.9.7.0/28").
    QString Text() const { return m_strText; }

    // One range as it was given: its network address to its broadcast
    // address, both included, whatever a sweep leaves out.
    struct Block {
        quint32 nFirst = 0;
        quint32 nLast = 0;
        int nPrefix = 32;
        QString Text() const;
    };
    // The smallest range given that holds nAddress; false when none does.
    bool GivenBlock(quint32 nAddress, Block& block) const;

private:
    struct Range {
        quint32 nFirst = 0;
        quint32 nLast = 0; // inclusive
    };
    void Insert(Range range);

    QList<Range> m_ranges; // ascending, neither overlapping nor touching
    QList<Block> m_given;  // as given, in that order
    QString m_strText;
};
