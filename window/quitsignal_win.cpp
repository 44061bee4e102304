// Windows ends a program otherwise (a console's Ctrl-C, a closed window):
// there is nothing to listen for.
#include "quitsignal.h"

CQuitOnSignal::CQuitOnSignal(QObject* pParent) : QObject(pParent) {}
CQuitOnSignal::~CQuitOnSignal() = default;
void CQuitOnSignal::OnSignal() {}
