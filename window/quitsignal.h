// Ends the program in good order when it is told to: SIGTERM, SIGINT or
// SIGHUP closes every open box and dialog as if cancelled, then the sheet, so
// main returns and every destructor runs. Unix only; elsewhere it does nothing.
#pragma once

#include <QObject>

class QSocketNotifier;

class CQuitOnSignal : public QObject {
    Q_OBJECT
public:
    explicit CQuitOnSignal(QObject* pParent = nullptr);
    ~CQuitOnSignal() override;

    // The signal that asked the program to end, 0 while none has.
    int ReceivedSignal() const { return m_nSignal; }

private:
    void OnSignal();

    QSocketNotifier* m_pNotifier = nullptr;
    int m_nSignal = 0;
};
