// A fleet run told to stop (Ctrl-C, SIGTERM, SIGHUP, a closed console) ends
// in good order: the first signal is handed to the event loop as
// Interrupted, so the run starts nothing new, lets what is in flight end and
// says what was done; a second one ends the program at once, as the signal
// would have. Only while an object of this class lives; one at a time.
//
// A service may also be told to read its options again: with bReload, each
// SIGUSR1 is handed to the loop as ReloadAsked (POSIX only). SIGHUP is not
// that signal: it is what a closing terminal sends, and a watch started by
// hand ends with its terminal.
#pragma once

#include <QObject>

class QSocketNotifier;

class CInterruption : public QObject {
    Q_OBJECT
public:
    explicit CInterruption(bool bReload = false);
    ~CInterruption() override;
    CInterruption(const CInterruption&) = delete;
    CInterruption& operator=(const CInterruption&) = delete;

signals:
    // nSignal as POSIX numbers it (2 for Ctrl-C); the exit code is 128 + it.
    void Interrupted(int nSignal);
    void ReloadAsked();

private:
    void OnSignal();

    QSocketNotifier* m_pNotifier = nullptr;
};
