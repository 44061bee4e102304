// The application object: starts the program and runs the setup sheet.
#pragma once

class CSetupApp {
public:
    virtual ~CSetupApp() = default;

    // Runs the whole program: the socket layer check, then the modal sheet.
    // Always false: the program ends when the sheet closes.
    bool InitInstance();

protected:
    // Whether the platform can give the program a UDP socket at all.
    virtual bool SocketInit();
    // Runs the sheet modally; tests replace it.
    virtual void RunSheet(class CSetupSheet& sheet);
};
