// The console's Ctrl-C, Ctrl-Break and close on Windows. The handler runs on
// a thread of its own: it hands the event to the loop's thread by a queued
// call, and lets the default handler end the program from the second on.
#include "interruption.h"

#include <QMetaObject>

#include <atomic>
#include <csignal>
#include <windows.h>

namespace {
CInterruption* g_pInterruption = nullptr;
std::atomic<bool> g_bSignalled{false};

BOOL WINAPI OnConsoleEvent(DWORD nEvent)
{
    if (g_bSignalled.exchange(true) || !g_pInterruption)
        return FALSE;
    const int nSignal = nEvent == CTRL_C_EVENT ? SIGINT : SIGTERM;
    QMetaObject::invokeMethod(g_pInterruption, [nSignal] { emit g_pInterruption->Interrupted(nSignal); },
                              Qt::QueuedConnection);
    return TRUE;
}
} // namespace

CInterruption::CInterruption(bool /*bReload: no such signal here*/)
{
    g_pInterruption = this;
    g_bSignalled = false;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

CInterruption::~CInterruption()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    g_pInterruption = nullptr;
}

void CInterruption::OnSignal() {}
